#pragma once

#include <QAbstractItemView>

namespace lumo::gui {

// A list view for a list of text lines that may hold millions of rows: every
// row has the same height, so where a row stands is computed, never stored.
// (A QListView keeps two integers per row for its layout, some 200 MB at the
// peak for the fourteen million lines of a million responses.) It scrolls by
// rows vertically and by pixels across; the rows are as wide as the widest
// one painted so far, or the viewport. Single column, no editing, no
// dragging; selection, keyboard, clicks, double clicks and tool tips as
// for any item view. Owns nothing but its layout figures. GUI thread only.
class LinesView final : public QAbstractItemView {
    Q_OBJECT

  public:
    explicit LinesView(QWidget* parent = nullptr);

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    void reset() override;

  protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex& index) const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void updateGeometries() override;
    void paintEvent(QPaintEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent* event) override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;

  private:
    int Rows() const;
    int RowHeight() const;
    int FirstRow() const;
    // Rows wholly visible in the viewport, at least one.
    int PageRows() const;
    int RowWidth() const;
    // The rectangle of rows first..last in viewport coordinates, cut to
    // what can be seen (empty when none can).
    QRect RowsRect(int first, int last) const;

    mutable int rowHeight_ = 0;  // 0 until measured
    int widest_ = 0;
};

}  // namespace lumo::gui
