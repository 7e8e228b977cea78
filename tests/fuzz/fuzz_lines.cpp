// Fuzzes the whole-file line reader: any bytes decode, to as many lines as the count that a
// line limit is checked by gives, and the lines written back in the remembered encoding decode
// to the same lines.
#include "platform.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    platform::Encoding enc;
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QStringList lines = platform::decodeLines(bytes, enc);
    if (platform::countLines(bytes) != lines.size()) std::abort();
    for (const QString &line : lines)
        if (line.contains(u'\r') || line.contains(u'\n')) std::abort();
    const platform::Encoding wanted = platform::writableEncoding(lines, enc);
    platform::Encoding again;
    if (platform::decodeLines(platform::encodeLines(lines, wanted), again) != lines) std::abort();
    if (again != wanted) std::abort();
    return 0;
}
