// Fuzzes the label list's file: any bytes open into a sorted list, and the list saved and
// opened again gives the same entries in the same order; a file already in that order and
// without a mark comes back byte for byte.
#include "labellist.h"

#include <QCoreApplication>
#include <QLocale>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool pinned = [] {
        QLocale::setDefault(QLocale(QLocale::NorwegianBokmal, QLocale::Norway));
        return true;
    }();
    (void)pinned;
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    platform::Encoding enc;
    const QStringList lines = platform::decodeLines(bytes, enc);

    LabelListModel list;
    list.setEncoding(enc);
    list.replace(lines);
    const QStringList sorted = list.entries();
    if (sorted.size() != lines.size()) std::abort();
    // Adding one by one gives the order that sorting the whole file gives.
    LabelListModel added;
    for (const QString &line : lines) added.add(line);
    if (added.entries() != sorted) std::abort();

    const QByteArray saved = platform::encodeLines(sorted, saveEncoding(sorted, list.encoding()));
    // The size the list keeps of its file is the size saving writes, also after an add.
    if (list.writtenSize() != saved.size()) std::abort();
    if (list.add(QStringLiteral("ÿþ")) >= 0 &&
        list.writtenSize() !=
            platform::encodeLines(list.entries(), saveEncoding(list.entries(), list.encoding()))
                .size())
        std::abort();
    platform::Encoding again;
    LabelListModel reopened;
    reopened.replace(platform::decodeLines(saved, again));
    if (reopened.entries() != sorted) std::abort();
    if (enc == platform::Encoding::Ansi && sorted == lines && bytes.endsWith("\r\n") &&
        platform::encodeLines(lines, platform::Encoding::Ansi) == bytes && saved != bytes)
        std::abort();
    return 0;
}
