// labellistview: the label list's view, rows of one fixed height, placed by arithmetic. A list
// view that lays out its rows goes over every row at each insertion and removal, so adding or
// deleting one entry would grow with the list; here a change costs the rows on screen only.
#pragma once

#include <QListView>

class LabelListView : public QListView {
    Q_OBJECT

  public:
    explicit LabelListView(QWidget *parent = nullptr);

    void setRowHeight(int height);
    int rowHeight() const { return m_rowHeight; }

    QRect visualRect(const QModelIndex &index) const override;
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint &point) const override;
    void doItemsLayout() override;

  protected:
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex &parent, int start, int end) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex &index) const override;
    void setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection &selection) const override;
    QModelIndexList selectedIndexes() const override;
    void updateGeometries() override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

  private:
    int rows() const;
    int rowAt(int y) const; // of a viewport position, unclamped
    QRect rowRect(int row) const;

    int m_rowHeight = 13;
};
