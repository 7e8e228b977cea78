// TFMComboBox: the editable drop-down list of the main window.
#include "tfmcombobox.h"

#include "rowdelegate.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QSignalBlocker>
#include <QStringListModel>
#include <QWheelEvent>

// The box's own edit line: it tells the box when a key press types characters, which is when
// inline completion may run (not on Backspace or Delete, so a completion can be taken back).
class TFMComboBox::Edit final : public QLineEdit {
  public:
    explicit Edit(TFMComboBox *owner) : QLineEdit(owner), m_owner(owner) {}

  protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        const QString text = event->text();
        const bool saved = m_owner->m_typing;
        m_owner->m_typing = !text.isEmpty() && text.at(0).isPrint();
        QLineEdit::keyPressEvent(event);
        m_owner->m_typing = saved;
    }
    void inputMethodEvent(QInputMethodEvent *event) override
    {
        const bool saved = m_owner->m_typing;
        m_owner->m_typing = !event->commitString().isEmpty();
        QLineEdit::inputMethodEvent(event);
        m_owner->m_typing = saved;
    }

  private:
    TFMComboBox *m_owner;
};

TFMComboBox::TFMComboBox(QWidget *parent) : QComboBox(parent)
{
    // The entries as one list of strings, taken over whole: a reload of 100,000 rows then makes
    // no item of its own for each row. Set first, so that the edit line and the drop-down list
    // made below are made on it, not moved over to it.
    m_entries = new QStringListModel(this);
    setModel(m_entries);
    setLineEdit(new Edit(this)); // makes the box editable
    // When editing finishes (focus out, Return), QComboBox selects the entry equal to the
    // text and reports it as a pick: a change the user never made. Nothing else listens there.
    disconnect(lineEdit(), &QLineEdit::editingFinished, this, nullptr);
    // The wheel turns only the box that has the focus, and never takes the focus itself.
    setFocusPolicy(Qt::StrongFocus);
    // Completion and insertion are ours: the default completer would complete a second time,
    // and Return would add the typed text to the entries.
    setCompleter(nullptr);
    setInsertPolicy(QComboBox::NoInsert);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMaxVisibleItems(8);
    // Rows of one height, measured once, and drawn no further than a row shows: opening the
    // list costs the rows on screen, not every row of it, whatever their number or length.
    if (auto *list = qobject_cast<QListView *>(view())) list->setUniformItemSizes(true);
    setItemDelegate(new CutRowDelegate(this));

    connect(lineEdit(), &QLineEdit::textEdited, this, &TFMComboBox::onTextEdited);
    connect(this, &QComboBox::activated, this, &TFMComboBox::changed);
}

void TFMComboBox::setUpperCase(bool upper)
{
    m_upperCase = upper;
    if (upper) {
        setItems(items());
        setText(text());
    }
}

QString TFMComboBox::cased(const QString &text) const
{
    if (!m_upperCase) return text;
    // Letter by letter, so the text keeps its length (no "ß" turning into "SS").
    QString out = text;
    for (QChar &c : out) c = c.toUpper();
    return out;
}

void TFMComboBox::setItems(const QStringList &entries)
{
    const QString keep = text();
    const QSignalBlocker blocker(this);
    setUpdatesEnabled(false);
    if (m_upperCase) {
        QStringList upper;
        upper.reserve(entries.size());
        for (const QString &e : entries) upper.append(cased(e));
        m_entries->setStringList(upper);
    } else {
        m_entries->setStringList(entries);
    }
    setCurrentIndex(-1);
    lineEdit()->setText(keep);
    setUpdatesEnabled(true);
}

QStringList TFMComboBox::items() const { return m_entries->stringList(); }

QString TFMComboBox::text() const { return lineEdit()->text(); }

void TFMComboBox::setText(const QString &text) { lineEdit()->setText(cased(text)); }

void TFMComboBox::selectIndex(int index)
{
    if (index < -1 || index >= count()) index = -1;
    const QSignalBlocker blocker(this);
    if (index < 0) {
        // Selecting nothing would empty the edit line; the typed text must stay.
        QLineEdit *edit = lineEdit();
        const QString keep = edit->text();
        const int cursor = edit->cursorPosition();
        setCurrentIndex(-1);
        if (edit->text() != keep) {
            edit->setText(keep);
            edit->setCursorPosition(cursor);
        }
        return;
    }
    setCurrentIndex(index);
    if (text() != itemText(index)) lineEdit()->setText(itemText(index));
}

void TFMComboBox::onTextEdited(const QString &typed)
{
    QLineEdit *edit = lineEdit();
    const QString text = cased(typed);
    const int cursor = edit->cursorPosition();

    int found = -1;
    if (m_typing && !text.isEmpty() && cursor == text.size() && !edit->hasSelectedText()) {
        for (int i = 0; i < count(); ++i) {
            if (itemText(i).startsWith(text, Qt::CaseInsensitive)) {
                found = i;
                break;
            }
        }
    }

    if (found >= 0) {
        selectIndex(found);
        const QString entry = itemText(found);
        edit->setSelection(int(text.size()), int(entry.size() - text.size()));
    } else {
        if (text != typed) {
            edit->setText(text);
            edit->setCursorPosition(cursor);
        }
        selectIndex(findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
    }
    emit changed();
}

bool TFMComboBox::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Hide && m_popup && watched == m_popup) {
        // A pick through the keyboard selects its entry only after the popup has hidden.
        QMetaObject::invokeMethod(this, &TFMComboBox::closeUp, Qt::QueuedConnection);
    }
    return QComboBox::eventFilter(watched, event);
}

void TFMComboBox::showPopup()
{
    if (count() == 0) {
        QMetaObject::invokeMethod(this, &TFMComboBox::closeUp, Qt::QueuedConnection);
        return;
    }
    // The popup hides on a pick, on Escape and on a click outside it; only its hiding sees all.
    if (!m_popup) {
        m_popup = view()->window();
        m_popup->installEventFilter(this);
    }
    QComboBox::showPopup();
}

void TFMComboBox::wheelEvent(QWheelEvent *event)
{
    // Left to the window beneath, as when the wheel goes to the focused control.
    if (!hasFocus()) {
        event->ignore();
        return;
    }
    QComboBox::wheelEvent(event);
}
