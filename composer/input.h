// input: the input dialog TInputForm, which asks for one line of text under a prompt, and
// InputStr, which shows a fresh one and remembers the accepted text for the next time.
#pragma once

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class TInputForm;
}

class TInputForm : public QDialog {
    Q_OBJECT

  public:
    explicit TInputForm(QWidget *parent = nullptr);
    ~TInputForm() override;

    void FormShow();

  protected:
    void showEvent(QShowEvent *event) override;

  private:
    friend QString InputStr(const QString &prompt, const QString &defaultText);
    std::unique_ptr<Ui::TInputForm> m_ui;
};

// The dialog of the running call, null outside one.
extern TInputForm *InputForm;
// The last result of InputStr: the accepted text, empty after a cancel.
extern QString LastInput;
// Returns the unit's values to their first state.
void inputInitialization();

// Asks under prompt and returns the accepted text, or "" after a cancel. Without a default of
// the caller's, the dialog offers the text last accepted in it ("LastInputStr" of the per-user
// settings).
QString InputStr(const QString &prompt, const QString &defaultText);
