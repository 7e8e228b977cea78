// ftpunit: the FTP settings and the transfer window.
#include "ftpunit.h"

#include "ui_FTPform.h"

#include "Felles.h"
#include "ftpclient.h"
#include "hs_reg.h"
#include "platform.h"
#include "serveroppsett.h"
#include "textfil.h"

#include <QFileInfo>
#include <QFont>
#include <QLabel>

#include <climits>

const QString DefaultFTPServer = QStringLiteral("ftp.kalvenor.no");
const QString DefaultFTPBruker = QStringLiteral("anonymous");
const QString DefaultFTPPassord = QStringLiteral("fremlatok");

QString FTPServer = DefaultFTPServer;
QString FTPMappe;
QString FTPBruker = DefaultFTPBruker;
QString FTPPassord = DefaultFTPPassord;
std::int32_t FTPPort = 21;
std::int32_t FTPFeilNr = 0;

TFTPform *FTPform = nullptr;

namespace {

const QString FtpSection = QStringLiteral("SERVER-SETTING-FTP");

// Up to and including the last separator; empty for a bare name.
QString folderPart(const QString &path)
{
    return path.left(path.lastIndexOf(platform::separator()) + 1);
}

QString filePart(const QString &path)
{
    return path.mid(path.lastIndexOf(platform::separator()) + 1);
}

// A download's temporary or old name: only the file part takes the new extension, so that the
// name stays in the local file's folder whatever dots the folders hold. Two files of one folder
// whose names differ only after the first dot (a.b.csv, a.c.csv) still share it, and so share
// one kept old copy.
QString besideFile(const QString &path, const QString &extension)
{
    return folderPart(path) + newext(filePart(path), extension);
}

// Whether two names stand for one file: the same text, or the same file through links.
bool sameFile(const QString &a, const QString &b)
{
    if (a == b) return true;
    const QFileInfo first(a);
    const QFileInfo second(b);
    return first.exists() && second.exists() &&
           first.canonicalFilePath() == second.canonicalFilePath();
}

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

// ---- FTP settings ----

void ftpunitInitialization()
{
    FTPServer = DefaultFTPServer;
    FTPMappe.clear();
    FTPBruker = DefaultFTPBruker;
    FTPPassord = DefaultFTPPassord;
    FTPPort = 21;
    FTPFeilNr = 0;
}

void LesFTPOppsett()
{
    setinisection(FtpSection);
    FTPServer = inireadstring(QStringLiteral("server"));
    FTPMappe = inireadstring(QStringLiteral("folder"));
    FTPBruker = inireadstring(QStringLiteral("username"));
    FTPPassord = decodestr(inireadstring(QStringLiteral("password")));
    FTPPort = inireadint(QStringLiteral("port"));
    resetinisection();
}

void SkrivStandardFTPOppsett()
{
    setinisection(FtpSection);
    iniwritestring(QStringLiteral("name"), QStringLiteral("Kalvenor FTP-server"));
    iniwritestring(QStringLiteral("server"), DefaultFTPServer);
    iniwritestring(QStringLiteral("folder"), QString());
    iniwritestring(QStringLiteral("username"), DefaultFTPBruker);
    iniwritestring(QStringLiteral("password"), encodestr(DefaultFTPPassord));
    iniwriteint(QStringLiteral("port"), 21);
    resetinisection();
}

void HentFTPOppsett()
{
    LesFTPOppsett();
    if (FTPServer.isEmpty()) {
        SkrivStandardFTPOppsett();
        VisServerOppsett(QStringLiteral("Oppsett FTP-server"), QStringLiteral("FTP"));
        LesFTPOppsett();
    }
    if (FTPBruker.isEmpty()) FTPBruker = DefaultFTPBruker;
    if (FTPPassord.isEmpty()) FTPPassord = DefaultFTPPassord;
}

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
    const QString part = filePart(Filnavn);
    m_ui->ftpfil->setText(part);
    m_ui->ftpfil->repaint();
    writelog(QStringLiteral("FTP: Starter ny sesjon for opplasting av ") + Filnavn);
    m_ui->ProgressBar1->setValue(0);

