// rowdelegate: a list's rows drawn no further than a row can show, so that an entry of megabytes
// costs a row no more than a short one does, in the label list and in the drop-down lists alike.
#pragma once

#include <QStyledItemDelegate>

class CutRowDelegate final : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // Well beyond the few dozen characters a row shows, so the cut never shows before the elision.
    static constexpr qsizetype DrawnCharacters = 512;

  protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;
};
