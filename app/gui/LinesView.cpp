#include "app/gui/LinesView.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>

namespace lumo::gui {

namespace {

// Rows above the viewport's top give a negative quotient, rounded down.
int FloorDiv(int value, int by) { return value >= 0 ? value / by : -((-value + by - 1) / by); }

int ClampToInt(std::int64_t value) {
    return static_cast<int>(std::clamp<std::int64_t>(value, INT_MIN / 2, INT_MAX / 2));
}

}  // namespace

LinesView::LinesView(QWidget* parent) : QAbstractItemView(parent) {
    setEditTriggers(NoEditTriggers);
    setDragEnabled(false);
    setSelectionBehavior(SelectRows);
    horizontalScrollBar()->setSingleStep(fontMetrics().averageCharWidth() * 4);
}

int LinesView::Rows() const { return model() != nullptr ? model()->rowCount(rootIndex()) : 0; }

int LinesView::RowHeight() const {
    if (rowHeight_ > 0) return rowHeight_;
    // The first row gives every row's height, as a list of uniform rows
    // would; never less than a line of the font, in case it is empty.
    const int line =
        fontMetrics().height() + 2 * style()->pixelMetric(QStyle::PM_FocusFrameVMargin);
    if (Rows() == 0) return line;
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QModelIndex first = model()->index(0, 0, rootIndex());
    rowHeight_ = std::max(line, itemDelegateForIndex(first)->sizeHint(option, first).height());
    return rowHeight_;
}

int LinesView::FirstRow() const { return verticalScrollBar()->value(); }

int LinesView::PageRows() const { return std::max(1, viewport()->height() / RowHeight()); }

int LinesView::RowWidth() const { return std::max(viewport()->width(), widest_); }

QRect LinesView::RowsRect(int first, int last) const {
    const int top = FirstRow();
    const int bottom = top + PageRows() + 1;  // a row cut by the viewport's foot
    first = std::max(first, top);
    last = std::min({last, bottom, Rows() - 1});
    if (first > last) return {};
    const int height = RowHeight();
    return QRect(-horizontalOffset(), (first - top) * height, RowWidth(),
                 (last - first + 1) * height);
}

QRect LinesView::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.parent() != rootIndex() || index.column() != 0) return {};
    const std::int64_t y = (static_cast<std::int64_t>(index.row()) - FirstRow()) *
                           static_cast<std::int64_t>(RowHeight());
    return QRect(-horizontalOffset(), ClampToInt(y), RowWidth(), RowHeight());
}

QModelIndex LinesView::indexAt(const QPoint& point) const {
    if (point.y() < 0 || point.x() + horizontalOffset() >= RowWidth()) return {};
    const std::int64_t row = static_cast<std::int64_t>(FirstRow()) + point.y() / RowHeight();
    if (row >= Rows()) return {};
    return model()->index(static_cast<int>(row), 0, rootIndex());
}

void LinesView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!index.isValid() || index.parent() != rootIndex()) return;
    const int row = index.row();
    const int page = PageRows();
    const int top = FirstRow();
    int wanted = top;
    switch (hint) {
        case EnsureVisible:
            if (row < top) {
                wanted = row;
            } else if (row >= top + page) {
                wanted = row - page + 1;
            }
            break;
        case PositionAtTop:
            wanted = row;
            break;
        case PositionAtBottom:
            wanted = row - page + 1;
            break;
        case PositionAtCenter:
            wanted = row - page / 2;
            break;
    }
    verticalScrollBar()->setValue(wanted);
}

void LinesView::reset() {
    rowHeight_ = 0;
    widest_ = 0;
    QAbstractItemView::reset();
}

QModelIndex LinesView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers) {
    const int rows = Rows();
    if (rows == 0) return {};
    const QModelIndex current = currentIndex();
    if (!current.isValid()) return model()->index(0, 0, rootIndex());
    int row = current.row();
    switch (cursorAction) {
        case MoveUp:
        case MovePrevious:
            --row;
            break;
        case MoveDown:
        case MoveNext:
            ++row;
            break;
        case MovePageUp:
            row -= PageRows();
            break;
        case MovePageDown:
            row += PageRows();
            break;
        case MoveHome:
            row = 0;
            break;
        case MoveEnd:
            row = rows - 1;
            break;
        case MoveLeft:
            horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
            break;
        case MoveRight:
            horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
            break;
    }
    return model()->index(std::clamp(row, 0, rows - 1), 0, rootIndex());
}

