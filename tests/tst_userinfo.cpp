// Tests of the user and machine facts, on a registry held in memory and on the machine's own view.
#include "Felles.h"
#include "hs_reg.h"
#include "platform.h"
#include "registry.h"
#include "testsupport.h"
#include "textfil.h"

#include <QRegularExpression>
#include <QSysInfo>
#include <QTest>

using registry::MemoryRegistry;
using registry::Value;

namespace {

// Entries "key|name=kind:text": key is "par" (TCP/IP parameters), "if:NAME" (an interface),
// "logon", "comp" or "print"; kind is text, expand, list or number. "key|" adds the key alone.
void fill(MemoryRegistry &reg, const QStringList &entries)
{
    const QString root = "System\\CurrentControlSet\\";
    for (const QString &entry : entries) {
        const QString alias = entry.section('|', 0, 0);
        const QString rest = entry.section('|', 1);
        QString key;
        if (alias == "par")
            key = root + "Services\\TCPIP\\Parameters";
        else if (alias.startsWith("if:"))
            key = root + "Services\\TCPIP\\Parameters\\Interfaces\\" + alias.mid(3);
        else if (alias == "logon")
            key = "Network\\Logon";
        else if (alias == "comp")
            key = root + "Control\\ComputerName\\ComputerName";
        else if (alias == "print")
            key = root + "Control\\Print\\Printers";
        QVERIFY2(!key.isEmpty(), qPrintable(entry));
        if (rest.isEmpty()) {
            reg.addKey(key);
            continue;
        }
        const QString name = rest.section('=', 0, 0);
        const QString kind = rest.section('=', 1).section(':', 0, 0);
        const QString text = rest.section('=', 1).section(':', 1);
        if (kind == "text")
            reg.setValue(key, name, Value::fromText(text));
        else if (kind == "expand")
            reg.setValue(key, name, Value::fromExpandText(text));
        else if (kind == "list")
            reg.setValue(key, name, Value::fromTexts(text.split(',')));
        else
            reg.setValue(key, name, Value::fromNumber(text.toUInt()));
    }
}

} // namespace

class TestUserInfo : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { pinNorwegianLocale(); }
    void init();
    void cleanup();

    void username_data();
    void username();
    void usernameIsCachedAsFound();
    void validUserNames_data();
    void validUserNames();
    void ipaddress_data();
    void ipaddress();
    void loginLine_data();
    void loginLine();
    void spoolAndTempAsStored();
    void registryReadRules();
    void machineView();

  private:
    void setEnv(const char *name, const QString &value)
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value.toUtf8());
    }

    MemoryRegistry m_reg;
    QByteArray m_username, m_temp;
    bool m_hadUsername = false, m_hadTemp = false;
};

void TestUserInfo::init()
{
    m_hadUsername = qEnvironmentVariableIsSet("USERNAME");
    m_username = qgetenv("USERNAME");
    m_hadTemp = qEnvironmentVariableIsSet("TEMP");
    m_temp = qgetenv("TEMP");
    m_reg = MemoryRegistry();
    registry::setSource(&m_reg);
    textfilInitialization();
}

void TestUserInfo::cleanup()
{
    registry::setSource(nullptr);
    hs_regFinalization(); // clears the cache and the switches' values
    loglines.clear();
    logtofile = false;
    platform::setClock({});
    if (m_hadUsername)
        qputenv("USERNAME", m_username);
    else
        qunsetenv("USERNAME");
    if (m_hadTemp)
        qputenv("TEMP", m_temp);
    else
        qunsetenv("TEMP");
}

void TestUserInfo::username_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("param");
    QTest::addColumn<QString>("envUser"); // null: unset
    QTest::addColumn<QString>("expected");

    QTest::newRow("--user") << QStringList{"logon|Username=text:ola"} << "kari"
                            << "per"
                            << "KARI";
    QTest::newRow("letters beyond A-Z") << QStringList{} << "blåbær-øy" << QString() << "BLÅBÆR-ØY";
    QTest::newRow("sharp s stays one unit") << QStringList{} << "weiß" << QString() << "WEIß";
    QTest::newRow("logon user") << QStringList{"logon|Username=text:ola"} << ""
                                << "per"
                                << "OLA";
    QTest::newRow("logon key without Username") << QStringList{"logon|Other=text:x"} << ""
                                                << "per"
                                                << "BRUKER";
    QTest::newRow("no logon key") << QStringList{} << ""
                                  << "per"
                                  << "PER";
    QTest::newRow("nothing at all") << QStringList{} << "" << QString() << "BRUKER";
    QTest::newRow("logon name that is no file name")
        << QStringList{"logon|Username=text:../x"} << ""
        << "per"
        << "BRUKER";
}

