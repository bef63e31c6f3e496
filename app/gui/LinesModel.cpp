#include "app/gui/LinesModel.h"

#include <climits>
#include <string_view>

namespace lumo::gui {

namespace {

int RowsOf(const app::TStrings& lines) {
    // A view counts rows in int; lines beyond that cannot be shown anyway.
    return lines.Count() > static_cast<std::size_t>(INT_MAX) ? INT_MAX
                                                             : static_cast<int>(lines.Count());
}

}  // namespace

LinesModel::LinesModel(const app::TStrings& lines, QObject* parent)
    : QAbstractListModel(parent),
      lines_(lines),
      revision_(lines.Revision()),
      reshaped_(lines.Reshaped()),
      rows_(RowsOf(lines)) {}

int LinesModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

QModelIndex LinesModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || row >= rows_ || column != 0 || parent.isValid()) return {};
    return createIndex(row, column);
}

QVariant LinesModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_ ||
        static_cast<std::size_t>(index.row()) >= lines_.Count()) {
        return {};
    }
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        const std::string_view line = lines_[static_cast<std::size_t>(index.row())];
        return QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    }
    return {};
}

bool LinesModel::Sync() {
    const int rows = RowsOf(lines_);
    if (lines_.Revision() == revision_ && rows == rows_) {
        return false;
    }
    // Lines only added at the end (a listing as its responses arrive): the
    // view lays out the new rows alone, not the whole list again.
    if (lines_.Reshaped() == reshaped_ && rows > rows_) {
        beginInsertRows(QModelIndex(), rows_, rows - 1);
        revision_ = lines_.Revision();
        rows_ = rows;
        endInsertRows();
        return true;
    }
    beginResetModel();
    revision_ = lines_.Revision();
    reshaped_ = lines_.Reshaped();
    rows_ = rows;
    endResetModel();
    return true;
}

}  // namespace lumo::gui
