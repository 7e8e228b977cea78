// Test support: answers the next input dialog from the event queue, as a user at the keyboard
// would, and records what the dialog showed.
#pragma once

#include "input.h"

#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QTest>
#include <QTimer>

#include <optional>

struct InputSeen {
    bool asked = false;
    QString prompt;
    QString offered; // the field's text when the dialog came up
    bool allSelected = false;
    QLineEdit::EchoMode echo = QLineEdit::Normal;
    QString passwordCharacter; // as the field draws a hidden character
    bool focusInField = false;
};

// Answers the first input dialog that comes up while it lives: typed replaces the offered text
// (nullopt leaves it), then Enter (ok) or Esc.
class InputAnswer {
  public:
    explicit InputAnswer(std::optional<QString> typed, bool ok = true)
    {
        m_poll.setInterval(5);
        QObject::connect(&m_poll, &QTimer::timeout, [this, typed, ok] {
            if (!InputForm || !InputForm->isVisible()) return;
            m_poll.stop();
            auto *edit = InputForm->findChild<QLineEdit *>("Edit1");
            seen.asked = true;
            seen.prompt = InputForm->findChild<QLabel *>("Label1")->text();
            seen.offered = edit->text();
            seen.allSelected = edit->selectedText() == edit->text();
            seen.echo = edit->echoMode();
            seen.passwordCharacter = QChar(
                edit->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, edit));
            seen.focusInField = InputForm->focusWidget() == edit;
            if (typed) {
                edit->selectAll();
                QTest::keyClick(edit, Qt::Key_Delete);
                QTest::keyClicks(edit, *typed);
            }
            QTest::keyClick(edit, ok ? Qt::Key_Return : Qt::Key_Escape);
        });
        m_poll.start();
    }
    InputSeen seen;

  private:
    QTimer m_poll;
};