int LinesView::horizontalOffset() const { return horizontalScrollBar()->value(); }

int LinesView::verticalOffset() const {
    return ClampToInt(static_cast<std::int64_t>(FirstRow()) * RowHeight());
}

bool LinesView::isIndexHidden(const QModelIndex&) const { return false; }

void LinesView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
    const int rows = Rows();
    if (rows == 0 || selectionModel() == nullptr) return;
    const QRect area = rect.normalized();
    const int height = RowHeight();
    const std::int64_t top = static_cast<std::int64_t>(FirstRow()) + FloorDiv(area.top(), height);
    const std::int64_t bottom =
        static_cast<std::int64_t>(FirstRow()) + FloorDiv(area.bottom(), height);
    QItemSelection selection;
    if (bottom >= 0 && top < rows) {
        selection.select(
            model()->index(static_cast<int>(std::max<std::int64_t>(top, 0)), 0, rootIndex()),
            model()->index(static_cast<int>(std::min<std::int64_t>(bottom, rows - 1)), 0,
                           rootIndex()));
    }
    selectionModel()->select(selection, command);
}

QRegion LinesView::visualRegionForSelection(const QItemSelection& selection) const {
    QRegion region;
    for (const QItemSelectionRange& range : selection) {
        if (range.parent() == rootIndex()) region += RowsRect(range.top(), range.bottom());
    }
    return region;
}

void LinesView::updateGeometries() {
    const int page = PageRows();
    verticalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setPageStep(page);
    verticalScrollBar()->setRange(0, std::max(0, Rows() - page));
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setRange(0, std::max(0, widest_ - viewport()->width()));
    QAbstractItemView::updateGeometries();
}

void LinesView::paintEvent(QPaintEvent* event) {
    const int rows = Rows();
    if (rows == 0) return;
    QPainter painter(viewport());
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QStyle::State base = option.state & ~(QStyle::State_HasFocus | QStyle::State_MouseOver);
    const QPalette::ColorGroup group = !isEnabled()                         ? QPalette::Disabled
                                       : (base & QStyle::State_Active) != 0 ? QPalette::Normal
                                                                            : QPalette::Inactive;
    const QModelIndex current = currentIndex();
    const bool focus = (hasFocus() || viewport()->hasFocus()) && current.isValid();
    const int height = RowHeight();
    const int top = FirstRow();
    const QRect area = event->rect();
    int widest = widest_;
    for (int row = top + std::max(0, area.top() / height); row < rows; ++row) {
        const int y = (row - top) * height;
        if (y > area.bottom()) break;
        const QModelIndex index = model()->index(row, 0, rootIndex());
        option.rect = QRect(-horizontalOffset(), y, RowWidth(), height);
        option.state = base;
        if (selectionModel() != nullptr && selectionModel()->isSelected(index))
            option.state |= QStyle::State_Selected;
        if (focus && index == current) option.state |= QStyle::State_HasFocus;
        option.palette.setCurrentColorGroup(group);
        QAbstractItemDelegate* delegate = itemDelegateForIndex(index);
        delegate->paint(&painter, option, index);
        widest = std::max(widest, delegate->sizeHint(option, index).width());
    }
    // The rows become as wide as the widest one met; the scroll bar follows
    // once the painting is over.
    if (widest > widest_) {
        widest_ = widest;
        QMetaObject::invokeMethod(
            this, [this] { updateGeometries(); }, Qt::QueuedConnection);
    }
}

void LinesView::scrollContentsBy(int, int) { viewport()->update(); }

void LinesView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        rowHeight_ = 0;
        widest_ = 0;
        updateGeometries();
    }
    QAbstractItemView::changeEvent(event);
}

void LinesView::rowsInserted(const QModelIndex& parent, int start, int end) {
    QAbstractItemView::rowsInserted(parent, start, end);
    if (parent != rootIndex()) return;
    updateGeometries();
    const QRect shown = RowsRect(start, end);
    if (!shown.isEmpty()) viewport()->update(shown);
}

}  // namespace lumo::gui