void TestUserInfo::username()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, param);
    QFETCH(QString, envUser);
    QFETCH(QString, expected);
    fill(m_reg, entries);
    userparam = param;
    setEnv("USERNAME", envUser);
    QCOMPARE(getusername(), expected);
}

void TestUserInfo::validUserNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");
    QTest::newRow("plain") << "kari" << true;
    QTest::newRow("letters beyond A-Z, dash, blank") << "Blåbær-Øy Nord" << true;
    QTest::newRow("a switch's text") << "--debug" << true;
    QTest::newRow("one dot") << "ola.nordmann" << true;
    QTest::newRow("device name inside a word") << "CONRAD" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("climbs out") << "../../../VICTIM" << false;
    QTest::newRow("two dots alone") << ".." << false;
    QTest::newRow("two dots inside") << "a..b" << false;
    QTest::newRow("slash") << "a/b" << false;
    QTest::newRow("backslash") << "..\\x" << false;
    QTest::newRow("absolute") << "/etc/passwd" << false;
    QTest::newRow("line break") << "eve\nmallory" << false;
    QTest::newRow("carriage return") << "eve\r" << false;
    QTest::newRow("tab") << "a\tb" << false;
    QTest::newRow("NUL") << QString("a") + QChar(0) + "b" << false;
    for (const char *c : {"<", ">", ":", "\"", "|", "?", "*"})
        QTest::newRow(qPrintable(QString("Windows refuses %1").arg(c)))
            << QString("a%1b").arg(c) << false;
    QTest::newRow("device") << "con" << false;
    QTest::newRow("device with a dot") << "LPT1.x" << false;
    QTest::newRow("device before blanks") << "NUL " << false;
    // The per-user file's name, ".INI" included, must fit in one name of a folder.
    QTest::newRow("as long as a file name allows") << QString(251, u'k') << true;
    QTest::newRow("one letter too long") << QString(252, u'k') << false;
    QTest::newRow("too long in the file system's bytes") << QString(130, u'å') << false;
}

// What a refused name turns into is tested with the start-up; here: which names are names.
void TestUserInfo::validUserNames()
{
    QFETCH(QString, name);
    QFETCH(bool, valid);
    QCOMPARE(validusername(name), valid);
    userparam = name;
    setEnv("USERNAME", "per");
    QCOMPARE(getusername(), valid ? platform::upperCase(name) : QString("PER"));
}

void TestUserInfo::usernameIsCachedAsFound()
{
    fill(m_reg, {"logon|Username=text:Ola"});
    QCOMPARE(getlogonuser(), QString("Ola"));
    QCOMPARE(getusername(), QString("OLA"));
    QCOMPARE(cacheduser, QString("Ola"));
    fill(m_reg, {"logon|Username=text:kari"});
    userparam = "per";
    QCOMPARE(getusername(), QString("OLA"));
}

void TestUserInfo::ipaddress_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("param");
    QTest::addColumn<QString>("expected");

    const QString lan = "par|Domain=text:lan";
    QTest::newRow("-ip wins unchecked") << QStringList{} << "hva som helst"
                                        << "hva som helst";
    QTest::newRow("no domain") << QStringList{"if:a|IPAddress=text:10.0.0.1"} << ""
                               << "";
    QTest::newRow("DhcpDomain is a domain")
        << QStringList{"par|DhcpDomain=text:lan", "if:a|IPAddress=text:10.0.0.1"} << ""
        << "10.0.0.1";
    QTest::newRow("DHCP 0.0.0.0 then text")
        << QStringList{lan, "if:a|DhcpIPAddress=text:0.0.0.0", "if:a|IPAddress=text:10.1.2.3"} << ""
        << "10.1.2.3";
    QTest::newRow("DHCP before fixed")
        << QStringList{lan, "if:a|IPAddress=text:10.1.1.1", "if:a|DhcpIPAddress=text:10.9.9.9"}
        << ""
        << "10.9.9.9";
    QTest::newRow("a list counts as 0.0.0.0")
        << QStringList{lan, "if:a|IPAddress=list:10.5.5.5", "if:b|IPAddress=text:10.0.0.7"} << ""
        << "10.0.0.7";
    QTest::newRow("a number counts as 0.0.0.0")
        << QStringList{lan, "if:a|DhcpIPAddress=number:5", "if:a|IPAddress=text:10.2.2.2"} << ""
        << "10.2.2.2";
    QTest::newRow("first interface wins")
        << QStringList{lan, "if:b|IPAddress=text:10.0.0.2", "if:a|IPAddress=text:10.0.0.1"} << ""
        << "10.0.0.2";
    QTest::newRow("nothing usable")
        << QStringList{lan, "if:a|IPAddress=text:0.0.0.0", "if:b|"} << ""
        << "0.0.0.0";
    QTest::newRow("no interfaces") << QStringList{lan} << ""
                                   << "0.0.0.0";
}

