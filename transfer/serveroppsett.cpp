// serveroppsett: the server-settings dialog.
#include "serveroppsett.h"

#include "ui_ServerOppsettForm.h"

#include "Felles.h"
#include "hs_reg.h"
#include "inifile.h"
#include "platform.h"

#include <QEvent>
#include <QFont>
#include <QLabel>

TServerOppsettForm *ServerOppsettForm = nullptr;

namespace {

QString section(const QString &kind) { return QStringLiteral("SERVER-SETTING-") + kind; }

} // namespace

QString defaultPort(const QString &kind)
{
    static const std::pair<const char *, const char *> table[] = {
        {"FTP", "21"},  {"HTTP", "80"}, {"LOG", "80"},  {"CFG", "21"},
        {"SMB", "445"}, {"MAIL", "80"}, {"RDP", "3389"}};
    for (const auto &[k, port] : table)
        if (kind == QLatin1String(k)) return QString::fromLatin1(port);
    return QString();
}

bool keptBySettings(const QString &stored)
{
    // The same write and read as the settings file, through the bytes in between.
    IniDocument written;
    written.writeString(QStringLiteral("S"), QStringLiteral("password"), stored);
    IniDocument read;
    read.parse(written.toBytes());
    return read.readString(QStringLiteral("S"), QStringLiteral("password"), QString()) == stored;
}

TServerOppsettForm::TServerOppsettForm(QWidget *parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::TServerOppsettForm>())
{
    if (!ServerOppsettForm) ServerOppsettForm = this;
    // A close button in the title bar, no resizing and no help button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    m_ui->setupUi(this);
    // Character heights in pixels, as the fixed pixel geometry needs them on every screen.
    QFont f = font();
    f.setPixelSize(11);
    setFont(f);
    // A caption takes the width of its text, as the designed sizes did with their own font, so a
    // wider substitute font never cuts it.
    for (QLabel *caption : findChildren<QLabel *>())
        caption->resize(caption->sizeHint().width(), caption->height());
    m_ui->navn->setFocus();
    m_ui->passord->installEventFilter(this);
}

TServerOppsettForm::~TServerOppsettForm()
{
    if (ServerOppsettForm == this) ServerOppsettForm = nullptr;
}

void TServerOppsettForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    FormShow();
}

bool TServerOppsettForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_ui->passord && event->type() == QEvent::MouseButtonDblClick) {
        passordDblClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TServerOppsettForm::done(int result)
{
    if (!FormCloseQuery()) return;
    FormClose();
    QDialog::done(result);
}

void TServerOppsettForm::FormShow()
{
    Ui::TServerOppsettForm &ui = *m_ui;
    setinisection(section(Servertype));
    ui.navn->setText(inireadstring(QStringLiteral("name")));
    ui.server->setText(inireadstring(QStringLiteral("server")));
    ui.mappe->setText(inireadstring(QStringLiteral("folder")));
    ui.brukernavn->setText(inireadstring(QStringLiteral("username")));
    ui.passord->setText(decodestr(inireadstring(QStringLiteral("password"))));
    ui.port->setText(inireadstring(QStringLiteral("port")));
    ui.SSLL->setChecked(inireadbool(QStringLiteral("SSL")));
    resetinisection();
}

bool TServerOppsettForm::FormCloseQuery()
{
    if (keptBySettings(encodestr(m_ui->passord->text()))) return true;
    // The text names no character of the password: it may stand on the screen behind the box.
    platform::ui().message(
        windowTitle(),
        QStringLiteral("Passordet inneholder tegn som innstillingsfilen ikke kan ta vare på, "
                       "og blir derfor ikke lagret. Skriv passordet uten kontrolltegn."),
        platform::Icon::Error);
    m_ui->passord->setFocus();
    return false;
}

void TServerOppsettForm::FormClose()
{
    Ui::TServerOppsettForm &ui = *m_ui;
    setinisection(section(Servertype));
    iniwritestring(QStringLiteral("name"), ui.navn->text());
    iniwritestring(QStringLiteral("server"), ui.server->text());
    iniwritestring(QStringLiteral("folder"), ui.mappe->text());
    iniwritestring(QStringLiteral("username"), ui.brukernavn->text());
    iniwritestring(QStringLiteral("password"), encodestr(ui.passord->text()));
    if (ui.port->text().isEmpty()) ui.port->setText(defaultPort(Servertype));
    iniwritestring(QStringLiteral("port"), ui.port->text());
    iniwritebool(QStringLiteral("SSL"), ui.SSLL->isChecked());
    resetinisection();
}

void TServerOppsettForm::passordDblClick()
{
    QLineEdit *field = m_ui->passord;
    field->setEchoMode(field->echoMode() == QLineEdit::Password ? QLineEdit::Normal
                                                                : QLineEdit::Password);
}

void VisServerOppsett(const QString &caption, const QString &kind)
{
    // The program creates the window at start-up; a caller without it still gets one.
    if (!ServerOppsettForm) new TServerOppsettForm;
    ServerOppsettForm->setWindowTitle(caption);
    ServerOppsettForm->setServertype(kind);
    ServerOppsettForm->exec();
}
