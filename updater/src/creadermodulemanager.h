// The update catalogue: asks the catalogue service which modules are on offer, turns its XML
// reply into MODULEINFO records and keeps those that are to be offered.
//
// The reply is a document whose root's child elements are modules, one record each, in document
// order; module attributes are matched on their exact, case-sensitive local name. A record is
// offered when the service says "result" true, the express filter lets it through and the state
// file "UpdaterInfo.xml" does not show it already installed. A record that would walk the
// machine back is dropped too (see walksBack). Two clean-up rules then withdraw a patch that
// comes with an updater update and the internal service's service-mode items.
#ifndef UPDATER_SRC_CREADERMODULEMANAGER_H
#define UPDATER_SRC_CREADERMODULEMANAGER_H

#include <QHash>
#include <QObject>
#include <QString>
#include <QVector>

#include "updatedefine.h"

class CXML_Element;
class QHttpDownLoadS;
class QProgressBar;
class UpdaterApp;

class CReaderModuleManager : public QObject
{
    Q_OBJECT
public:
    // Requires: controller is the run controller (its command-line object gives readerPath).
    CReaderModuleManager(QString group, UpdaterApp *controller, QObject *parent = nullptr);
    // Deletes the downloader and every offered record.
    ~CReaderModuleManager() override;

    // Starts fetching the catalogue reply into replyFilePath (in the working folder), driving
    // bar. Returns 0 once the download has started, 1 (with the reason in queryFailure) when
    // the working folder cannot be used or the reply file cannot be opened for writing. The
    // second argument is not used.
    int QueryModuleInfo(QProgressBar *bar, bool unused = false);
    // The query part of the catalogue address, from "/get_addons.php?addon=" on.
    QString GetHttpURL(QString addon);
    // True when the local time's offset from UTC lies from +08:00:00 to +08:59:59, which picks
    // the UTC+8 catalogue endpoint.
    static bool usesUtc8Endpoint();

    // A blank record of the group; the caller owns it until it joins offeredModules.
    MODULEINFO *AddModule(QString group);
    // Fills record from the element's attributes; a null element does nothing.
    void ParseModuleInfo(CXML_Element *element, MODULEINFO *record);
    // The catalogue pass over the reply file at path: offeredModules is rebuilt from it. A
    // reply that cannot be read, is empty or is no catalogue sets queryFailure.
    void OnPaserModuleInfo(QString path);
    // Why a parsed reply is not a catalogue (no document, or a web page); empty when it is one.
    static QString notACatalogue(CXML_Element *root);
    // Deletes every offered record and empties the list.
    void ReleaseModuleInfo();

    // 1 when a is the higher version, 0 when equal, -1 when lower; four numeric fields each.
    static int CompareVersion(QString a, QString b);
    // Appends one entry per module of the state file to installed (which must come empty); a
    // missing or malformed state file leaves it empty. The entries are the caller's to release.
    // The file is read through TrustedFile (owned by this user or root, not writable by others,
    // at most 1 MiB, no link, no blocking); a refused one logs "state file ignored: PATH: WHY"
    // and counts as missing.
    void ParseUpdaterInfo(QVector<_UpdaterInfo *> &installed);
    // Deletes every entry, last first.
    void ReleaseUpdaterInfoList(QVector<_UpdaterInfo *> &installed);
    // True when an "updater" record needs no update. The flag is not consulted.
    bool CheckUpdaterAvailable(MODULEINFO *record, bool unused);
    // True when the record is already available on this machine and is not to be offered.
    bool CheckModuleAvailable(MODULEINFO *record, QVector<_UpdaterInfo *> &installed);

    // True when the record is the reader itself: its module_type is "reader", or its name
    // without blanks is the parameter string's product, both in any ASCII letter case. Either
    // suffices, so that a catalogue cannot slip an old reader past the version rule by using
    // the one spelling but not the other.
    bool isReaderItself(const MODULEINFO *record) const;
    // True, with one warning line naming both versions, when installing the record would walk
    // the machine back: it is the reader itself and not newer (by CompareVersion) than the
    // parameter string's version, or it is not newer than highestInstalled's entry under its
    // exact name (what this updater installed before). An empty parameter version means no
    // reader rule. Runs after the other rules of a record, so their drops log nothing here.
    bool walksBack(const MODULEINFO *record, const QHash<QString, QString> &highestInstalled) const;

    // Withdraws the last patch when an updater update is on offer too. Always true.
    bool DeletePatchUpdate();
    // Withdraws the internal service's service-mode items. Always true.
    bool DeleteZandroCloud();

signals:
    // The query has ended and offeredModules holds its result.
    void sQueryModuleInfoFinish();
    // The query failed: the service could not be reached or its answer is no catalogue.
    void sQueryModuleInfoFailed(QString reason);

public slots:
    // Runs the catalogue pass on replyFilePath, then emits sQueryModuleInfoFinish, or
    // sQueryModuleInfoFailed when the reply is no catalogue.
    void slotQueryModuleInfoFinish(QString);
    void slotQueryModuleInfoFailed(QString reason);

public:
    QString groupName;
    QString replyFilePath;
    QString readerPath;
    QHttpDownLoadS *downloader;
    UpdaterApp *app;
    // The records kept by the last pass, in reply order; owned.
    QVector<MODULEINFO *> offeredModules;
    // Why the last query failed; empty when it did not.
    QString queryFailure;
};

#endif // UPDATER_SRC_CREADERMODULEMANAGER_H
