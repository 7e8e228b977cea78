// input: the input dialog and InputStr.
#include "input.h"

#include "ui_input.h"

#include "hs_reg.h"
#include "oneline.h"

#include <QApplication>
#include <QLineEdit>
#include <QPointer>

TInputForm *InputForm = nullptr;
QString LastInput;

void inputInitialization()
{
    InputForm = nullptr;
    LastInput.clear();
}

TInputForm::TInputForm(QWidget *parent) : QDialog(parent), m_ui(std::make_unique<Ui::TInputForm>())
{
    // A dialog border: fixed size, a caption and no buttons in it.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    m_ui->setupUi(this);
    // 8 points on the 96 DPI screen the layout is drawn for, kept on any other screen.
    QFont small = font();
    small.setPixelSize(11);
    setFont(small);
    setFixedSize(396, 113);
    keepToOneLine(m_ui->Edit1);
    connect(m_ui->BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_ui->BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

TInputForm::~TInputForm() = default;

void TInputForm::FormShow() { m_ui->Edit1->setFocus(); }

void TInputForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    FormShow();
}

namespace {

QString userSetting()
{
    openuserini();
    const QString value = inireadstring(QStringLiteral("LastInputStr"));
    closeuserini();
    return value;
}

} // namespace

QString InputStr(const QString &prompt, const QString &defaultText)
{
    // Centred over the window that asks. An earlier dialog may still count as the active window
    // until it is released, and would take this one with it.
    QWidget *owner = QApplication::activeWindow();
    while (qobject_cast<TInputForm *>(owner)) owner = owner->parentWidget();
    // The default is looked up first, so that a settings failure leaves no dialog behind.
    const QString text = defaultText.isEmpty() ? userSetting() : defaultText;
    QPointer<TInputForm> form = new TInputForm(owner);
    InputForm = form;
    const Ui::TInputForm &ui = *form->m_ui;

    ui.Edit1->setText(text);
    ui.Edit1->selectAll();
    ui.Label1->setText(prompt);
    if (prompt == QLatin1String("Passord")) {
        ui.Edit1->setEchoMode(QLineEdit::Password);
        ui.Edit1->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    }

    const bool accepted = form->exec() == QDialog::Accepted;
    LastInput = accepted && form ? ui.Edit1->text() : QString();
    // Released once the current event has been handled.
    if (form) form->deleteLater();
    InputForm = nullptr;
    if (accepted) {
        openuserini();
        iniwritestring(QStringLiteral("LastInputStr"), LastInput);
        closeuserini();
    }
    return LastInput;
}
