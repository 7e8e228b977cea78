// Tests of the FTP settings and of the transfer window against a real FTP server: the log of
// every kind of transfer, the error numbers, the local files after a download, the window's
// state, and what a failed, dead or odd server leaves behind.
#include "ftpunit.h"

#include "Felles.h"
#include "ftpclient.h"
#include "ftpserver.h"
#include "hs_reg.h"
#include "inifile.h"
#include "placement.h"
#include "platform.h"
#include "serveroppsett.h"
#include "testsupport.h"
#include "textfil.h"
#include "tfmapplication.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QScopeGuard>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Answers every showing of the server-settings dialog from its own loop: records what it shows,
// lets the test change it, and closes it.
class DialogAnswer : public QObject {
  public:
    explicit DialogAnswer(TServerOppsettForm *dialog) : m_dialog(dialog)
    {
        dialog->installEventFilter(this);
    }
    std::function<void()> edit;
    int shown = 0;
    QString caption;
    QMap<QString, QString> fields;
    bool masked = false;

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_dialog && event->type() == QEvent::Show) {
            ++shown;
            QTimer::singleShot(0, m_dialog, [this] {
                caption = m_dialog->windowTitle();
                for (QLineEdit *e : m_dialog->findChildren<QLineEdit *>())
                    fields[e->objectName()] = e->text();
                masked =
                    m_dialog->findChild<QLineEdit *>("passord")->echoMode() == QLineEdit::Password;
                if (edit) edit();
                m_dialog->close();
            });
        }
        return false;
    }

  private:
    TServerOppsettForm *m_dialog;
};

QByteArray absent() { return QByteArray(); } // a null array: no such file

int modeOf(const char *name)
{
    struct stat st {};
    return ::lstat(name, &st) == 0 ? int(st.st_mode & 07777) : -1;
}

const QString notPlacedLine = "FTP: Feil nr. 500, kan ikke endre navn på liste.tmp til "
                              "liste.csv. Den nye filen ligger i liste.tmp.";

} // namespace

class TestFtpUnit : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void settings_data();
    void settings();
    void firstUseAsksOnce();
    void emptyServerAfterTheDialog();

    void layout();
    void upload_data();
    void upload();
    void uploadToFolder_data();
    void uploadToFolder();
    void uploadStopped_data();
    void uploadStopped();
    void failedStore_data();
    void failedStore();
    void portChoice_data();
    void portChoice();
    void connectFails_data();
    void connectFails();
    void download_data();
    void download();
    void downloadWithoutSize_data();
    void downloadWithoutSize();
    void downloadBroken_data();
    void downloadBroken();
    void downloadKeepsTheLocalFile_data();
    void downloadKeepsTheLocalFile();
    void downloadWhileTheLocalFileIsOpen();
    void readOnlyFileDownloadedAgain();
    void leftoverTemporary_data();
    void leftoverTemporary();
    void lastRenameFails();
    void localNameNotAFile_data();
    void localNameNotAFile();
    void downloadsInADottedFolder();
    void temporaryTakenMeanwhile_data();
    void temporaryTakenMeanwhile();
    void downloadModes_data();
    void downloadModes();
    void binaryRoundTrip();
    void passwordNeverShown();

  private:
    bool startServer(const QString &mode = QStringLiteral("normal"));
    void configure(int port, const QString &password = TestFtpServer::password,
                   const QString &folder = QString());
    QStringList ftpLog() const;
    QString panel(int i) const
    {
        return m_form->findChild<QLabel *>(QStringLiteral("panel%1").arg(i))->text();
    }
    QProgressBar *progress() const { return m_form->findChild<QProgressBar *>("ProgressBar1"); }

    std::unique_ptr<Sandbox> m_box;
    std::unique_ptr<RecordingUi> m_ui;
    std::unique_ptr<TestFtpServer> m_server;
    TServerOppsettForm *m_dialog = nullptr;
    std::unique_ptr<DialogAnswer> m_answer;
    TFTPform *m_form = nullptr;
};

void TestFtpUnit::init()
{
    m_box = std::make_unique<Sandbox>();
    m_ui = std::make_unique<RecordingUi>();
    textfilInitialization();
    userparam = "tester";
    hs_regInitialization({});
    logtofile = true;
    loglines.clear();
    ftpunitInitialization();
    FtpClient::setLimits({});
    m_form = new TFTPform;
    m_dialog = new TServerOppsettForm;
    m_answer = std::make_unique<DialogAnswer>(m_dialog);
}

void TestFtpUnit::cleanup()
{
    m_answer.reset();
    delete m_dialog;
    delete m_form;
    m_server.reset();
    hs_regFinalization();
    loglines.clear();
    FtpClient::setLimits({});
    m_ui.reset();
    m_box.reset();
}

bool TestFtpUnit::startServer(const QString &mode)
{
    m_server = std::make_unique<TestFtpServer>(mode);
    if (!m_server->start()) qWarning("%s", qPrintable(m_server->error()));
    configure(m_server->port());
    return m_server->port() > 0;
}

void TestFtpUnit::configure(int port, const QString &password, const QString &folder)
{
    setinisection("SERVER-SETTING-FTP");
    iniwritestring("server", "127.0.0.1");
    iniwritestring("folder", folder);
    iniwritestring("username", TestFtpServer::user);
    iniwritestring("password", encodestr(password));
    iniwriteint("port", port);
    resetinisection();
}

QStringList TestFtpUnit::ftpLog() const
{
    QStringList out;
    for (const QString &line : loglines) {
        const qsizetype at = line.indexOf(" FTP: ");
        if (at >= 0) out.append(line.mid(at + 1));
    }
    return out;
}

// ---- FTP settings ----

