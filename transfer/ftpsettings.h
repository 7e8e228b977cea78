// ftpsettings: the FTP settings that every transfer loads from "SERVER-SETTING-FTP", and the
// error number the last transfer left.
#pragma once

#include <QString>

#include <cstdint>

extern QString FTPServer;
extern QString FTPMappe;
extern QString FTPBruker;
extern QString FTPPassord;
extern std::int32_t FTPPort;
extern std::int32_t FTPFeilNr;

// The defaults of a server that nobody has configured.
extern const QString DefaultFTPServer;
extern const QString DefaultFTPBruker;
extern const QString DefaultFTPPassord;

void LesFTPOppsett();
void SkrivStandardFTPOppsett();
// Makes the variables hold settings a transfer can use; asks the user once when no server is
// configured.
void HentFTPOppsett();
// Returns the unit's variables to their first state.
void ftpunitInitialization();
