// The highest version this updater has installed of each module, by the module's exact name, kept
// between passes so that a catalogue can never walk the machine back to an older release.
//
// The file is "installed-versions" in the private state folder (UpdaterLog::defaultFolder(),
// where the log lives). It is text in UTF-8: a first line starting with "#", then one line per
// module, "NAME<TAB>VERSION", both percent-encoded (every byte but A-Z a-z 0-9 - . _ ~), so that a
// name may hold blanks, quotes, tabs or line ends. Lines that do not split into two non-empty
// fields are skipped; a name listed twice counts with its higher version. Versions compare by
// CReaderModuleManager::CompareVersion.
//
// The file is trusted only when it is a regular file of this user's, not writable by group or
// others, at most MaxBytes long, in a folder of this user's (read through TrustedFile): anything
// else counts as no file, with one warning line saying why, so that nobody else can plant an
// entry at version 999 and freeze the updates.
// Writes go to "installed-versions.new" beside it, which then takes its place by a rename, so a
// reader sees the old file or the new one and never half of one.
#ifndef UPDATER_SRC_INSTALLEDVERSIONS_H
#define UPDATER_SRC_INSTALLEDVERSIONS_H

#include <QHash>
#include <QString>
#include <QtGlobal>

class InstalledVersions
{
public:
    static constexpr qint64 MaxBytes = 1024 * 1024;

    // "<state folder>/installed-versions".
    static QString filePath();

    // Every recorded module name with its highest version. Empty when there is no file, or when
    // the file is refused (then one warning line names the path and why).
    static QHash<QString, QString> load();
    // The highest version recorded for exactly this name; empty when there is none.
    static QString highest(const QString &name);

    // Records that version of the module name was installed completely. Only ever raises the
    // stored version: an equal or lower one leaves the file as it is. The state folder is made
    // or repaired with Comm::makePrivateFolder; a refused file found there is replaced (with a
    // warning line). True when the file now holds version or a higher one for name; false, with
    // the reason in problem, when name or version is empty, the folder cannot be used, the file
    // would grow past MaxBytes, or it cannot be written.
    static bool record(const QString &name, const QString &version, QString *problem = nullptr);
};

#endif // UPDATER_SRC_INSTALLEDVERSIONS_H