void TestFtpUnit::settings_data()
{
    QTest::addColumn<QStringList>("section"); // the lines of "SERVER-SETTING-FTP"
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("folder");

    QTest::newRow("all set") << QStringList{"server=h", "folder=inn", "username=ola",
                                            "password=zigpqjrpo2", "port=2121"}
                             << "ola"
                             << "hemmelig" << 2121 << "inn";
    QTest::newRow("no user, no password: the defaults, nothing written")
        << QStringList{"server=h"} << "anonymous"
        << "fremlatok" << 0 << "";
    QTest::newRow("scrambled empty password")
        << QStringList{"server=h", "username=ola", "password=z2"} << "ola"
        << "fremlatok" << 0 << "";
    QTest::newRow("port that is no number") << QStringList{"server=h", "port=abc"} << "anonymous"
                                            << "fremlatok" << 0 << "";
    QTest::newRow("hexadecimal port") << QStringList{"server=h", "port=$15"} << "anonymous"
                                      << "fremlatok" << 21 << "";
}

void TestFtpUnit::settings()
{
    QFETCH(QStringList, section);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(int, port);
    QFETCH(QString, folder);
    setinisection("SERVER-SETTING-FTP");
    for (const QString &line : section) {
        const qsizetype eq = line.indexOf('=');
        iniwritestring(line.left(eq), line.mid(eq + 1));
    }
    setinisection("TFM");
    HentFTPOppsett();
    QCOMPARE(inisection, QString("STANDARD"));
    QCOMPARE(m_answer->shown, 0);
    QCOMPARE(FTPServer, QString("h"));
    QCOMPARE(FTPBruker, user);
    QCOMPARE(FTPPassord, password);
    QCOMPARE(FTPPort, port);
    QCOMPARE(FTPMappe, folder);
    QCOMPARE(inifile->sectionLines("SERVER-SETTING-FTP"), section);
}

void TestFtpUnit::firstUseAsksOnce()
{
    QCOMPARE(FTPServer, QString("ftp.kalvenor.no"));
    // A section whose server is empty counts as none: the defaults overwrite it, SSL stays.
    setinisection("SERVER-SETTING-FTP");
    for (const char *key : {"name", "server", "folder", "username", "password", "port", "SSL"})
        iniwritestring(key, key == QLatin1String("server") ? "" : "1");
    resetinisection();

    HentFTPOppsett();
    QCOMPARE(m_answer->shown, 1);
    QCOMPARE(m_answer->caption, QString("Oppsett FTP-server"));
    QCOMPARE(m_answer->fields["navn"], QString("Kalvenor FTP-server"));
    QCOMPARE(m_answer->fields["server"], QString("ftp.kalvenor.no"));
    QCOMPARE(m_answer->fields["mappe"], QString());
    QCOMPARE(m_answer->fields["brukernavn"], QString("anonymous"));
    QCOMPARE(m_answer->fields["passord"], QString("fremlatok"));
    QVERIFY(m_answer->masked);
    QCOMPARE(m_answer->fields["port"], QString("21"));
    QCOMPARE(inifile->sectionLines("SERVER-SETTING-FTP"),
             (QStringList{"name=Kalvenor FTP-server", "server=ftp.kalvenor.no", "folder=",
                          "username=anonymous", "password=zgthqqg{wt2", "port=21", "SSL=1"}));
    QCOMPARE(FTPServer, QString("ftp.kalvenor.no"));
    QCOMPARE(FTPBruker, QString("anonymous"));
    QCOMPARE(FTPPassord, QString("fremlatok"));
    QCOMPARE(FTPPort, 21);
}

void TestFtpUnit::emptyServerAfterTheDialog()
{
    m_answer->edit = [this] { m_dialog->findChild<QLineEdit *>("server")->clear(); };
    HentFTPOppsett();
    QCOMPARE(m_answer->shown, 1); // no second prompt in the same call
    QCOMPARE(FTPServer, QString());
}

// ---- The transfer window ----

void TestFtpUnit::layout()
{
    QCOMPARE(m_form->size(), QSize(209, 64));
    QCOMPARE(m_form->pos(), QPoint(408, 424));
    QCOMPARE(m_form->windowTitle(), QString("FTPform"));
    QVERIFY(!(m_form->windowFlags() & Qt::WindowMaximizeButtonHint));
    auto *label = m_form->findChild<QLabel *>("ftpfil");
    QCOMPARE(label->geometry(), QRect(8, 8, 201, 13));
    QCOMPARE(label->alignment(), Qt::AlignCenter);
    QCOMPARE(progress()->geometry(), QRect(8, 32, 201, 16));
    QCOMPARE(progress()->minimum(), 0);
    QCOMPARE(m_form->findChild<QWidget *>("StatusBar1")->geometry(), QRect(0, 45, 209, 19));
    QCOMPARE(panel(0), QString("0"));
    QCOMPARE(panel(1), QString("Klar"));
    QVERIFY(!m_form->isVisible());
}

void TestFtpUnit::upload_data()
{
    QTest::addColumn<QString>("local"); // relative to the working folder, or absolute
    QTest::addColumn<QString>("remote");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("plain") << "liste.csv"
                           << "liste.csv" << QByteArray("a;b\r\nc;d\r\n");
    QTest::newRow("empty file") << "tom.txt"
                                << "tom.txt" << QByteArray("");
    QTest::newRow("full path") << "/sub/dir.x/fil.dat"
                               << "fil.dat" << QByteArray(70000, 'q');
    QTest::newRow("blanks and signs") << "a b#1?%.txt"
                                      << "a b#1?%.txt" << QByteArray("x");
}