void TestUserInfo::ipaddress()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, param);
    QFETCH(QString, expected);
    fill(m_reg, entries);
    ipparam = param;
    QCOMPARE(getipaddress(), expected);
}

void TestUserInfo::loginLine_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("message");

    const QStringList machine{"logon|Username=text:kari", "comp|ComputerName=text:PC17",
                              "if:a|IPAddress=text:10.0.0.5"};
    QTest::newRow("all pieces") << machine + QStringList{"par|Domain=text:lan"}
                                << "LOGIN: kari  node: PC17.lan IP:10.0.0.5";
    QTest::newRow("no domain") << machine << "LOGIN: kari  node: PC17. IP:";
}

void TestUserInfo::loginLine()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, message);
    fill(m_reg, entries);
    userparam = "annen"; // the line shows the logon name, not the settings user
    const QDateTime when(QDate(2024, 1, 2), QTime(3, 4, 5));
    platform::setClock([when] { return when; });
    logtofile = true;
    logloginfo();
    QCOMPARE(loglines, QStringList{datetimetext(when) + " " + message});
}

void TestUserInfo::spoolAndTempAsStored()
{
    QCOMPARE(getspooldir(), QString());
    fill(m_reg, {"print|DefaultSpoolDirectory=text:C:\\spool"});
    QCOMPARE(getspooldir(), QString("C:\\spool"));
    setEnv("TEMP", QString());
    QCOMPARE(gettempdir(), QString());
    setEnv("TEMP", "/var/tmp/x");
    QCOMPARE(gettempdir(), QString("/var/tmp/x"));
}

void TestUserInfo::registryReadRules()
{
    m_reg.setValue("A\\B", "expand", Value::fromExpandText("%TEMP%\\x"));
    m_reg.setValue("A\\B", "nul", Value::fromText(QString("ab") + QChar(0) + "cd"));
    m_reg.setValue("A\\B", "list", Value::fromTexts({"x"}));
    m_reg.addKey("A\\C");
    registry::Registry reg;
    QCOMPARE(reg.readString("expand"), QString()); // no key open
    QVERIFY(reg.subkeyNames().isEmpty());
    QVERIFY(!reg.openKey("A\\Missing"));
    QVERIFY(reg.openKey("a\\b"));
    QCOMPARE(reg.readString("EXPAND"), QString("%TEMP%\\x"));
    QCOMPARE(reg.readString("nul"), QString("ab"));
    QCOMPARE(reg.readString("missing"), QString());
    QVERIFY_THROWS_EXCEPTION(registry::RegistryError, reg.readString("list"));
    QVERIFY(reg.openKey("A"));
    QCOMPARE(reg.subkeyNames(), (QStringList{"B", "C"}));
}

void TestUserInfo::machineView()
{
    registry::setSource(nullptr);
    QCOMPARE(getcomputername(), QSysInfo::machineHostName().section('.', 0, 0));
    QCOMPARE(getspooldir(), QString());
    QVERIFY(!getlogonuser().isEmpty());
    const MemoryRegistry facts = registry::machineFacts();
    const QString interfaces = "System\\CurrentControlSet\\Services\\TCPIP\\Parameters\\Interfaces";
    static const QRegularExpression ipv4("^\\d{1,3}(\\.\\d{1,3}){3}$");
    for (const QString &name : facts.subkeys(interfaces)) {
        QVERIFY(name != "lo");
        const auto address = facts.value(interfaces + "\\" + name, "IPAddress");
        if (address) QVERIFY2(ipv4.match(address->text).hasMatch(), qPrintable(address->text));
    }
}

QTEST_GUILESS_MAIN(TestUserInfo)
#include "tst_userinfo.moc"