    const std::int64_t size = openableSize(Filnavn);
    if (size < 0) {
        writelog(QStringLiteral("FTP: Kan ikke finne filstørrelse, avbryter."));
        close();
        return;
    }
    if (size > INT32_MAX) {
        writelog(QStringLiteral("FTP: Filen er 2 GiB eller større og kan ikke sendes, avbryter."));
        FTPFeilNr = 502;
        close();
        return;
    }
    m_ui->ProgressBar1->setMaximum(int(size));

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
    if (IdFTP1->isConnected()) {
        try {
            IdFTP1->put(Filnavn, remoteName(part));
        } catch (...) {
            // The caller sees the failure in the error number as well as in the error itself,
            // and no connection or window is left behind.
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
    close();
}

void TFTPform::HentFil(const QString &Filnavn)
{
    FTPFeilNr = 0;
    show();
    m_ui->ftpfil->setText(filePart(Filnavn));
    m_ui->ftpfil->repaint();
    writelog(QStringLiteral("FTP: Starter ny sesjon for nedlasting av ") + m_ui->ftpfil->text() +
             QStringLiteral(" til ") + folderPart(Filnavn));
    m_ui->ProgressBar1->setValue(0);
    const QString temporary = besideFile(Filnavn, QStringLiteral("tmp"));
    const QString old = besideFile(Filnavn, QStringLiteral("old"));

    HentFTPOppsett();
    // The folder comes from the settings just read.
    const QString remote = remoteName(filePart(Filnavn));
    fillClient();
    const QString host = IdFTP1->host();
    const QString user = IdFTP1->username();
    writelog(QStringLiteral("FTP: Kobler til ") + host + QStringLiteral(" som bruker ") + user);
    repaint();

    std::int64_t size = -1;
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
            close();
            return;
        }
        m_ui->ProgressBar1->setMaximum(int(size));
        writelog(QStringLiteral("FTP: filstørrelse ") + QString::number(size));
    } catch (const std::exception &) {
        writelog(QStringLiteral("FTP: Feil nr. 501, kunne ikke koble til ") + host +
                 QStringLiteral(" med brukernavn ") + user);
        FTPFeilNr = 501;
    }

    if (IdFTP1->isConnected()) {
        writelog(QStringLiteral("FTP: Tilkoblet, henter filen ") + remote);
        try {
            // A name that newext leaves as it is ("liste.tmp", "liste.old") makes the temporary
            // or the old file the local file itself, which would be written over or deleted.
            if (sameFile(temporary, Filnavn) || sameFile(old, Filnavn))
                throw FtpError(QStringLiteral("%1 er selv den midlertidige eller den gamle filen")
                                   .arg(Filnavn));
            IdFTP1->get(remote, temporary, size);
        } catch (const std::exception &) {
            writelog(QStringLiteral("FTP: Feil nr. 500, kan ikke laste ned filen ") + Filnavn +
                     QStringLiteral(". Sjekk at filen ikke er i bruk."));
            FTPFeilNr = 500;
        }
        IdFTP1->disconnectFromServer();
        writelog(QStringLiteral("FTP: Kobler fra."));
    }
    close();

    if (FTPFeilNr != 0) return;
    // The bytes were counted as they came, so a temporary file of another size, or one that
    // cannot be opened, was taken meanwhile (by a second download to the same temporary name):
    // what it holds is not this download, and the local file is not this download either.
    // A link put in its place would take the local file's name and its mode elsewhere.
    const std::int32_t placed = getfilesize(temporary);
    if (placed != size || platform::isLink(temporary)) {
        writelog(QStringLiteral("FTP: Feil nr. 500, den midlertidige filen ") + temporary +
                 QStringLiteral(" ble endret eller tatt i bruk etter nedlastingen. ") + Filnavn +
                 QStringLiteral(" er ikke erstattet."));
        FTPFeilNr = 500;
        return;
    }
    if (placed <= 0) return;
    // The new file is as open to others as the one it replaces, a first one as any new file;
    // until now it was its owner's alone.
    platform::setModeLike(temporary, Filnavn);
    // Each step runs whatever the one before did; a rename never replaces an existing name.
    if (platform::removeFile(old) == 0)
        writelog(QStringLiteral("FTP: slettet midlertidig fil: ") + old);
    if (platform::renameFile(Filnavn, old) == 0)
        writelog(QStringLiteral("FTP: endret navn på ") + Filnavn + QStringLiteral(" til ") + old);
    if (platform::renameFile(temporary, Filnavn) == 0) {
        writelog(QStringLiteral("FTP: endret navn på ") + temporary + QStringLiteral(" til ") +
                 Filnavn);
        return;
    }
    // Program code that asked for the file must not go on with the local one as if it were new.
    writelog(QStringLiteral("FTP: Feil nr. 500, kan ikke endre navn på ") + temporary +
             QStringLiteral(" til ") + Filnavn + QStringLiteral(". Den nye filen ligger i ") +
             temporary + u'.');
    FTPFeilNr = 500;
}
