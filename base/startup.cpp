// startup: the base library's single start-up and shut-down, run by the program entry
// before the first window and after the message loop, in a fixed order of units.
#include "startup.h"

#include "hs_reg.h"
#include "textfil.h"
#include "xmldata.h"

// The order is spelled out here rather than left to static initialisers: hs_reg needs the
// log that textfil sets up, and xmldata logs through it.
void basestartup(const QStringList &arguments)
{
    // Felles: nothing to set up.
    textfilInitialization();
    hs_regInitialization(arguments.mid(1)); // the switches, without the program's own path
    // input and TFM (the composer) and ftpunit (the transfer) have no start-up work; the
    // base library stands in for them here and never calls the composer.
    xmldataInitialization();
}

void baseshutdown()
{
    // ftpunit: nothing to shut down.
    xmldataFinalization();
    // TFM and input: nothing to shut down.
    hs_regFinalization();
    textfilFinalization();
    // Felles: nothing to shut down.
}