void TestFtpUnit::upload()
{
    QFETCH(QString, local);
    QFETCH(QString, remote);
    QFETCH(QByteArray, bytes);
    QVERIFY(startServer());
    if (local.startsWith('/')) local = m_box->work() + local;
    writeBytes(local, bytes);

    m_form->SendFil(local);
    QCOMPARE(FTPFeilNr, 0);
    QCOMPARE(readBytes(m_server->file(remote)), bytes);
    QCOMPARE(ftpLog(),
             (QStringList{"FTP: Starter ny sesjon for opplasting av " + local,
                          "FTP: Kobler til 127.0.0.1 som bruker tester", "FTP: Kobler fra."}));
    QVERIFY(!m_form->isVisible());
    QCOMPARE(m_form->windowTitle(),
             QString("ftp.kalvenor.no")); // shown before the settings were read
    QCOMPARE(m_form->findChild<QLabel *>("ftpfil")->text(), remote);
    QCOMPARE(progress()->maximum(), bytes.size());
    QCOMPARE(panel(0), QString::number(bytes.size()));
    QCOMPARE(panel(1), QString("Frakoblet"));
    QVERIFY(!m_form->IdFTP1->isConnected());
    QCOMPARE(m_answer->shown, 0);

    m_form->SendFil(local); // the next transfer names the server the last one read
    QCOMPARE(m_form->windowTitle(), QString("127.0.0.1"));
    QCOMPARE(FTPFeilNr, 0);
}

void TestFtpUnit::uploadToFolder_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("folder") << "inn";
    QTest::newRow("folder ending in a slash") << "inn/";
    QTest::newRow("from the root") << "/inn";
}

void TestFtpUnit::uploadToFolder()
{
    QFETCH(QString, folder);
    QVERIFY(startServer());
    QDir(m_server->root()).mkdir("inn");
    configure(m_server->port(), TestFtpServer::password, folder);
    writeBytes("liste.csv", "data");
    m_form->SendFil("liste.csv");
    QCOMPARE(FTPFeilNr, 0);
    QCOMPARE(readBytes(m_server->file("inn/liste.csv")), QByteArray("data"));
    QVERIFY(!QFile::exists(m_server->file("liste.csv")));
}

void TestFtpUnit::uploadStopped_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("error");
    const QString unopenable = "FTP: Kan ikke finne filstørrelse, avbryter.";
    QTest::newRow("read-only file") << "readonly" << unopenable << 0;
    QTest::newRow("missing file") << "missing" << unopenable << 0;
    QTest::newRow("a folder") << "folder" << unopenable << 0;
    QTest::newRow("a named pipe") << "fifo" << unopenable << 0; // no wait for a writer
    QTest::newRow("2 GiB") << "huge"
                           << "FTP: Filen er 2 GiB eller større og kan ikke sendes, avbryter."
                           << 502;
}

void TestFtpUnit::uploadStopped()
{
    QFETCH(QString, kind);
    QFETCH(QString, line);
    QFETCH(int, error);
    const QString local = "fil.dat";
    if (kind == "readonly") {
        writeBytes(local, "x");
        QCOMPARE(platform::setReadOnly(local, true), 0);
    } else if (kind == "folder" || kind == "fifo") {
        QVERIFY(makeHostileFile(local, kind));
    } else if (kind == "huge") {
        QFile f(local);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(qint64(1) << 31)); // sparse: no disk used
    }
    // No server listens: a connection attempt would show in the log.
    configure(unusedPort());
    m_form->SendFil(local);
    QCOMPARE(ftpLog(), (QStringList{"FTP: Starter ny sesjon for opplasting av " + local, line}));
    QCOMPARE(FTPFeilNr, error);
    QCOMPARE(FilStorrelse(local), -1);
    QVERIFY(!m_form->isVisible());
    QCOMPARE(panel(1), QString("Klar"));
    QCOMPARE(m_answer->shown, 0);
}

void TestFtpUnit::failedStore_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("store refused") << "readonly";
    QTest::newRow("server stops reading") << "stall";
}

void TestFtpUnit::failedStore()
{
    QFETCH(QString, mode);
    FtpClient::setLimits({2, 2, 2});
    QVERIFY(startServer(mode));
    // More than the socket buffers take, so a server that stops reading stops the transfer.
    writeBytes("liste.csv", QByteArray(32 * 1024 * 1024, 'd'));
    // The error reaches the program's one error box, with the error number set.
    const bool ok = TFMApplication::guarded([this] { m_form->SendFil("liste.csv"); });
    QVERIFY(!ok);
    QCOMPARE(FTPFeilNr, 502);
    QCOMPARE(m_ui->messages.size(), 1);
    QVERIFY(m_ui->messages[0].text.contains("liste.csv"));
    QCOMPARE(ftpLog(), (QStringList{"FTP: Starter ny sesjon for opplasting av liste.csv",
                                    "FTP: Kobler til 127.0.0.1 som bruker tester",
                                    "FTP: Feil nr. 502, kunne ikke laste opp filen liste.csv",
                                    "FTP: Kobler fra."}));
    QVERIFY(!m_form->isVisible());
    QVERIFY(!m_form->IdFTP1->isConnected());
    QCOMPARE(panel(1), QString("Frakoblet"));
}

void TestFtpUnit::portChoice_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("port");
    QTest::newRow("a port") << "2121" << 2121;
    QTest::newRow("highest") << "65535" << 65535;
    QTest::newRow("zero") << "0" << 21;
    QTest::newRow("too high") << "65536" << 21;
    QTest::newRow("negative") << "-1" << 21;
    QTest::newRow("no number") << "ftp" << 21;
}

void TestFtpUnit::portChoice()
{
    QFETCH(QString, stored);
    QFETCH(int, port);
    FtpClient::setLimits({2, 2, 2});
    configure(0);
    setinisection("SERVER-SETTING-FTP");
    iniwritestring("port", stored);
    resetinisection();
    m_form->HentFil("liste.csv"); // whether anything answers there does not matter
    QCOMPARE(m_form->IdFTP1->port(), port);
}

void TestFtpUnit::connectFails_data()
{
    QTest::addColumn<bool>("upload");
    QTest::addColumn<QString>("server"); // "wrong password", "refused", "mute", "hangup"
    for (const bool upload : {true, false})
        for (const char *server : {"wrong password", "refused", "mute", "hangup"})
            QTest::addRow("%s, %s", upload ? "upload" : "download", server) << upload << server;
}

