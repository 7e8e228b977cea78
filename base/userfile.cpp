// userfile: the per-user settings file, opened in the main file's place for a while and
// closed again.
#include "userfile.h"

#include "hs_regshared.h"
#include "inifile.h"
#include "machine.h"
#include "settings.h"

#include <memory>

using namespace hsreg;

void openuserini()
{
    if (!inifile || mainDocument) return;
    const QString user = getusername();
    mainOnDisk = writeBack(*inifile);
    mainDocument = inifile;
    inifile = new IniDocument(etcpath + user + QStringLiteral(".INI"));
    reportUnreadable(*inifile);
}

void closeuserini()
{
    if (!mainDocument) return;
    writeBack(*inifile);
    delete inifile;
    inifile = mainDocument;
    mainDocument = nullptr;
    // The file is read anew only when it holds everything the document held.
    if (!mainOnDisk) return;
    auto fresh = std::make_unique<IniDocument>(ininame);
    if (fresh->readError()) {
        reportUnreadable(*fresh);
        return;
    }
    delete inifile;
    inifile = fresh.release();
}
