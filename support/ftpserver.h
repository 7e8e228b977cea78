// ftpserver: a real FTP server (pyftpdlib under Debian's python3) for the tests and the
// benchmarks, on a free port of 127.0.0.1, with a temporary folder, a user and a password, for
// as long as the object lives.
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

class TestFtpServer {
  public:
    // The kinds of server ftpserver.py knows: "normal", "nosize", "drop", "stall", "readonly",
    // "mute", "huge", "short", "hangup", "trickle", "onelogin". An empty password is `password`.
    explicit TestFtpServer(const QString &mode = QStringLiteral("normal"),
                           const QString &password = QString());
    ~TestFtpServer();
    TestFtpServer(const TestFtpServer &) = delete;
    TestFtpServer &operator=(const TestFtpServer &) = delete;

    // False, with the reason in error(), when the server did not come up.
    bool start();
    void stop();

    int port() const { return m_port; }
    QString root() const { return m_root.path(); }
    QString file(const QString &name) const { return m_root.filePath(name); }
    QString error() const { return m_error; }

    static const QString user;
    static const QString password;

  private:
    QString m_mode;
    QString m_password;
    QTemporaryDir m_root;
    QProcess m_process;
    int m_port = 0;
    QString m_error;
};

// A port of 127.0.0.1 on which nothing listens.
int unusedPort();
