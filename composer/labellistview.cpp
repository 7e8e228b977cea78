// labellistview: the label list's view, rows of one fixed height.
#include "labellistview.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

LabelListView::LabelListView(QWidget *parent) : QListView(parent)
{
    // The scroll bar counts pixels; the list's own per-row scrolling needs its layout.
    setVerticalScrollMode(ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void LabelListView::setRowHeight(int height)
{
    m_rowHeight = std::max(1, height);
    updateGeometries();
    viewport()->update();
}

int LabelListView::rows() const { return model() ? model()->rowCount(rootIndex()) : 0; }

int LabelListView::rowAt(int y) const
{
    const qint64 pixel = qint64(y) + verticalOffset();
    return pixel < 0 ? -1 : int(pixel / m_rowHeight);
}

QRect LabelListView::rowRect(int row) const
{
    return {0, int(qint64(row) * m_rowHeight - verticalOffset()), viewport()->width(), m_rowHeight};
}

QRect LabelListView::visualRect(const QModelIndex &index) const
{
    if (!index.isValid() || index.parent() != rootIndex() || index.column() != modelColumn())
        return {};
    return rowRect(index.row());
}

void LabelListView::scrollTo(const QModelIndex &index, ScrollHint hint)
{
    if (!index.isValid()) return;
    const int top = index.row() * m_rowHeight; // in the list's pixels
    const int height = viewport()->height();
    QScrollBar *bar = verticalScrollBar();
    int value = bar->value();
    switch (hint) {
    case PositionAtTop: value = top; break;
    case PositionAtBottom: value = top + m_rowHeight - height; break;
    case PositionAtCenter: value = top - (height - m_rowHeight) / 2; break;
    case EnsureVisible:
        if (top < value)
            value = top;
        else if (top + m_rowHeight > value + height)
            value = top + m_rowHeight - height;
        break;
    }
    bar->setValue(value);
}

QModelIndex LabelListView::indexAt(const QPoint &point) const
{
    if (!model() || point.x() < 0 || point.x() >= viewport()->width()) return {};
    const int row = rowAt(point.y());
    if (row < 0 || row >= rows()) return {};
    return model()->index(row, modelColumn(), rootIndex());
}

void LabelListView::doItemsLayout()
{
    // Nothing to lay out: a row's place follows from its number.
    QAbstractItemView::doItemsLayout();
}

void LabelListView::rowsInserted(const QModelIndex &parent, int start, int end)
{
    QAbstractItemView::rowsInserted(parent, start, end);
    scheduleDelayedItemsLayout();
}

void LabelListView::rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end)
{
    QAbstractItemView::rowsAboutToBeRemoved(parent, start, end);
    scheduleDelayedItemsLayout();
}

QModelIndex LabelListView::moveCursor(CursorAction action, Qt::KeyboardModifiers)
{
    const int count = rows();
    if (count == 0) return {};
    const QModelIndex current = currentIndex();
    const int page = std::max(1, viewport()->height() / m_rowHeight);
    int row = current.isValid() ? current.row() : 0;
    if (current.isValid()) {
        switch (action) {
        case MoveUp:
        case MovePrevious: --row; break;
        case MoveDown:
        case MoveNext: ++row; break;
        case MovePageUp: row -= page; break;
        case MovePageDown: row += page; break;
        case MoveHome: row = 0; break;
        case MoveEnd: row = count - 1; break;
        case MoveLeft:
        case MoveRight: break;
        }
    } else if (action == MoveEnd) {
        row = count - 1;
    }
    return model()->index(std::clamp(row, 0, count - 1), modelColumn(), rootIndex());
}

int LabelListView::horizontalOffset() const { return 0; }

int LabelListView::verticalOffset() const { return verticalScrollBar()->value(); }

bool LabelListView::isIndexHidden(const QModelIndex &) const { return false; }

void LabelListView::setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command)
{
    if (!model() || !selectionModel()) return;
    const QRect r = rect.normalized();
    const int last = rows() - 1;
    const int top = std::max(0, rowAt(r.top()));
    const int bottom = std::min(last, rowAt(r.bottom()));
    QItemSelection selection;
    if (top <= bottom && r.right() >= 0 && r.left() < viewport()->width())
        selection.select(model()->index(top, modelColumn(), rootIndex()),
                         model()->index(bottom, modelColumn(), rootIndex()));
    selectionModel()->select(selection, command);
}

QRegion LabelListView::visualRegionForSelection(const QItemSelection &selection) const
{
    QRegion region;
    const QRect shown = viewport()->rect();
    for (const QItemSelectionRange &range : selection) {
        if (range.parent() != rootIndex() || range.left() > modelColumn() ||
            range.right() < modelColumn())
            continue;
        const QRect rows = rowRect(range.top()).united(rowRect(range.bottom()));
        region += rows.intersected(shown);
    }
    return region;
}

QModelIndexList LabelListView::selectedIndexes() const
{
    QModelIndexList out;
    if (!selectionModel()) return out;
    for (const QModelIndex &index : selectionModel()->selectedIndexes())
        if (index.parent() == rootIndex() && index.column() == modelColumn()) out.append(index);
    return out;
}

void LabelListView::updateGeometries()
{
    const qint64 total = qint64(rows()) * m_rowHeight;
    const int height = viewport()->height();
    QScrollBar *bar = verticalScrollBar();
    bar->setSingleStep(m_rowHeight);
    bar->setPageStep(height);
    bar->setRange(0, int(std::clamp<qint64>(total - height, 0, INT_MAX)));
    horizontalScrollBar()->setRange(0, 0);
    QAbstractItemView::updateGeometries();
}

void LabelListView::paintEvent(QPaintEvent *event)
{
    if (!model()) return;
    QPainter painter(viewport());
    const QRect area = event->rect();
    const int first = std::max(0, rowAt(area.top()));
    const int last = std::min(rows() - 1, rowAt(area.bottom()));
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QModelIndex current = currentIndex();
    const QItemSelectionModel *selection = selectionModel();
    const bool focus = hasFocus() || viewport()->hasFocus();
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = model()->index(row, modelColumn(), rootIndex());
        QStyleOptionViewItem rowOption = option;
        rowOption.rect = rowRect(row);
        if (selection && selection->isSelected(index)) rowOption.state |= QStyle::State_Selected;
        if (focus && index == current) rowOption.state |= QStyle::State_HasFocus;
        if (!(model()->flags(index) & Qt::ItemIsEnabled)) rowOption.state &= ~QStyle::State_Enabled;
        itemDelegateForIndex(index)->paint(&painter, rowOption, index);
    }
}

void LabelListView::resizeEvent(QResizeEvent *event)
{
    QAbstractItemView::resizeEvent(event);
    updateGeometries();
}

void LabelListView::scrollContentsBy(int dx, int dy) { viewport()->scroll(dx, dy); }
