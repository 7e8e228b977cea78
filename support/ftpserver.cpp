// ftpserver: the FTP server that the transfer tests and the transfer benchmark start.
#include "ftpserver.h"

#include <QHostAddress>
#include <QTcpServer>

const QString TestFtpServer::user = QStringLiteral("tester");
const QString TestFtpServer::password = QStringLiteral("Pw-7rosa-Hemmelig");

TestFtpServer::TestFtpServer(const QString &mode, const QString &password)
    : m_mode(mode), m_password(password.isEmpty() ? TestFtpServer::password : password)
{
}

TestFtpServer::~TestFtpServer() { stop(); }

bool TestFtpServer::start()
{
    // Debian's interpreter: it has the pyftpdlib package, whatever python3 comes first on PATH.
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(KALVENOR_FTPSERVER_SCRIPT),
                                                         m_root.path(), user, m_password, m_mode});
    if (!m_process.waitForStarted(10000)) {
        m_error = m_process.errorString();
        return false;
    }
    QByteArray line;
    while (!line.endsWith('\n')) {
        if (!m_process.waitForReadyRead(15000)) {
            m_error = QString::fromLocal8Bit(m_process.readAllStandardError());
            return false;
        }
        line += m_process.readAllStandardOutput();
    }
    m_port = line.trimmed().mid(5).toInt(); // "PORT <n>"
    if (m_port <= 0) m_error = QStringLiteral("no port in ") + QString::fromLatin1(line);
    return m_port > 0;
}

void TestFtpServer::stop()
{
    if (m_process.state() == QProcess::NotRunning) return;
    m_process.kill();
    m_process.waitForFinished(5000);
}

int unusedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}
