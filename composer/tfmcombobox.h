// TFMComboBox: the editable drop-down list of the main window, with the behaviour the window's
// handlers are written against (close-up on every closing, change only on user input, inline
// completion, optional capitals).
#pragma once

#include <QComboBox>
#include <QStringList>

class QStringListModel;

class TFMComboBox : public QComboBox {
    Q_OBJECT
    Q_PROPERTY(bool upperCase READ upperCase WRITE setUpperCase)

  public:
    explicit TFMComboBox(QWidget *parent = nullptr);

    // Letters are put into capitals as they are typed, and so are the entries.
    bool upperCase() const { return m_upperCase; }
    void setUpperCase(bool upper);

    // Replaces the entries; the typed text stays, no entry is selected, nothing fires.
    void setItems(const QStringList &items);
    QStringList items() const;

    // The typed text. Setting it from the program fires nothing and leaves the selection alone.
    QString text() const;
    void setText(const QString &text);

    // Selects an entry (its text becomes the box's text) or none (-1, the text stays); fires
    // nothing.
    void selectIndex(int index);
    int selectedIndex() const { return currentIndex(); }

    // An empty box has no list to open; its closing still counts, so it closes up at once.
    void showPopup() override;

  signals:
    // The user typed in the box or picked an entry; never for changes made by the program.
    void changed();
    // The drop-down list closed, with or without a new choice. Delivered once the closing
    // (and any pick it carries) is complete, so the selected entry is the final one.
    void closeUp();

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

  private:
    class Edit;
    friend class Edit;

    void onTextEdited(const QString &typed);
    QString cased(const QString &text) const;

    QStringListModel *m_entries = nullptr;
    bool m_upperCase = false;
    bool m_typing = false; // inside a key press that inserts characters
    // The drop-down list's window, watched for its hiding; made on the first opening, since
    // each box's list is a window of its own and costs the start when made with the box.
    QWidget *m_popup = nullptr;
};
