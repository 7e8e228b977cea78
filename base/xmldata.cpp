// xmldata: the hook through which the base library's XML interface reports to the log.
#include "xmldata.h"

#include "textfil.h"

TXMLLoggProc XMLLoggProc = nullptr;

void XMLLogg(int code, const QString &text)
{
    if (XMLLoggProc == &XMLLogg && verbose)
        writelog(QStringLiteral("XML: ") + QString::number(code) + u' ' + text);
}

void xmldataInitialization() { XMLLoggProc = &XMLLogg; }

void xmldataFinalization() { XMLLoggProc = nullptr; }
