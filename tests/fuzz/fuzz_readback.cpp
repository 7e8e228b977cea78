// Fuzzes reading a label-list entry back into the fields: any entry is cut without fault, the
// text is all after the first comma, and every label of the composed shape (separators in
// order, a localisation without blanks, a system code of at most three characters) comes back
// as fields that compose exactly that label.
#include "tfmlabel.h"

#include <cstdlib>

namespace {

bool composedShape(const QString &label)
{
    if (!label.startsWith(u'+')) return false;
    const qsizetype eq = label.indexOf(u'=', 1);
    if (eq < 0) return false;
    const qsizetype dot = label.indexOf(u'.', eq + 1);
    if (dot < 0) return false;
    const qsizetype dash = label.indexOf(u'-', dot + 1);
    if (dash < 0) return false;
    if (label.mid(1, eq - 1).contains(u' ')) return false;
    return dot - eq - 1 <= 3;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Two bytes a character, so that any UTF-16 code unit can occur.
    QString entry(qsizetype(size / 2), Qt::Uninitialized);
    for (size_t i = 0; i + 1 < size; i += 2)
        entry[qsizetype(i / 2)] = QChar(char16_t(data[i] | (data[i + 1] << 8)));

    const ReadBack back = readBackEntry(entry);
    const qsizetype comma = entry.indexOf(u',');
    if (back.text != (comma < 0 ? entry : entry.mid(comma + 1))) std::abort();
    if (!back.fields.idnr.isEmpty()) std::abort();
    const QString label = comma < 0 ? QString() : entry.left(comma);
    if (composedShape(label)) {
        if (composeLabel(back.fields) != label) std::abort();
        // The type-unique box is ticked exactly when what follows the product code ends in "T".
        const QString after =
            label.mid(label.indexOf(u'-', label.indexOf(u'.', label.indexOf(u'=', 1) + 1) + 1) + 1 +
                      back.fields.produkt.size());
        if (back.fields.unik != after.endsWith(u'T')) std::abort();
    }
    return 0;
}
