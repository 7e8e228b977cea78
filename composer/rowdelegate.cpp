// rowdelegate: a list's rows drawn no further than a row can show.
#include "rowdelegate.h"

void CutRowDelegate::initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    // Cut before it is laid out and elided, both of which go over the whole text.
    if (option->text.size() > DrawnCharacters)
        option->text = QStringView(option->text).left(DrawnCharacters).toString();
}
