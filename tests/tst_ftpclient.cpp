// Tests of the FTP client against a real server: names that stay one name, bytes that move
// unchanged, and time limits for servers that never answer or stop sending.
#include "ftpclient.h"

#include "ftpserver.h"
#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

class TestFtpClient : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    // First: it needs a process that has made no request yet.
    void libcurlLoadedByTheFirstRequest();
    void encodedPath_data();
    void encodedPath();
    void oddNames_data();
    void oddNames();
    void bytesUnchanged();
    void sizeAndEvents();
    void lineBreakInCredentials();
    void deadServers_data();
    void deadServers();
    void stallCountsFromTheLastByte_data();
    void stallCountsFromTheLastByte();

  private:
    void login(FtpClient &client, const TestFtpServer &server);
    std::unique_ptr<Sandbox> m_box;
};

void TestFtpClient::init()
{
    m_box = std::make_unique<Sandbox>();
    FtpClient::setLimits({});
}

void TestFtpClient::cleanup()
{
    FtpClient::setLimits({});
    FtpClient::setClock({});
    m_box.reset();
}

void TestFtpClient::login(FtpClient &client, const TestFtpServer &server)
{
    client.setHost(QStringLiteral("127.0.0.1"));
    client.setPort(server.port());
    client.setUsername(TestFtpServer::user);
    client.setPassword(TestFtpServer::password);
}

namespace {
bool libcurlMapped()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libcurl");
}
} // namespace

// The transfer window's client is made at every start; libcurl and what it pulls in are not
// loaded until it is used.
void TestFtpClient::libcurlLoadedByTheFirstRequest()
{
    FtpClient client;
    QVERIFY(!libcurlMapped());
    TestFtpServer server;
    QVERIFY2(server.start(), qPrintable(server.error()));
    login(client, server);
    client.connectToServer();
    QVERIFY(client.isConnected());
    QVERIFY(libcurlMapped());
    client.disconnectFromServer();
}

void TestFtpClient::encodedPath_data()
{
    QTest::addColumn<QString>("remote");
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("plain") << "liste.csv" << QByteArray("liste.csv");
    QTest::newRow("folder kept") << "inn/ut/liste.csv" << QByteArray("inn/ut/liste.csv");
    QTest::newRow("absolute folder") << "/pub/a" << QByteArray("/pub/a");
    QTest::newRow("blank hash query percent")
        << "a b#c?d%e" << QByteArray("a%20b%23c%3Fd%25e");
    QTest::newRow("line break") << "x\r\nDELE y" << QByteArray("x%0D%0ADELE%20y");
    QTest::newRow("letters beyond ASCII") << "blå" << QByteArray("bl%C3%A5");
}

void TestFtpClient::encodedPath()
{
    QFETCH(QString, remote);
    QFETCH(QByteArray, path);
    QCOMPARE(FtpClient::encodedPath(remote), path);
}

void TestFtpClient::oddNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("stored"); // else refused, and nothing else happens on the server
    QTest::newRow("blanks") << "to  ord.txt" << true;
    QTest::newRow("hash and query") << "nr#1?.txt" << true;
    QTest::newRow("percent") << "100%25.txt" << true;
    QTest::newRow("semicolon type") << "a;type=a" << true;
    QTest::newRow("letters beyond ASCII") << "blåbær.txt" << true;
    QTest::newRow("line feed and a command") << "x\nDELE offer.txt" << false;
    QTest::newRow("carriage return") << "x\rDELE offer.txt" << false;
}

void TestFtpClient::oddNames()
{
    QFETCH(QString, name);
    QFETCH(bool, stored);
    TestFtpServer server;
    QVERIFY2(server.start(), qPrintable(server.error()));
    writeBytes(server.file("offer.txt"), "stays");
    writeBytes("local.bin", "innhold");

    FtpClient client;
    login(client, server);
    client.connectToServer();
    if (stored) {
        client.put("local.bin", name);
        QCOMPARE(readBytes(server.file(name)), QByteArray("innhold"));
        QCOMPARE(client.size(name), 7);
        client.get(name, "back.bin");
        QCOMPARE(readBytes("back.bin"), QByteArray("innhold"));
    } else {
        QVERIFY_THROWS_EXCEPTION(FtpError, client.put("local.bin", name));
    }
    client.disconnectFromServer();
    QCOMPARE(readBytes(server.file("offer.txt")), QByteArray("stays"));
    const QStringList expected = stored ? QStringList{name, "offer.txt"} : QStringList{"offer.txt"};
    QStringList files = QDir(server.root()).entryList(QDir::Files);
    files.sort();
    QStringList sortedExpected = expected;
    sortedExpected.sort();
    QCOMPARE(files, sortedExpected);
}