void TestFtpUnit::connectFails()
{
    QFETCH(bool, upload);
    QFETCH(QString, server);
    FtpClient::setLimits({2, 2, 2});
    if (server == "refused") {
        configure(unusedPort());
    } else {
        QVERIFY(startServer(server == "wrong password" ? "normal" : server));
        if (server == "wrong password") configure(m_server->port(), "feil");
    }
    writeBytes("liste.csv", "gammel");
    if (upload) {
        m_form->SendFil("liste.csv");
        QCOMPARE(FTPFeilNr, 502);
        QCOMPARE(ftpLog(), (QStringList{"FTP: Starter ny sesjon for opplasting av liste.csv",
                                        "FTP: Kobler til 127.0.0.1 som bruker tester",
                                        "FTP: Feil nr. 502, kunne ikke koble til"}));
    } else {
        m_form->HentFil("liste.csv");
        QCOMPARE(FTPFeilNr, 501);
        QCOMPARE(ftpLog(),
                 (QStringList{"FTP: Starter ny sesjon for nedlasting av liste.csv til ",
                              "FTP: Kobler til 127.0.0.1 som bruker tester",
                              "FTP: Feil nr. 501, kunne ikke koble til 127.0.0.1 med brukernavn "
                              "tester"}));
        QVERIFY(!QFile::exists("liste.tmp"));
    }
    QCOMPARE(readBytes("liste.csv"), QByteArray("gammel"));
    QVERIFY(!m_form->isVisible());
    QVERIFY(!m_form->IdFTP1->isConnected());
}

void TestFtpUnit::download_data()
{
    QTest::addColumn<QString>("local");
    QTest::addColumn<QString>("tmp");
    QTest::addColumn<QString>("old");
    QTest::addColumn<QByteArray>("remote");      // the server's file of the local file's name
    QTest::addColumn<QByteArray>("localBefore"); // null: no such file
    QTest::addColumn<QByteArray>("oldBefore");
    QTest::addColumn<QString>("oldKind");       // "", "readonly", or "folder" in place of oldBefore
    QTest::addColumn<QStringList>("placement"); // the log lines after "Kobler fra."
    QTest::addColumn<int>("error");
    QTest::addColumn<QByteArray>("localAfter");
    QTest::addColumn<QByteArray>("oldAfter");
    QTest::addColumn<QByteArray>("tmpAfter");

    QTest::newRow("first download") << "liste.csv"
                                    << "liste.tmp"
                                    << "liste.old" << QByteArray("ny") << absent() << absent() << ""
                                    << QStringList{"FTP: endret navn på liste.tmp til liste.csv"}
                                    << 0 << QByteArray("ny") << absent() << absent();
    QTest::newRow("replaces, keeps the previous")
        << "liste.csv"
        << "liste.tmp"
        << "liste.old" << QByteArray("ny") << QByteArray("gammel") << QByteArray("eldre") << ""
        << QStringList{"FTP: slettet midlertidig fil: liste.old",
                       "FTP: endret navn på liste.csv til liste.old",
                       "FTP: endret navn på liste.tmp til liste.csv"}
        << 0 << QByteArray("ny") << QByteArray("gammel") << absent();
    // The new content cannot take the local name: said so, and where it is.
    const QStringList notPlaced{"FTP: Feil nr. 500, kan ikke endre navn på liste.tmp til "
                                "liste.csv. Den nye filen ligger i liste.tmp."};
    // The old copy is the program's own: a read-only one, kept from a read-only file, goes.
    QTest::newRow("read-only old copy")
        << "liste.csv"
        << "liste.tmp"
        << "liste.old" << QByteArray("ny") << QByteArray("gammel") << QByteArray("eldre")
        << "readonly"
        << QStringList{"FTP: slettet midlertidig fil: liste.old",
                       "FTP: endret navn på liste.csv til liste.old",
                       "FTP: endret navn på liste.tmp til liste.csv"}
        << 0 << QByteArray("ny") << QByteArray("gammel") << absent();
    QTest::newRow("a folder of the old name")
        << "liste.csv"
        << "liste.tmp"
        << "liste.old" << QByteArray("ny") << QByteArray("gammel") << absent() << "folder"
        << notPlaced << 500 << QByteArray("gammel") << QByteArray("<folder>") << QByteArray("ny");
    QTest::newRow("empty remote file")
        << "liste.csv"
        << "liste.tmp"
        << "liste.old" << QByteArray("") << QByteArray("gammel") << absent() << "" << QStringList{}
        << 0 << QByteArray("gammel") << absent() << QByteArray("");
    QTest::newRow("dot in a folder name")
        << "data.v2/liste.csv"
        << "data.v2/liste.tmp"
        << "data.v2/liste.old" << QByteArray("ny") << QByteArray("gammel") << QByteArray("eldre")
        << ""
        << QStringList{"FTP: slettet midlertidig fil: data.v2/liste.old",
                       "FTP: endret navn på data.v2/liste.csv til data.v2/liste.old",
                       "FTP: endret navn på data.v2/liste.tmp til data.v2/liste.csv"}
        << 0 << QByteArray("ny") << QByteArray("gammel") << absent();
    QTest::newRow("no dot at all")
        << "README"
        << "README.tmp"
        << "README.old" << QByteArray("ny") << QByteArray("gammel") << absent() << ""
        << QStringList{"FTP: endret navn på README til README.old",
                       "FTP: endret navn på README.tmp til README"}
        << 0 << QByteArray("ny") << QByteArray("gammel") << absent();
}

