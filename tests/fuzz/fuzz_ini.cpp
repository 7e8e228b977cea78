// Fuzz target for the INI reader: any bytes read as a settings file, written back and read
// again must give the same document, and the second write-back the same bytes.
#include "inifile.h"

#include <QByteArrayView>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    IniDocument first;
    first.parse(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    const QByteArray written = first.toBytes();

    IniDocument second;
    second.parse(written);
    if (!(second == first)) std::abort();
    if (second.toBytes() != written) std::abort();

    // Lookups must find what the document holds: the later duplicate of every section.
    for (const QString &name : first.sectionNames())
        if (!first.sectionExists(name)) std::abort();
    return 0;
}
