// placement: how a downloaded file takes the local file's place. The bytes go into a fresh
// temporary file beside the local file; only that very file, whole, replaces the local file,
// whose previous content stays under the old name; when the new file cannot take the name, the
// local file keeps it. Every step writes its log line.
#pragma once

#include "files.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace placement {

// Up to and including the last separator; empty for a bare name.
QString folderPart(const QString &path);
QString filePart(const QString &path);
// A download's temporary or old name: only the file part takes the new extension, so that the
// name stays in the local file's folder whatever dots the folders hold. Two files of one folder
// whose names differ only after the first dot (a.b.csv, a.c.csv) still share it, and so share
// one kept old copy.
QString besideFile(const QString &path, const QString &extension);

// The rename every step uses; tests put one of their own in its place, and an empty one brings
// platform::renameFile back.
void setRename(std::function<int(const QString &from, const QString &to)> rename);

class Download {
  public:
    explicit Download(const QString &local);
    ~Download();
    Download(const Download &) = delete;
    Download &operator=(const Download &) = delete;

    const QString &local() const { return m_local; }
    const QString &temporary() const { return m_temporary; }
    const QString &old() const { return m_old; }

    // Makes a fresh temporary file for the bytes, open as file(), in place of any left from
    // before. An empty text, or the log line of why there is none.
    QString prepare();
    platform::FileHandle file() const { return m_file; }
    // The log line of a retrieve that failed.
    QString notRetrieved() const;
    // After a transfer of size bytes without error: puts the new file in the local file's place
    // when it holds any byte. 0, or 500 when the local file stays as it was.
    int place(std::int64_t size);

  private:
    bool written(std::int64_t size) const;
    int refuse(const QString &line) const;
    void removeOld() const;
    bool takeName(const QString &from, const QString &to) const;
    bool takeLocalName(unsigned mode) const;

    QString m_local;
    QString m_temporary;
    QString m_old;
    platform::FileHandle m_file = platform::NoFile;
};

} // namespace placement