void TestFtpUnit::download()
{
    QFETCH(QString, local);
    QFETCH(QString, tmp);
    QFETCH(QString, old);
    QFETCH(QByteArray, remote);
    QFETCH(QByteArray, localBefore);
    QFETCH(QByteArray, oldBefore);
    QFETCH(QString, oldKind);
    QFETCH(QStringList, placement);
    QFETCH(int, error);
    QFETCH(QByteArray, localAfter);
    QFETCH(QByteArray, oldAfter);
    QFETCH(QByteArray, tmpAfter);
    QVERIFY(startServer());
    const QString part = local.mid(local.lastIndexOf('/') + 1);
    const QString folder = local.left(local.lastIndexOf('/') + 1);
    QDir().mkpath(folder.isEmpty() ? "." : folder);
    writeBytes(m_server->file(part), remote);
    if (!localBefore.isNull()) writeBytes(local, localBefore);
    if (!oldBefore.isNull()) writeBytes(old, oldBefore);
    if (oldKind == "readonly") QCOMPARE(platform::setReadOnly(old, true), 0);
    if (oldKind == "folder") QVERIFY(QDir().mkdir(old));

    m_form->HentFil(local);
    QCOMPARE(FTPFeilNr, error);
    const QStringList expected =
        QStringList{"FTP: Starter ny sesjon for nedlasting av " + part + " til " + folder,
                    "FTP: Kobler til 127.0.0.1 som bruker tester",
                    "FTP: filstørrelse " + QString::number(remote.size()),
                    "FTP: Tilkoblet, henter filen " + part, "FTP: Kobler fra."} +
        placement;
    QCOMPARE(ftpLog(), expected);
    auto contents = [](const QString &name) {
        if (!QFile::exists(name)) return absent();
        if (QFileInfo(name).isDir()) return QByteArray("<folder>");
        const QByteArray bytes = readBytes(name);
        return bytes.isNull() ? QByteArray("") : bytes;
    };
    QCOMPARE(contents(local), localAfter);
    QCOMPARE(contents(old), oldAfter);
    QCOMPARE(contents(tmp), tmpAfter);
    QCOMPARE(contents(tmp).isNull(), tmpAfter.isNull()); // an empty file is still a file
    QVERIFY(!m_form->isVisible());
    QCOMPARE(progress()->maximum(), remote.size());
    QCOMPARE(panel(1), QString("Frakoblet"));
}

void TestFtpUnit::downloadWithoutSize_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("onServer");
    QTest::addColumn<QString>("folder");
    QTest::newRow("missing remote file") << "normal" << false << "";
    QTest::newRow("server without SIZE") << "nosize" << true << "";
    QTest::newRow("missing remote folder") << "normal" << true << "inn";
}

void TestFtpUnit::downloadWithoutSize()
{
    QFETCH(QString, mode);
    QFETCH(bool, onServer);
    QFETCH(QString, folder);
    QVERIFY(startServer(mode));
    configure(m_server->port(), TestFtpServer::password, folder);
    if (onServer) writeBytes(m_server->file("liste.csv"), "ny");
    writeBytes("liste.csv", "gammel");
    m_form->HentFil("liste.csv");
    QCOMPARE(FTPFeilNr, 0);
    const QString remote = folder.isEmpty() ? "liste.csv" : folder + "/liste.csv";
    QCOMPARE(ftpLog(), (QStringList{"FTP: Starter ny sesjon for nedlasting av liste.csv til ",
                                    "FTP: Kobler til 127.0.0.1 som bruker tester",
                                    "FTP: finner ikke filen " + remote + ", avbryter forbindelse",
                                    "FTP: 127.0.0.1 frakoblet"}));
    QCOMPARE(readBytes("liste.csv"), QByteArray("gammel"));
    QVERIFY(!QFile::exists("liste.tmp"));
    QVERIFY(!m_form->isVisible());
    QVERIFY(!m_form->IdFTP1->isConnected());
}

void TestFtpUnit::downloadBroken_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("temporary"); // what holds the temporary name: "folder"
    QTest::addColumn<QString>("failure");
    QTest::addColumn<int>("error");
    const QString retrieve =
        "FTP: Feil nr. 500, kan ikke laste ned filen liste.csv. Sjekk at filen ikke er i bruk.";
    QTest::newRow("data connection dropped") << "drop"
                                             << "" << retrieve << 500;
    QTest::newRow("data connection stalls") << "stall"
                                            << "" << retrieve << 500;
    QTest::newRow("temporary file cannot be made") << "normal"
                                                   << "folder" << retrieve << 500;
    QTest::newRow("2 GiB announced")
        << "huge"
        << ""
        << "FTP: filen liste.csv er på 3000000000 byte, 2 GiB eller mer, avbryter forbindelse"
        << 501;
}

void TestFtpUnit::downloadBroken()
{
    QFETCH(QString, mode);
    QFETCH(QString, temporary);
    QFETCH(QString, failure);
    QFETCH(int, error);
    FtpClient::setLimits({2, 2, 2});
    QVERIFY(startServer(mode));
    const QByteArray remote(400000, 'n');
    writeBytes(m_server->file("liste.csv"), remote);
    writeBytes("liste.csv", "gammel");
    writeBytes("liste.old", "eldre");
    if (temporary == "folder") QVERIFY(QDir().mkdir("liste.tmp"));

    m_form->HentFil("liste.csv");
    QCOMPARE(FTPFeilNr, error);
    QStringList expected{"FTP: Starter ny sesjon for nedlasting av liste.csv til ",
                         "FTP: Kobler til 127.0.0.1 som bruker tester"};
    if (error == 500)
        expected << "FTP: filstørrelse 400000"
                 << "FTP: Tilkoblet, henter filen liste.csv" << failure << "FTP: Kobler fra.";
    else
        expected << failure << "FTP: 127.0.0.1 frakoblet";
    QCOMPARE(ftpLog(), expected);
    QCOMPARE(readBytes("liste.csv"), QByteArray("gammel"));
    QCOMPARE(readBytes("liste.old"), QByteArray("eldre"));
    QVERIFY(!m_form->isVisible());
    QVERIFY(!m_form->IdFTP1->isConnected());
}

void TestFtpUnit::downloadKeepsTheLocalFile_data()
{
    QTest::addColumn<QString>("local");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("setup");
    QTest::newRow("local name is the temporary name") << "liste.tmp"
                                                      << "drop"
                                                      << "";
    QTest::newRow("local name is the temporary name, sound server") << "liste.tmp"
                                                                    << "normal"
                                                                    << "";
    QTest::newRow("local name is the old name") << "liste.old"
                                                << "normal"
                                                << "";
    QTest::newRow("temporary name links to the local file") << "liste.csv"
                                                            << "normal"
                                                            << "link";
    QTest::newRow("temporary name is a second name of the local file") << "liste.csv"
                                                                       << "drop"
                                                                       << "hard link";
    QTest::newRow("more bytes than announced") << "liste.csv"
                                               << "short"
                                               << "";
    QTest::newRow("disk full") << "liten/liste.csv"
                               << "normal"
                               << "small disk";
}

