// Fuzzes the checked line reader on a real file: every line comes back trimmed, without line
// ends or Ctrl-Z, and reading always reaches the end.
#include "textfil.h"

#include <QDir>
#include <QFile>

#include <cstdlib>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path =
        QDir::tempPath() + QStringLiteral("/kalvenor-fuzz-readln-%1.txt").arg(::getpid());
    {
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
        out.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    textfile f;
    if (resetsafe(f, path) != 0) std::abort();
    size_t lines = 0;
    while (!eoftextfile(f)) {
        QString line;
        readlnsafe(f, line);
        if (line.contains(u'\n') || line.contains(u'\r') || line.contains(QChar(26)) ||
            line.startsWith(u' ') || line.endsWith(u' '))
            std::abort();
        if (++lines > size) std::abort(); // every line consumes at least one byte
    }
    if (closesafe(f) != 0 || errorcount != 0) std::abort();
    return 0;
}
