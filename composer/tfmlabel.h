// tfmlabel: the TFM label string, composed from the window's fields and cut back into them. It
// needs nothing but QtCore, so the fuzz build compiles it as it stands.
#pragma once

#include <QLatin1StringView>
#include <QString>
#include <QStringView>

struct LabelFields {
    QString lokalisering;
    QString system;
    QString produkt;
    QString nr1;
    QString nr2;
    bool unik = false;
    QString idnr;
};

QString labelSuffix(bool unik, const QString &idnr);
QString localisationPart(const QString &lokalisering);
QString systemPart(const QString &system);
QString productPart(const QString &produkt);
QString composeLabel(const LabelFields &fields);

// A label-list entry read back: the fields its label is cut into, and its text.
struct ReadBack {
    LabelFields fields;
    QString text;
};

// Splits an entry at its first comma and cuts the label into the fields. The entry does not
// say where the running number ends and the suffix begins, so the fields are set to compose the
// label exactly: a final "T" becomes a ticked type-unique box, anything else stays in the
// running number with the box clear and no ID number. With room not negative, each field and
// the text hold at most that many characters of theirs.
ReadBack readBackEntry(QStringView entry, qsizetype room = -1);
ReadBack readBackEntry(QLatin1StringView entry, qsizetype room = -1);
