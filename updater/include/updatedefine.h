// Definitions shared by the updater's classes: the fixed texts of the settings store and the
// parameter string, the catalogue endpoints, and the Comm helpers.
#ifndef UPDATER_INCLUDE_UPDATEDEFINE_H
#define UPDATER_INCLUDE_UPDATEDEFINE_H

#include <QString>
#include <QStringList>
#include <QVariant>

class CKT_WideString;

class QFile;
class QWidget;

namespace Updater {
// The reader's settings store and the values the updater reads from it.
constexpr char SettingsOrganization[] = "Zandro Software";
constexpr char SettingsApplication[] = "Zandro Reader";
constexpr char KeyUpdateParam[] = "Quillet_UpdateParam";
constexpr char KeyUpdateOldPath[] = "Quillet_UpdateOldPath";

// Keys and values of the parameter string.
constexpr char ParamType[] = "type";
constexpr char ParamUpdater[] = "updater";
constexpr char ParamProduct[] = "product";
constexpr char ParamVersion[] = "version";
constexpr char ParamExpress[] = "bExpress";
constexpr char TypeUpdateList[] = "Update List";
constexpr char ModeManual[] = "Manual";

// Path of the catalogue service on either endpoint.
constexpr char CataloguePath[] = "/addons/get_addons.php";
// Environment variable that points both endpoints at another host[:port] (tests, demo).
constexpr char CatalogueHostEnv[] = "ZANDRO_CATALOGUE_HOST";
} // namespace Updater

// What stands at a path, taken without following a link: a pass notes it when it makes or
// unpacks something and compares it just before handing it on, so that nothing swapped in
// between is used.
struct FileIdentity
{
    enum Kind
    {
        Missing,
        RegularFile,
        Folder,
        Other // a link, a pipe, a device
    };
    Kind kind = Missing;
    quint64 device = 0;
    quint64 inode = 0;

    static FileIdentity of(const QString &path);
    // The same file or folder as other, and something was there.
    bool sameAs(const FileIdentity &other) const;
};

// One entry of a package's Setup.xml: a file to hand to the installer.
struct _SetupInfo
{
    QString setupFile; // unpack folder + the entry's name; empty for entries other than "file"
    QString parameter; // read and kept, not used by the installation
    bool isCommon = false;
    FileIdentity unpacked; // the regular file the unpacker wrote at setupFile
};

// One module offered by the catalogue, made by the catalogue manager from one module element of
// the reply. The manager owns every record; the run controller and the download window only read.
struct MODULEINFO
{
    QString group;
    QString name;
    QString version;
    QString description;
    QString size;
    QString url;
    QString level;
    QString regKey;
    bool result = false;
    QString moduleType;
    QString parent;
    QString title;
    bool plugin = false;
    bool isNew = false;
    bool isCommon = false;
    int updateMode = 0;
    QString internalService;
    QString sha256; // the package's SHA-256 in hex, when the catalogue gives one
    QString corvaneStandard;
    QString corvaneStandardValue;
    bool forcedUpgrade = false;
};

// One installed module listed by the state file "UpdaterInfo.xml"; lives for one catalogue pass.
struct _UpdaterInfo
{
    QString name;
    QString version;
    // Files or folders that must all exist for the module to count as installed.
    QStringList paths;
};

class Comm
{
public:
    // The same characters as a toolkit string: the 32-bit code points up to the first NUL, those
    // above U+FFFF as surrogate pairs.
    static QString ws2qs(CKT_WideString text);

    // The build's scheme ("http" unless configured otherwise) + "://" + host +
    // "/addons/get_addons.php" for the UTC+8 endpoint or the default one. ZANDRO_CATALOGUE_HOST,
    // when set and non-empty, replaces the host of both; written as "https://host[:port]" (or
    // "http://…") it names the scheme too.
    static QString catalogueEndpoint(bool utc8);

    // Removes a folder with everything in it; true when nothing is left (also when there was
    // no folder). Links inside are removed as links; a link given as the folder itself is left
    // alone and reported as a failure, so nothing is ever deleted through it. Pipes and
    // sockets are left in place, which makes the removal fail.
    static bool deleteDir(const QString &path);

    // The value stored under key in the reader's settings store (which the updater only reads);
    // invalid when the key is absent, so absent and empty can be told apart.
    static QVariant readerSetting(const char *key);

    // Makes path a folder only this user can enter: a missing folder is created with mode 0700
    // whatever the umask (missing parents too); an existing one is accepted only when it is a
    // real folder, not a link, owned by this user, and its mode is then set to 0700. Every
    // folder above it must pass checkFolderChain. False, with the reason in problem, otherwise:
    // nothing may be written, unpacked or installed from a folder that another user can plant
    // files or links in, or rename away. resolved receives the folder's path with every link
    // above it taken away (ending in "/" when path does), the path to keep using.
    static bool makePrivateFolder(const QString &path, QString *problem = nullptr,
                                  QString *resolved = nullptr);

    // Whether the existing folder and every folder above it, links resolved, are out of other
    // users' reach: each owned by root or this user, and not writable by group or others unless
    // it is sticky (as /tmp is). False with the first offending folder and why in problem;
    // resolved receives the folder's path without links.
    static bool checkFolderChain(const QString &folder, QString *problem = nullptr,
                                 QString *resolved = nullptr);

    // The updater's working folder, ending in "/": "ZandroQuillet/" in the temporary folder
    // when makePrivateFolder accepts it, otherwise the per-user "zandro-updater/" in
    // $XDG_CACHE_HOME (by default ~/.cache), so that whoever made the shared folder first
    // cannot lock anybody out. A temporary path that is empty or names no folder counts as
    // refused. The switch is logged once per process. Empty, with the reason in problem, when
    // neither can be used. A pass resolves it once and keeps the answer.
    static QString workFolder(QString *problem = nullptr);

    // Opens path for writing without ever following a link. Unless append is set, whatever is
    // at path (a file, a link, a pipe) is removed first and a new file is created exclusively;
    // with append an existing regular file is opened for appending. False, with file's error
    // string set or the reason in problem, when that cannot be done.
    static bool openNewFile(QFile &file, const QString &path, bool append = false,
                            QString *problem = nullptr);
    // Moves the window to the middle of the whole virtual desktop for its current size:
    // ((desktop width - width) / 2, (desktop height - height) / 2), truncated toward zero.
    static void moveToDesktopCentre(QWidget *window);
};

#endif // UPDATER_INCLUDE_UPDATEDEFINE_H
