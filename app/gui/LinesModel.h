#pragma once

#include <cstdint>

#include <QAbstractListModel>

#include "app/TFormTestWL.h"

namespace lumo::gui {

// A list view's model over the lines of a form's list (the result list, the
// batch records): it reads the lines in place and converts only the rows the
// view asks for, so a listing of a million lines shows at once. Sync reloads
// the view when the lines have changed since the last Sync. Holds a reference
// to the lines, which must outlive it. GUI thread only.
class LinesModel final : public QAbstractListModel {
    Q_OBJECT

  public:
    LinesModel(const app::TStrings& lines, QObject* parent);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    // Asked for every row painted, selected or walked through: made from
    // the row count the view knows, without a look at the lines.
    QModelIndex index(int row, int column,
                      const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // True when the view was reloaded.
    bool Sync();

  private:
    const app::TStrings& lines_;
    std::uint64_t revision_;
    std::uint64_t reshaped_;  // the list's when the view was last reset
    int rows_;                // the row count the view knows
};

}  // namespace lumo::gui