void TestFtpUnit::downloadKeepsTheLocalFile()
{
    QFETCH(QString, local);
    QFETCH(QString, mode);
    QFETCH(QString, setup);
    QVERIFY(startServer(mode));
    writeBytes(m_server->file("liste" + local.mid(local.lastIndexOf('.'))),
               QByteArray(100000, 'n'));
    std::unique_ptr<SmallDisk> disk;
    if (setup == "small disk") {
        QVERIFY(QDir().mkdir("liten"));
        disk = std::make_unique<SmallDisk>("liten", 16);
        if (!disk->mounted()) QSKIP("mounting a small disk needs root");
    }
    writeBytes(local, "gammel");
    if (setup == "link") QVERIFY(QFile::link("liste.csv", "liste.tmp"));
    if (setup == "hard link") QCOMPARE(::link("liste.csv", "liste.tmp"), 0);

    m_form->HentFil(local);
    QCOMPARE(FTPFeilNr, 500);
    const QStringList log = ftpLog();
    QCOMPARE(log.mid(log.size() - 2), (QStringList{"FTP: Feil nr. 500, kan ikke laste ned filen " +
                                                       local + ". Sjekk at filen ikke er i bruk.",
                                                   "FTP: Kobler fra."}));
    QCOMPARE(readBytes(local), QByteArray("gammel"));
    QVERIFY(!m_form->IdFTP1->isConnected());
}

void TestFtpUnit::downloadWhileTheLocalFileIsOpen()
{
    // As on Windows, a file the program holds open keeps its name: the new content waits under
    // the temporary name, and what the program writes goes on reaching the local file.
    QVERIFY(startServer());
    writeBytes(m_server->file("liste.csv"), "ny");
    writeBytes("liste.csv", "gammel");
    platform::FileHandle held = platform::NoFile;
    QCOMPARE(platform::openFile("liste.csv", platform::OpenMode::Append, held), 0);
    m_form->HentFil("liste.csv");
    QCOMPARE(platform::writeFile(held, "+", 1), 0);
    QCOMPARE(platform::closeFile(held), 0);
    QCOMPARE(FTPFeilNr, 500);
    QCOMPARE(ftpLog().last(), QString("FTP: Feil nr. 500, kan ikke endre navn på liste.tmp til "
                                      "liste.csv. Den nye filen ligger i liste.tmp."));
    QCOMPARE(readBytes("liste.csv"), QByteArray("gammel+"));
    QCOMPARE(readBytes("liste.tmp"), QByteArray("ny"));
    QVERIFY(!QFile::exists("liste.old"));
}

void TestFtpUnit::readOnlyFileDownloadedAgain()
{
    // The old copy each download keeps is read-only, as the file was.
    QVERIFY(startServer());
    writeBytes("liste.csv", "gammel");
    QCOMPARE(::chmod("liste.csv", 0400), 0);
    for (int i = 1; i <= 4; ++i) {
        const QByteArray bytes = "ny " + QByteArray::number(i);
        writeBytes(m_server->file("liste.csv"), bytes);
        m_form->HentFil("liste.csv");
        QCOMPARE(FTPFeilNr, 0);
        QCOMPARE(readBytes("liste.csv"), bytes);
        QCOMPARE(modeOf("liste.csv"), 0400);
    }
    QCOMPARE(readBytes("liste.old"), QByteArray("ny 3"));
    QVERIFY(!QFile::exists("liste.tmp"));
}

void TestFtpUnit::leftoverTemporary_data()
{
    // What the temporary name holds before the download; none of it is written to or kept.
    QTest::addColumn<QString>("kind");
    QTest::newRow("read-only file") << "read-only";
    QTest::newRow("file a reader holds open") << "reader";
    QTest::newRow("link to a file elsewhere") << "link";
    QTest::newRow("second name of a file elsewhere") << "hard link";
}

void TestFtpUnit::leftoverTemporary()
{
    QFETCH(QString, kind);
    QVERIFY(startServer());
    writeBytes(m_server->file("liste.csv"), QByteArray(100000, 'n'));
    writeBytes("liste.csv", "gammel");
    QVERIFY(QDir().mkdir("elsewhere"));
    writeBytes("elsewhere/other.csv", "another's");
    QCOMPARE(::chmod("elsewhere/other.csv", 0644), 0);
    if (kind == "read-only" || kind == "reader") writeBytes("liste.tmp", "fra før");
    if (kind == "read-only") QCOMPARE(::chmod("liste.tmp", 0400), 0);
    const int reader = kind == "reader" ? ::open("liste.tmp", O_RDONLY) : -1;
    auto release = qScopeGuard([reader] {
        if (reader >= 0) ::close(reader);
    });
    if (kind == "link") QVERIFY(QFile::link("elsewhere/other.csv", "liste.tmp"));
    if (kind == "hard link") QCOMPARE(::link("elsewhere/other.csv", "liste.tmp"), 0);

    m_form->HentFil("liste.csv");
    QCOMPARE(FTPFeilNr, 0);
    QCOMPARE(readBytes("liste.csv"), QByteArray(100000, 'n'));
    QCOMPARE(readBytes("liste.old"), QByteArray("gammel"));
    QVERIFY(!QFile::exists("liste.tmp"));
    QCOMPARE(readBytes("elsewhere/other.csv"), QByteArray("another's"));
    QCOMPARE(modeOf("elsewhere/other.csv"), 0644);
    if (reader < 0) return;
    QByteArray seen(200000, '\0');
    const ssize_t got = ::pread(reader, seen.data(), size_t(seen.size()), 0);
    QCOMPARE(seen.left(got), QByteArray("fra før"));
}

