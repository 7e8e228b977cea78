// ftpunit: the transfer window.
#include "ftpunit.h"

#include "ui_FTPform.h"

#include "ftpclient.h"
#include "placement.h"
#include "platform.h"
#include "textfil.h"
#include "windowpos.h"

#include <QFont>
#include <QLabel>

#include <climits>

TFTPform *FTPform = nullptr;

namespace {

// The size of a file that can be opened for reading and writing; -1 otherwise.
std::int64_t openableSize(const QString &name)
{
    platform::FileHandle h;
    if (platform::openFile(name, platform::OpenMode::ReadWrite, h)) return -1;
    std::int64_t size = 0;
    const int err = platform::fileSize(h, size);
    platform::closeFile(h);
    return err ? -1 : size;
}

} // namespace

std::int32_t FilStorrelse(const QString &name)
{
    const std::int64_t size = openableSize(name);
    return size > INT32_MAX ? -1 : std::int32_t(size);
}

// ---- The transfer window ----

TFTPform::TFTPform(QWidget *parent)
    : QWidget(parent), IdFTP1(new FtpClient(this)), m_ui(std::make_unique<Ui::TFTPform>())
{
    if (!FTPform) FTPform = this;
    // A system menu and a minimise button, no maximise.
    setOwnWindowFlags(this);
    m_ui->setupUi(this);
    move(408, 424); // the designed position
    QFont f = font();
    f.setPixelSize(11);
    setFont(f);

    // The status bar's two panels: the byte count and the connection state.
    auto *count = new QLabel(QStringLiteral("0"), m_ui->StatusBar1);
    count->setObjectName(QStringLiteral("panel0"));
    count->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    count->setFixedWidth(60);
    auto *state = new QLabel(QStringLiteral("Klar"), m_ui->StatusBar1);
    state->setObjectName(QStringLiteral("panel1"));
    state->setFixedWidth(50);
    m_ui->StatusBar1->addWidget(count);
    m_ui->StatusBar1->addWidget(state);

    connect(IdFTP1, &FtpClient::connected, this, &TFTPform::IdFTP1Connected);
    connect(IdFTP1, &FtpClient::disconnected, this, &TFTPform::IdFTP1Disconnected);
    connect(IdFTP1, &FtpClient::work, this, &TFTPform::IdFTP1Work);
}

TFTPform::~TFTPform()
{
    if (FTPform == this) FTPform = nullptr;
}

void TFTPform::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    FormShow();
}

void TFTPform::FormShow()
{
    setWindowTitle(FTPServer);
    m_ui->ftpfil->clear();
    m_ui->ftpfil->repaint();
}

void TFTPform::IdFTP1Connected()
{
    m_ui->StatusBar1->findChild<QLabel *>(QStringLiteral("panel1"))
        ->setText(QStringLiteral("Tilkoblet"));
    m_ui->StatusBar1->repaint();
}

void TFTPform::IdFTP1Disconnected()
{
    m_ui->StatusBar1->findChild<QLabel *>(QStringLiteral("panel1"))
        ->setText(QStringLiteral("Frakoblet"));
    m_ui->StatusBar1->repaint();
}

void TFTPform::IdFTP1Work(std::int64_t count)
{
    m_ui->ProgressBar1->setValue(int(count));
    m_ui->ProgressBar1->repaint();
    m_ui->StatusBar1->findChild<QLabel *>(QStringLiteral("panel0"))
        ->setText(QString::number(count));
    m_ui->StatusBar1->repaint();
}

void TFTPform::fillClient()
{
    IdFTP1->setHost(FTPServer);
    IdFTP1->setUsername(FTPBruker);
    IdFTP1->setPassword(FTPPassord);
    // The stored port where it is one; a server on another port is reachable that way.
    IdFTP1->setPort(FTPPort >= 1 && FTPPort <= 65535 ? FTPPort : 21);
}

QString TFTPform::remoteName(const QString &part) const
{
    if (FTPMappe.isEmpty()) return part;
    return FTPMappe.endsWith(u'/') ? FTPMappe + part : FTPMappe + u'/' + part;
}

void TFTPform::SendFil(const QString &Filnavn)
{
    FTPFeilNr = 0;
    show();
    const QString part = placement::filePart(Filnavn);
    m_ui->ftpfil->setText(part);
    m_ui->ftpfil->repaint();
    writelog(QStringLiteral("FTP: Starter ny sesjon for opplasting av ") + Filnavn);
    m_ui->ProgressBar1->setValue(0);
    if (!sendable(Filnavn)) {
        close();
        return;
    }
    HentFTPOppsett();
    fillClient();
    writelog(QStringLiteral("FTP: Kobler til ") + IdFTP1->host() + QStringLiteral(" som bruker ") +
             IdFTP1->username());
    try {
        IdFTP1->connectToServer();
    } catch (const std::exception &) {
        writelog(QStringLiteral("FTP: Feil nr. 502, kunne ikke koble til"));
        FTPFeilNr = 502;
    }
    if (IdFTP1->isConnected()) store(Filnavn, remoteName(part));
    close();
}

