// Test support: a recorder in place of the user interface, and a sandbox with its own
// application-data and working folders.
#pragma once

#include "platform.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QTemporaryDir>

struct RecordedMessage {
    QString caption;
    QString text;
    platform::Icon icon;
};

// Records what the base library would show, so no test ever blocks on a box or starts a program.
class RecordingUi final : public platform::UserInterface {
  public:
    RecordingUi();
    ~RecordingUi() override;
    void message(const QString &caption, const QString &text, platform::Icon icon) override;
    void setBusyCursor(bool busy) override;
    void shellOpen(const QString &file, const QString &parameters, const QString &folder) override;

    QList<RecordedMessage> messages;
    QList<bool> cursor; // every busy-cursor change, in order
    QStringList opened; // every shellOpen file, in order
    QStringList texts() const;
    void clear();
};

// A temporary "APPDATA" and a temporary working folder, both removed afterwards; the old
// environment and working folder are restored.
class Sandbox {
  public:
    Sandbox();
    ~Sandbox();
    QString appdata() const { return m_appdata.path(); }
    QString work() const { return m_work.path(); }

  private:
    QTemporaryDir m_appdata;
    QTemporaryDir m_work;
    QByteArray m_oldAppdata;
    bool m_hadAppdata;
    QString m_oldCwd;
};

QByteArray readBytes(const QString &path);
void writeBytes(const QString &path, const QByteArray &bytes);
// Puts something that is no plain text file at path: "fifo" (a named pipe), "zero" (a link to
// /dev/zero), "folder", "oversized" (a sparse file one byte over the largest text file read), or
// "linefeeds" (a small file of a million and one empty lines).
bool makeHostileFile(const QString &path, const QString &kind);
// The line end a file of the kind "64 MiB of LF" (CR, CR LF) is made of, the largest file read
// whole and nothing but line ends; empty for other kinds.
QByteArray hostileLineEnd(const QString &kind);
// Whether path still holds what makeHostileFile put there.
bool isHostileFile(const QString &path, const QString &kind);
// Every entry of a folder, so that a temporary left behind shows.
QStringList entries(const QString &folder);
// A tiny file system of its own (tmpfs, 64 KiB) mounted on a folder while the object lives;
// mounting needs root, so a test skips where mounted() is false.
class SmallDisk {
  public:
    SmallDisk(const QString &folder, int inodes);
    ~SmallDisk();
    bool mounted() const { return m_mounted; }
    // Fills every free byte with a file of the given name.
    bool fill(const QString &name);

  private:
    QString m_folder;
    bool m_mounted = false;
};

// Norwegian Bokmål, so date-time texts have a known form.
void pinNorwegianLocale();