void TestFtpUnit::lastRenameFails()
{
    // The local file gets its name back; the new content waits under the temporary name, its
    // owner's to write.
    QVERIFY(startServer());
    writeBytes(m_server->file("liste.csv"), "ny");
    writeBytes("liste.csv", "gammel");
    QCOMPARE(::chmod("liste.csv", 0400), 0);
    placement::setRename([](const QString &from, const QString &to) {
        return from == "liste.tmp" ? 5 : platform::renameFile(from, to);
    });
    auto restore = qScopeGuard([] { placement::setRename({}); });
    m_form->HentFil("liste.csv");
    QCOMPARE(FTPFeilNr, 500);
    QCOMPARE(ftpLog().mid(5),
             (QStringList{"FTP: endret navn på liste.csv til liste.old", notPlacedLine,
                          "FTP: endret navn på liste.old til liste.csv"}));
    QCOMPARE(readBytes("liste.csv"), QByteArray("gammel"));
    QCOMPARE(modeOf("liste.csv"), 0400);
    QCOMPARE(readBytes("liste.tmp"), QByteArray("ny"));
    QCOMPARE(modeOf("liste.tmp"), 0600);
    QVERIFY(!QFile::exists("liste.old"));
}

void TestFtpUnit::localNameNotAFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("a folder") << "folder";
    QTest::newRow("a named pipe") << "fifo";
}

void TestFtpUnit::localNameNotAFile()
{
    QFETCH(QString, kind);
    QVERIFY(startServer());
    writeBytes(m_server->file("liste.csv"), "ny");
    QVERIFY(makeHostileFile("liste.csv", kind));
    if (kind == "folder") writeBytes("liste.csv/inne.txt", "inne");
    const int mode = modeOf("liste.csv");
    m_form->HentFil("liste.csv");
    QCOMPARE(FTPFeilNr, 500);
    QCOMPARE(ftpLog().mid(3),
             (QStringList{"FTP: Tilkoblet, henter filen liste.csv",
                          "FTP: Feil nr. 500, liste.csv er ikke en vanlig fil og blir ikke "
                          "erstattet.",
                          "FTP: Kobler fra."}));
    QVERIFY(isHostileFile("liste.csv", kind));
    QCOMPARE(modeOf("liste.csv"), mode);
    if (kind == "folder") QCOMPARE(readBytes("liste.csv/inne.txt"), QByteArray("inne"));
    QVERIFY(!QFile::exists("liste.old"));
    QVERIFY(!QFile::exists("liste.tmp"));
}

void TestFtpUnit::downloadsInADottedFolder()
{
    // Files outside the folder are no one's temporary or old file, and each file of the folder
    // keeps its own previous content.
    QVERIFY(startServer());
    QVERIFY(QDir().mkdir("data.v2"));
    writeBytes("data.old", "fremmed");
    writeBytes("data.tmp", "fremmed");
    for (const char *name : {"a", "b"}) {
        writeBytes(m_server->file(QString("%1.csv").arg(name)), QByteArray(name) + " ny");
        writeBytes(QString("data.v2/%1.csv").arg(name), QByteArray(name) + " gammel");
    }
    m_form->HentFil("data.v2/a.csv");
    QCOMPARE(FTPFeilNr, 0);
    m_form->HentFil("data.v2/b.csv");
    QCOMPARE(FTPFeilNr, 0);
    QCOMPARE(readBytes("data.old"), QByteArray("fremmed"));
    QCOMPARE(readBytes("data.tmp"), QByteArray("fremmed"));
    for (const char *name : {"a", "b"}) {
        QCOMPARE(readBytes(QString("data.v2/%1.csv").arg(name)), QByteArray(name) + " ny");
        QCOMPARE(readBytes(QString("data.v2/%1.old").arg(name)), QByteArray(name) + " gammel");
    }
    QCOMPARE(QDir("data.v2").entryList(QDir::Files),
             (QStringList{"a.csv", "a.old", "b.csv", "b.old"}));
}

void TestFtpUnit::temporaryTakenMeanwhile_data()
{
    // What a second download to the same temporary name (another instance, or a file whose
    // name differs only after its first dot) does to it once this one has closed it.
    QTest::addColumn<QByteArray>("other"); // the other download's bytes so far
    QTest::addColumn<bool>("stillOpen");
    // What happens to the name instead: "link" (to a file elsewhere of the same size), "same
    // size" (another file of the same size in its place), "second name" (one made for it).
    QTest::addColumn<QString>("instead");
    QTest::newRow("held open by the other download") << QByteArray("an") << true << "";
    QTest::newRow("rewritten by the other download") << QByteArray("an") << false << "";
    QTest::newRow("emptied by the other download") << QByteArray() << true << "";
    QTest::newRow("a link to a file elsewhere") << QByteArray() << false << "link";
    QTest::newRow("another file of the same size") << QByteArray() << false << "same size";
    QTest::newRow("a second name made for it") << QByteArray() << false << "second name";
}

