// tfmlabel: the TFM label string, composed from the window's fields and cut back into them.
#include "tfmlabel.h"

#include <algorithm>

QString labelSuffix(bool unik, const QString &idnr) { return unik ? QStringLiteral("T") : idnr; }

QString localisationPart(const QString &lokalisering)
{
    const qsizetype blank = lokalisering.indexOf(u' ');
    return blank < 0 ? lokalisering : lokalisering.left(blank);
}

QString systemPart(const QString &system) { return system.left(3); }

QString productPart(const QString &produkt)
{
    QString part = produkt.left(2);
    // A one-letter code is followed by its blank.
    if (part.size() == 2 && part.at(1) == u' ') part.chop(1);
    return part;
}

QString composeLabel(const LabelFields &f)
{
    return u'+' + localisationPart(f.lokalisering) + u'=' + systemPart(f.system) + u'.' + f.nr1 +
           u'-' + productPart(f.produkt) + f.nr2 + labelSuffix(f.unik, f.idnr);
}

namespace {

// The text before the first separator, taken off rest with the separator; without one, empty
// and rest stays.
template <class View> View cutBefore(View &rest, QChar separator)
{
    const qsizetype at = rest.indexOf(separator);
    if (at < 0) return View();
    const View part = rest.left(at);
    rest = rest.sliced(at + 1);
    return part;
}

// The entry as UTF-16 or, as the label list may hold it, a byte a letter.
template <class View> ReadBack readBack(View entry, qsizetype room)
{
    // Only what a field takes is copied: an entry may be megabytes long.
    const auto take = [room](View part) {
        return (room >= 0 && part.size() > room ? part.left(room) : part).toString();
    };
    ReadBack back;
    const qsizetype comma = entry.indexOf(u',');
    View rest;
    if (comma < 0) {
        back.text = take(entry);
    } else {
        back.text = take(entry.sliced(comma + 1));
        rest = entry.left(comma);
    }
    if (!rest.isEmpty()) rest = rest.sliced(1); // the "+"

    LabelFields &f = back.fields;
    f.lokalisering = take(cutBefore(rest, u'='));
    f.system = take(cutBefore(rest, u'.'));
    f.nr1 = take(cutBefore(rest, u'-'));
    // A one-letter code is composed without its blank, so a blank after the letter belongs to
    // the running number (typed so) and stays there, or the label would come back without it.
    const qsizetype code = rest.size() >= 2 && QChar(rest.at(1)) == u' ' ? 1 : 2;
    f.produkt = take(rest.left(code));
    rest = rest.sliced(std::min(code, rest.size()));
    // Stepping the running number of a type-unique label must step the number, not the "T".
    f.unik = rest.endsWith(u'T');
    f.nr2 = take(f.unik ? rest.chopped(1) : rest);
    f.idnr.clear();
    return back;
}

} // namespace

ReadBack readBackEntry(QStringView entry, qsizetype room) { return readBack(entry, room); }

ReadBack readBackEntry(QLatin1StringView entry, qsizetype room) { return readBack(entry, room); }