bool TFTPform::sendable(const QString &Filnavn)
{
    const std::int64_t size = openableSize(Filnavn);
    if (size < 0) {
        writelog(QStringLiteral("FTP: Kan ikke finne filstørrelse, avbryter."));
        return false;
    }
    if (size > INT32_MAX) {
        writelog(QStringLiteral("FTP: Filen er 2 GiB eller større og kan ikke sendes, avbryter."));
        FTPFeilNr = 502;
        return false;
    }
    m_ui->ProgressBar1->setMaximum(int(size));
    return true;
}

void TFTPform::store(const QString &Filnavn, const QString &remote)
{
    try {
        IdFTP1->put(Filnavn, remote);
    } catch (...) {
        // The caller sees the failure in the error number as well as in the error itself, and
        // no connection or window is left behind.
        FTPFeilNr = 502;
        writelog(QStringLiteral("FTP: Feil nr. 502, kunne ikke laste opp filen ") + Filnavn);
        IdFTP1->disconnectFromServer();
        writelog(QStringLiteral("FTP: Kobler fra."));
        close();
        throw;
    }
    IdFTP1->disconnectFromServer();
    writelog(QStringLiteral("FTP: Kobler fra."));
}

void TFTPform::HentFil(const QString &Filnavn)
{
    FTPFeilNr = 0;
    show();
    m_ui->ftpfil->setText(placement::filePart(Filnavn));
    m_ui->ftpfil->repaint();
    writelog(QStringLiteral("FTP: Starter ny sesjon for nedlasting av ") + m_ui->ftpfil->text() +
             QStringLiteral(" til ") + placement::folderPart(Filnavn));
    m_ui->ProgressBar1->setValue(0);
    placement::Download download(Filnavn);

    HentFTPOppsett();
    // The folder comes from the settings just read.
    const QString remote = remoteName(placement::filePart(Filnavn));
    fillClient();
    writelog(QStringLiteral("FTP: Kobler til ") + IdFTP1->host() + QStringLiteral(" som bruker ") +
             IdFTP1->username());
    repaint();
    std::int64_t size = -1;
    if (!askSize(remote, size)) {
        close();
        return;
    }
    if (IdFTP1->isConnected()) {
        writelog(QStringLiteral("FTP: Tilkoblet, henter filen ") + remote);
        retrieve(download, remote, size);
        IdFTP1->disconnectFromServer();
        writelog(QStringLiteral("FTP: Kobler fra."));
    }
    close();
    if (FTPFeilNr == 0) FTPFeilNr = download.place(size);
}

bool TFTPform::askSize(const QString &remote, std::int64_t &size)
{
    const QString host = IdFTP1->host();
    try {
        IdFTP1->connectToServer();
        size = IdFTP1->size(remote);
        if (size == -1 || size > INT32_MAX) {
            if (size == -1) {
                writelog(QStringLiteral("FTP: finner ikke filen ") + remote +
                         QStringLiteral(", avbryter forbindelse"));
            } else {
                // More than the window's 32-bit sizes hold: refused before any byte moves.
                writelog(QStringLiteral("FTP: filen ") + remote +
                         QStringLiteral(" er på %1 byte, 2 GiB eller mer, avbryter forbindelse")
                             .arg(size));
                FTPFeilNr = 501;
            }
            IdFTP1->disconnectFromServer();
            writelog(QStringLiteral("FTP: ") + host + QStringLiteral(" frakoblet"));
            return false;
        }
        m_ui->ProgressBar1->setMaximum(int(size));
        writelog(QStringLiteral("FTP: filstørrelse ") + QString::number(size));
    } catch (const std::exception &) {
        writelog(QStringLiteral("FTP: Feil nr. 501, kunne ikke koble til ") + host +
                 QStringLiteral(" med brukernavn ") + IdFTP1->username());
        FTPFeilNr = 501;
    }
    return true;
}

void TFTPform::retrieve(placement::Download &download, const QString &remote, std::int64_t size)
{
    QString failure = download.prepare();
    if (failure.isEmpty()) {
        try {
            IdFTP1->get(remote, download.file(), size);
        } catch (const std::exception &) {
            failure = download.notRetrieved();
        }
    }
    if (failure.isEmpty()) return;
    writelog(failure);
    FTPFeilNr = 500;
}