void TestFtpUnit::temporaryTakenMeanwhile()
{
    QFETCH(QByteArray, other);
    QFETCH(bool, stillOpen);
    QFETCH(QString, instead);
    QVERIFY(startServer());
    writeBytes(m_server->file("liste.csv"), QByteArray(1000, 'n'));
    writeBytes("liste.csv", "gammel");
    QCOMPARE(::chmod("liste.csv", 0644), 0);
    QVERIFY(QDir().mkdir("elsewhere"));
    writeBytes("elsewhere/other.csv", QByteArray(1000, 'o'));
    QCOMPARE(::chmod("elsewhere/other.csv", 0600), 0);
    platform::FileHandle held = platform::NoFile;
    auto release = qScopeGuard([&] {
        if (held != platform::NoFile) platform::closeFile(held);
    });
    connect(m_form->IdFTP1, &FtpClient::disconnected, this, [&] {
        if (instead == "link") {
            QVERIFY(QFile::remove("liste.tmp"));
            QVERIFY(QFile::link("elsewhere/other.csv", "liste.tmp"));
            return;
        }
        if (instead == "same size") {
            QVERIFY(QFile::remove("liste.tmp"));
            writeBytes("liste.tmp", QByteArray(1000, 's'));
            return;
        }
        if (instead == "second name") {
            QCOMPARE(::link("liste.tmp", "elsewhere/second.csv"), 0);
            return;
        }
        QCOMPARE(platform::openFile("liste.tmp", platform::OpenMode::RewritePrivate, held), 0);
        QCOMPARE(platform::writeFile(held, other.constData(), int(other.size())), 0);
        if (stillOpen) return;
        QCOMPARE(platform::closeFile(held), 0);
        held = platform::NoFile;
    });
    m_form->HentFil("liste.csv");
    QCOMPARE(FTPFeilNr, 500);
    QCOMPARE(ftpLog().last(),
             QString("FTP: Feil nr. 500, den midlertidige filen liste.tmp ble endret eller tatt i "
                     "bruk etter nedlastingen. liste.csv er ikke erstattet."));
    QCOMPARE(readBytes("liste.csv"), QByteArray("gammel"));
    QVERIFY(!QFile::exists("liste.old"));
    QCOMPARE(readBytes("elsewhere/other.csv"), QByteArray(1000, 'o'));
    QCOMPARE(QFile::permissions("elsewhere/other.csv"),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                 QFileDevice::WriteUser);
}

void TestFtpUnit::downloadModes_data()
{
    QTest::addColumn<int>("localMode");    // -1: no local file yet
    QTest::addColumn<int>("staleTmpMode"); // a temporary file left from before; -1: none
    QTest::addColumn<int>("modeAfter");
    // A umask of 027 makes a new file 0640, so a file given the usual 0644 shows.
    QTest::newRow("private file") << 0600 << -1 << 0600;
    QTest::newRow("group may read") << 0640 << -1 << 0640;
    QTest::newRow("all may read") << 0644 << -1 << 0644;
    QTest::newRow("read-only") << 0400 << -1 << 0400;
    QTest::newRow("first download: a new file's mode") << -1 << -1 << 0640;
    QTest::newRow("temporary file left open to all") << 0600 << 0666 << 0600;
}

void TestFtpUnit::downloadModes()
{
    QFETCH(int, localMode);
    QFETCH(int, staleTmpMode);
    QFETCH(int, modeAfter);
    const mode_t savedMask = ::umask(027);
    auto restoreMask = qScopeGuard([savedMask] { ::umask(savedMask); });
    auto modeOf = [](const char *name) {
        struct stat st {};
        return ::stat(name, &st) == 0 ? QString::number(st.st_mode & 07777, 8) : QString();
    };
    auto octal = [](int mode) { return QString::number(mode, 8); };
    QVERIFY(startServer());
    writeBytes(m_server->file("liste.csv"), QByteArray(300000, 'n'));
    if (localMode >= 0) {
        writeBytes("liste.csv", "gammel");
        QCOMPARE(::chmod("liste.csv", mode_t(localMode)), 0);
    }
    if (staleTmpMode >= 0) {
        writeBytes("liste.tmp", "fra før");
        QCOMPARE(::chmod("liste.tmp", mode_t(staleTmpMode)), 0);
    }
    QStringList whileWritten;
    connect(m_form->IdFTP1, &FtpClient::work, this,
            [&] { whileWritten.append(modeOf("liste.tmp")); });

    m_form->HentFil("liste.csv");
    QCOMPARE(FTPFeilNr, 0);
    QCOMPARE(readBytes("liste.csv"), QByteArray(300000, 'n'));
    QVERIFY(!whileWritten.isEmpty());
    for (const QString &mode : whileWritten) QCOMPARE(mode, octal(0600));
    QCOMPARE(modeOf("liste.csv"), octal(modeAfter));
    if (localMode >= 0) QCOMPARE(modeOf("liste.old"), octal(localMode)); // the copy as it was
}

void TestFtpUnit::binaryRoundTrip()
{
    const QByteArray bytes =
        QByteArrayLiteral("CR LF\r\nlone LF\nlone CR\rNUL\0Ctrl-Z\x1a\xff\xfe");
    QVERIFY(startServer());
    writeBytes("bilde.bin", bytes);
    m_form->SendFil("bilde.bin");
    QCOMPARE(FTPFeilNr, 0);
    QCOMPARE(readBytes(m_server->file("bilde.bin")), bytes);
    QVERIFY(QDir().mkdir("hjem"));
    m_form->HentFil("hjem/bilde.bin");
    QCOMPARE(FTPFeilNr, 0);
    QCOMPARE(readBytes("hjem/bilde.bin"), bytes);
}

void TestFtpUnit::passwordNeverShown()
{
    // Standard error goes to a file for the while.
    QTemporaryFile errFile;
    QVERIFY(errFile.open());
    fflush(stderr);
    const int saved = dup(2);
    dup2(errFile.handle(), 2);

    QVERIFY(startServer());
    writeBytes("liste.csv", "data");
    m_form->SendFil("liste.csv");
    m_form->HentFil("liste.csv");
    const QString wrong = TestFtpServer::password + "-feil";
    configure(m_server->port(), wrong);
    m_form->SendFil("liste.csv");
    m_form->HentFil("liste.csv");
    m_server = std::make_unique<TestFtpServer>("readonly");
    QVERIFY(m_server->start());
    configure(m_server->port());
    TFMApplication::guarded([this] { m_form->SendFil("liste.csv"); });

    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    QCOMPARE(m_ui->messages.size(), 1);
    const QString everything = loglines.join('\n') + m_ui->texts().join('\n') +
                               QString::fromLocal8Bit(readBytes(errFile.fileName()));
    QVERIFY(!everything.contains(TestFtpServer::password));
    QVERIFY(!everything.contains(encodestr(TestFtpServer::password)));
}

QTEST_MAIN(TestFtpUnit)
#include "tst_ftpunit.moc"
