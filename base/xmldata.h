// xmldata: the hook through which the base library's XML interface reports to the log.
#pragma once

#include <QString>

using TXMLLoggProc = void (*)(int code, const QString &text);

extern TXMLLoggProc XMLLoggProc;

// Logs "XML: " lines while verbose, and only while it is the installed hook.
void XMLLogg(int code, const QString &text);

void xmldataInitialization();
void xmldataFinalization();
