// Fuzz target for the INI reader: any bytes read as a settings file, written back and read
// again must give the same document, and the second write-back the same bytes; the same bytes
// written as a value must come back as that one value.
#include "inifile.h"
#include "platform.h"

#include <QByteArrayView>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    IniDocument first;
    first.parse(bytes);
    const QByteArray written = first.toBytes();

    IniDocument second;
    second.parse(written);
    if (!(second == first)) std::abort();
    if (second.toBytes() != written) std::abort();

    // Lookups must find what the document holds: the later duplicate of every section.
    for (const QString &name : first.sectionNames())
        if (!first.sectionExists(name)) std::abort();

    // The same bytes as a value: once written and read again, they add no section and no key
    // of their own, and read back with line breaks as blanks and the ends trimmed.
    const QString text = platform::fromAnsi(bytes);
    IniDocument withValue = first;
    withValue.writeString(QStringLiteral("FUZZ"), QStringLiteral("k"), text);
    IniDocument third;
    third.parse(withValue.toBytes());
    if (third.sectionNames() != withValue.sectionNames()) std::abort();
    if (third.sectionLines(QStringLiteral("FUZZ")).size() !=
        withValue.sectionLines(QStringLiteral("FUZZ")).size())
        std::abort();
    QString expected = text;
    for (QChar &c : expected)
        if (c == u'\r' || c == u'\n') c = u' ';
    qsizetype from = 0, to = expected.size();
    while (from < to && expected[from].unicode() <= 32) ++from;
    while (to > from && expected[to - 1].unicode() <= 32) --to;
    if (third.readString(QStringLiteral("FUZZ"), QStringLiteral("k"), QString()) !=
        expected.sliced(from, to - from))
        std::abort();
    return 0;
}