void TestFtpClient::bytesUnchanged()
{
    // Line ends of every kind, a NUL, a Ctrl-Z and every byte value: what an ASCII transfer
    // would rewrite.
    QByteArray bytes = QByteArrayLiteral("en\r\nto\nlone cr\rnul\0end\x1a");
    for (int i = 0; i < 256; ++i) bytes += char(i);
    writeBytes("binary.dat", bytes);
    TestFtpServer server;
    QVERIFY2(server.start(), qPrintable(server.error()));
    FtpClient client;
    login(client, server);
    client.connectToServer();
    client.put("binary.dat", "binary.dat");
    QCOMPARE(readBytes(server.file("binary.dat")), bytes);
    QCOMPARE(client.size("binary.dat"), bytes.size());
    client.get("binary.dat", "back.dat");
    QCOMPARE(readBytes("back.dat"), bytes);
}

void TestFtpClient::sizeAndEvents()
{
    TestFtpServer server;
    QVERIFY2(server.start(), qPrintable(server.error()));
    writeBytes(server.file("data.bin"), QByteArray(300000, 'x'));
    FtpClient client;
    QSignalSpy connected(&client, &FtpClient::connected);
    QSignalSpy disconnected(&client, &FtpClient::disconnected);
    QSignalSpy work(&client, &FtpClient::work);
    login(client, server);
    QVERIFY(!client.isConnected());
    client.connectToServer();
    QVERIFY(client.isConnected());
    QCOMPARE(connected.size(), 1);
    QCOMPARE(client.size("data.bin"), 300000);
    QCOMPARE(client.size("missing.bin"), -1);
    QVERIFY(client.isConnected()); // a missing file is an answer, not a failure
    client.get("data.bin", "data.bin");
    QVERIFY(!work.isEmpty());
    QCOMPARE(work.last().at(0).value<std::int64_t>(), 300000);
    auto count = [&](qsizetype i) { return work.at(i).at(0).value<std::int64_t>(); };
    for (qsizetype i = 1; i < work.size(); ++i) QVERIFY(count(i) > count(i - 1)); // only grows
    client.disconnectFromServer();
    client.disconnectFromServer();
    QVERIFY(!client.isConnected());
    QCOMPARE(disconnected.size(), 1);
}

void TestFtpClient::lineBreakInCredentials()
{
    TestFtpServer server;
    QVERIFY2(server.start(), qPrintable(server.error()));
    FtpClient client;
    login(client, server);
    client.setPassword(TestFtpServer::password + "\r\nDELE x");
    try {
        client.connectToServer();
        QFAIL("a password with a line break was sent");
    } catch (const FtpError &e) {
        QVERIFY(!e.message().contains(TestFtpServer::password));
    }
    QVERIFY(!client.isConnected());
}

void TestFtpClient::deadServers_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("connects");
    QTest::newRow("no greeting") << "mute" << false;
    QTest::newRow("data stops half-way") << "stall" << true;
}

void TestFtpClient::deadServers()
{
    QFETCH(QString, mode);
    QFETCH(bool, connects);
    FtpClient::setLimits({2, 2, 2});
    TestFtpServer server(mode);
    QVERIFY2(server.start(), qPrintable(server.error()));
    writeBytes(server.file("data.bin"), QByteArray(200000, 'y'));
    FtpClient client;
    login(client, server);
    if (!connects) {
        QVERIFY_THROWS_EXCEPTION(FtpError, client.connectToServer());
        QVERIFY(!client.isConnected());
        return;
    }
    client.connectToServer();
    QVERIFY_THROWS_EXCEPTION(FtpError, client.get("data.bin", "data.bin"));
    QVERIFY(!client.isConnected());
}

void TestFtpClient::stallCountsFromTheLastByte_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("bytes keep coming") << "normal";
    QTest::newRow("stops half-way") << "stall";
}

void TestFtpClient::stallCountsFromTheLastByte()
{
    // The clock jumps 20 s with every byte count that grows, so the transfer as a whole lasts
    // far longer than the limit; 30 s more once the server has sent all it ever will. Only that
    // stands still long enough, and the default limit holds it no longer.
    QFETCH(QString, mode);
    FtpClient::setLimits({2, 2, 30});
    std::int64_t offset = 0;
    QElapsedTimer real;
    real.start();
    FtpClient::setClock([&] { return real.elapsed() + offset; });
    TestFtpServer server(mode);
    QVERIFY2(server.start(), qPrintable(server.error()));
    const int size = 400000;
    writeBytes(server.file("data.bin"), QByteArray(size, 'y'));
    FtpClient client;
    login(client, server);
    connect(&client, &FtpClient::work, this, [&](std::int64_t count) {
        offset += mode == "stall" && count == size / 2 ? 30000 : 20000;
    });
    client.connectToServer();
    if (mode == "normal") {
        client.get("data.bin", "data.bin");
        QCOMPARE(readBytes("data.bin").size(), size);
        return;
    }
    try {
        client.get("data.bin", "data.bin");
        QFAIL("a transfer that stood still did not fail");
    } catch (const FtpError &e) {
        QVERIFY2(e.message().contains("ingen byte er flyttet på 30 sekunder"),
                 qPrintable(e.message()));
    }
    QVERIFY(!client.isConnected());
}

QTEST_MAIN(TestFtpClient)
#include "tst_ftpclient.moc"
