// ftpsettings: the FTP settings that every transfer loads.
#include "ftpsettings.h"

#include "Felles.h"
#include "hs_reg.h"
#include "serveroppsett.h"

const QString DefaultFTPServer = QStringLiteral("ftp.kalvenor.no");
const QString DefaultFTPBruker = QStringLiteral("anonymous");
const QString DefaultFTPPassord = QStringLiteral("fremlatok");

QString FTPServer = DefaultFTPServer;
QString FTPMappe;
QString FTPBruker = DefaultFTPBruker;
QString FTPPassord = DefaultFTPPassord;
std::int32_t FTPPort = 21;
std::int32_t FTPFeilNr = 0;

namespace {

const QString FtpSection = QStringLiteral("SERVER-SETTING-FTP");

} // namespace

void ftpunitInitialization()
{
    FTPServer = DefaultFTPServer;
    FTPMappe.clear();
    FTPBruker = DefaultFTPBruker;
    FTPPassord = DefaultFTPPassord;
    FTPPort = 21;
    FTPFeilNr = 0;
}

void LesFTPOppsett()
{
    setinisection(FtpSection);
    FTPServer = inireadstring(QStringLiteral("server"));
    FTPMappe = inireadstring(QStringLiteral("folder"));
    FTPBruker = inireadstring(QStringLiteral("username"));
    FTPPassord = decodestr(inireadstring(QStringLiteral("password")));
    FTPPort = inireadint(QStringLiteral("port"));
    resetinisection();
}

void SkrivStandardFTPOppsett()
{
    setinisection(FtpSection);
    iniwritestring(QStringLiteral("name"), QStringLiteral("Kalvenor FTP-server"));
    iniwritestring(QStringLiteral("server"), DefaultFTPServer);
    iniwritestring(QStringLiteral("folder"), QString());
    iniwritestring(QStringLiteral("username"), DefaultFTPBruker);
    iniwritestring(QStringLiteral("password"), encodestr(DefaultFTPPassord));
    iniwriteint(QStringLiteral("port"), 21);
    resetinisection();
}

void HentFTPOppsett()
{
    LesFTPOppsett();
    if (FTPServer.isEmpty()) {
        SkrivStandardFTPOppsett();
        VisServerOppsett(QStringLiteral("Oppsett FTP-server"), QStringLiteral("FTP"));
        LesFTPOppsett();
    }
    if (FTPBruker.isEmpty()) FTPBruker = DefaultFTPBruker;
    if (FTPPassord.isEmpty()) FTPPassord = DefaultFTPPassord;
}
