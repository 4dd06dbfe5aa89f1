#include "creadermodulemanager.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include "ckt_urlencode.h"
#include "commandline.h"
#include "installedversions.h"
#include "kt_basic.h"
#include "qhttpdownloads.h"
#include "trustedfile.h"
#include "updaterapp.h"

namespace {
constexpr char ReplyFileName[] = "update_tmpfile.xml"; // in the working folder
// A catalogue is a few kilobytes; a reply larger than this is cut off while it downloads.
constexpr qint64 ReplyMaxBytes = 4 * 1024 * 1024;
constexpr char StateFileName[] = "UpdaterInfo.xml";    // appended to readerPath
// Text the state file must hold before it is parsed at all.
constexpr char StateFileMarker[] = "updater_info";
// A state file is small; anything larger is not one and is never read into memory.
constexpr qint64 StateFileMaxBytes = 1024 * 1024;
// The module type of the reader itself in catalogue records.
constexpr char ReaderModuleType[] = "reader";
// Offsets from UTC, in seconds, from +08:00:00 to +08:59:59 pick the UTC+8 catalogue endpoint.
// Taken unsigned, smaller offsets wrap to large values and fall outside the span too.
constexpr int Utc8Offset = 8 * 3600;
constexpr unsigned Utc8Span = 3599;

// Calls visit(localName, value) for each attribute of the element, in document order.
template <typename Visit> void forEachAttribute(CXML_Element *element, Visit visit)
{
    const int count = static_cast<int>(element->m_AttrMap.GetSize());
    for (int i = 0; i < count; ++i) {
        CKT_ByteString prefix;
        CKT_ByteString name;
        CKT_WideString value;
        element->GetAttrByIndex(i, prefix, name, value);
        visit(name, Comm::ws2qs(value));
    }
}

// Flags are true for "true" in any ASCII case; Latin-1 folding is exact for that word.
bool equalsNoCase(const QString &text, const char *word)
{
    return text.toLatin1().toLower() == word;
}

// Equal when only the case of ASCII letters differs; every other character must match exactly.
bool equalsAsciiNoCase(const QString &a, const QString &b)
{
    if (a.size() != b.size())
        return false;
    const auto fold = [](ushort c) { return c >= 'A' && c <= 'Z' ? ushort(c + ('a' - 'A')) : c; };
    for (int i = 0; i < a.size(); ++i) {
        if (fold(a.at(i).unicode()) != fold(b.at(i).unicode()))
            return false;
    }
    return true;
}

// The parameter string's value for key; empty without a controller.
QString parameter(const UpdaterApp *app, const char *key)
{
    return app && app->commandLine ? app->commandLine->getValue(QLatin1String(key)) : QString();
}
} // namespace

bool CReaderModuleManager::usesUtc8Endpoint()
{
    const int offset = QDateTime::currentDateTime().offsetFromUtc();
    return static_cast<unsigned>(offset - Utc8Offset) <= Utc8Span;
}

int CReaderModuleManager::QueryModuleInfo(QProgressBar *bar, bool)
{
    const QString folder =
        app ? app->passWorkFolder(&queryFailure) : Comm::workFolder(&queryFailure);
    replyFilePath = folder.isEmpty() ? QString() : folder + QLatin1String(ReplyFileName);
    const QString url = Comm::catalogueEndpoint(usesUtc8Endpoint()) + GetHttpURL(groupName);
    delete downloader;
    downloader = new QHttpDownLoadS(nullptr, bar, nullptr, nullptr);
    downloader->setMaxBytes(ReplyMaxBytes);
    downloader->setUrlAndFilePath(QUrl(url, QUrl::TolerantMode), replyFilePath);
    qDebug() << "CReaderModuleManager::QueryModuleInfo:strURL: " << url;
    qDebug() << "CReaderModuleManager::QueryModuleInfo:strTempPathName: " << replyFilePath;
    if (folder.isEmpty()) {
        const QString refused = QDir::tempPath() + QLatin1String("/ZandroQuillet");
        // Neither the shared folder nor the per-user one can be used: queryFailure says why.
        qDebug() << "can not make path:" << refused;
        return 1;
    }
    connect(downloader, &QHttpDownLoadS::oneDownLoadFinish, this,
            &CReaderModuleManager::slotQueryModuleInfoFinish);
    connect(downloader, &QHttpDownLoadS::downLoadFailed, this,
            &CReaderModuleManager::slotQueryModuleInfoFailed);
    queryFailure.clear();
    // A reply file that cannot be opened means no download: say so rather than claim a start.
    if (!downloader->startDownLoads()) {
        queryFailure = downloader->failureReason;
        return 1;
    }
    return 0;
}

QString CReaderModuleManager::notACatalogue(CXML_Element *root)
{
    // Captive portals and error pages answer 200 with a web page. Anything that is not XML, or
    // is an XHTML page, is no catalogue; any other well-formed document is one, and a root
    // without children simply offers nothing.
    if (!root)
        return QStringLiteral("the answer is not an update list (not XML)");
    if (QByteArray(root->GetTagName().GetCStr()).toLower() == "html")
        return QStringLiteral("the answer is not an update list (a web page)");
    return QString();
}

CReaderModuleManager::CReaderModuleManager(QString group, UpdaterApp *controller, QObject *parent)
    : QObject(parent), groupName(group),
      readerPath(controller && controller->commandLine
                     ? controller->commandLine->getReaderPathFromcmd()
                     : QString()),
      downloader(nullptr), app(controller)
{
}

CReaderModuleManager::~CReaderModuleManager()
{
    delete downloader;
    ReleaseModuleInfo();
}

QString CReaderModuleManager::GetHttpURL(QString addon)
{
    QString product;
    QString version;
    if (app && app->commandLine) {
        product = app->commandLine->getValue(QLatin1String(Updater::ParamProduct));
        version = app->commandLine->getValue(QLatin1String(Updater::ParamVersion));
    }

    QString query = QLatin1String("/get_addons.php?addon=") + CKT_URLEncode::URLEncode(addon);
    query += QLatin1String("&product=") + product;
    if (!version.isEmpty()) {
        // The service wants the version split in two: up to the second full stop, and the rest.
        const int first = version.indexOf(QLatin1Char('.'));
        const int second = version.indexOf(QLatin1Char('.'), first + 1);
        const QString head = second < 0 ? version : version.left(second);
        const QString build = second < 0 ? version : version.mid(second + 1);
        query += QLatin1String("&version=") + head + QLatin1String("&build=") + build;
    }
    query += QLatin1String("&platform=x86");
    // The key's spelling is the service's own; the language is fixed.
    query += QLatin1String("&EmbededLanguage=") + QLatin1String("en_us");
    return query;
}

void CReaderModuleManager::slotQueryModuleInfoFinish(QString)
{
    queryFailure.clear();
    if (!replyFilePath.isEmpty())
        OnPaserModuleInfo(replyFilePath);
    if (!queryFailure.isEmpty()) {
        emit sQueryModuleInfoFailed(queryFailure);
        return;
    }
    emit sQueryModuleInfoFinish();
}

void CReaderModuleManager::slotQueryModuleInfoFailed(QString reason)
{
    queryFailure = reason;
    emit sQueryModuleInfoFailed(reason);
}

MODULEINFO *CReaderModuleManager::AddModule(QString group)
{
    MODULEINFO *record = new MODULEINFO;
    record->group = group;
    return record;
}

void CReaderModuleManager::ParseModuleInfo(CXML_Element *element, MODULEINFO *record)
{
    struct TextAttribute
    {
        const char *name;
        QString MODULEINFO::*field;
    };
    static const TextAttribute textAttributes[] = {
        {"name", &MODULEINFO::name},
        {"version", &MODULEINFO::version},
        {"description", &MODULEINFO::description},
        {"size", &MODULEINFO::size},
        {"url", &MODULEINFO::url},
        {"level", &MODULEINFO::level},
        {"regkey", &MODULEINFO::regKey},
        {"module_type", &MODULEINFO::moduleType},
        {"parent", &MODULEINFO::parent},
        {"title", &MODULEINFO::title},
        {"isInternalService", &MODULEINFO::internalService},
        {"sha256", &MODULEINFO::sha256},
    };
    struct FlagAttribute
    {
        const char *name;
        bool MODULEINFO::*field;
    };
    static const FlagAttribute flagAttributes[] = {
        {"result", &MODULEINFO::result},
        {"plugin", &MODULEINFO::plugin},
        {"isnew", &MODULEINFO::isNew},
        {"iscommon", &MODULEINFO::isCommon},
    };

    if (!element || !record)
        return;
    forEachAttribute(element, [record](const CKT_ByteString &name, const QString &value) {
        for (const TextAttribute &attribute : textAttributes) {
            if (name == attribute.name) {
                record->*attribute.field = value;
                return;
            }
        }
        for (const FlagAttribute &attribute : flagAttributes) {
            if (name == attribute.name) {
                record->*attribute.field = equalsNoCase(value, "true");
                return;
            }
        }
        if (name == "update_mode") {
            record->updateMode = value.toInt(nullptr, 10);
        } else if (name == "CorvaneStandard") {
            record->corvaneStandard = QStringLiteral("TRUE");
            record->corvaneStandardValue = value;
        } else if (name == "forcedUpgrade") {
            // Only a "TRUE" raises the flag; any other value leaves it as it was.
            if (equalsNoCase(value, "true"))
                record->forcedUpgrade = true;
        }
    });
}

void CReaderModuleManager::OnPaserModuleInfo(QString path)
{
    ReleaseModuleInfo();
    const bool listMode = groupName == QLatin1String(Updater::TypeUpdateList);

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug() << "Open Reply Xml File failed.";
        queryFailure = QStringLiteral("cannot read the reply: %1").arg(file.errorString());
        return;
    }
    const QByteArray bytes = file.readAll();
    file.close();
    // An empty reply is no answer at all, so the offer is not touched up either.
    if (bytes.isEmpty()) {
        queryFailure = QStringLiteral("the service sent an empty answer");
        return;
    }

    CXML_Element *root = CXML_Element::Parse(bytes.constData(), static_cast<unsigned>(bytes.size()),
                                             0, nullptr, nullptr);
    queryFailure = notACatalogue(root);
    if (!queryFailure.isEmpty()) {
        delete root;
        root = nullptr;
    }
    if (root) {
        const int count = static_cast<int>(root->CountChildren());
        QVector<_UpdaterInfo *> installed;
        ParseUpdaterInfo(installed);
        QString expressParam;
        if (app && app->commandLine)
            expressParam = app->commandLine->getValue(QLatin1String(Updater::ParamExpress));
        const bool express = expressParam.toInt(nullptr, 10) != 0;

        const QHash<QString, QString> highestInstalled = InstalledVersions::load();
        for (int i = 0; i < count; ++i) {
            CXML_Element *child = root->GetElement(i);
            if (!child)
                continue;
            MODULEINFO *record = AddModule(groupName);
            ParseModuleInfo(child, record);
            const bool available = listMode && CheckModuleAvailable(record, installed);
            const bool expressDropped = express && (record->name.contains(QLatin1String("OCR_")) ||
                                                    record->name == QLatin1String("PDF/A"));
            if (expressDropped || !record->result || available ||
                walksBack(record, highestInstalled))
                delete record;
            else
                offeredModules.append(record);
        }
        ReleaseUpdaterInfoList(installed);
        delete root;
    }
    DeletePatchUpdate();
    DeleteZandroCloud();
}

void CReaderModuleManager::ReleaseModuleInfo()
{
    for (MODULEINFO *record : qAsConst(offeredModules))
        delete record;
    offeredModules.clear();
}

bool CReaderModuleManager::isReaderItself(const MODULEINFO *record) const
{
    const QString product = parameter(app, Updater::ParamProduct);
    if (equalsAsciiNoCase(record->moduleType, QLatin1String(ReaderModuleType)))
        return true;
    QString name = record->name;
    name.remove(QLatin1Char(' '));
    return !product.isEmpty() && equalsAsciiNoCase(name, product);
}

bool CReaderModuleManager::walksBack(const MODULEINFO *record,
                                     const QHash<QString, QString> &highestInstalled) const
{
    const QString readerVersion = parameter(app, Updater::ParamVersion);
    QString installed;
    if (!readerVersion.isEmpty() && isReaderItself(record) &&
        CompareVersion(record->version, readerVersion) <= 0)
        installed = readerVersion;
    const QString highest = highestInstalled.value(record->name);
    if (installed.isEmpty() && !highest.isEmpty() && CompareVersion(record->version, highest) <= 0)
        installed = highest;
    if (installed.isEmpty())
        return false;
    // The catalogue may offer it, over plain http even an attacker's: an old signed package
    // must never take the machine back to a release with known holes.
    qWarning() << "offer dropped, not newer than the installed version:" << record->name
               << qUtf8Printable(record->version) << "<=" << qUtf8Printable(installed);
    return true;
}

int CReaderModuleManager::CompareVersion(QString a, QString b)
{
    // Three leading fields, then the whole remainder as the fourth: a short version repeats its
    // last field and a fifth field spoils the fourth ("4.5" is no integer).
    const auto fields = [](QString text) {
        QVector<int> numbers;
        for (int i = 0; i < 3; ++i) {
            const int dot = text.indexOf(QLatin1Char('.'));
            numbers.append((dot < 0 ? text : text.left(dot)).toInt(nullptr, 10));
            if (dot >= 0)
                text = text.mid(dot + 1);
        }
        numbers.append(text.toInt(nullptr, 10));
        return numbers;
    };
    const QVector<int> left = fields(a);
    const QVector<int> right = fields(b);
    for (int i = 0; i < 4; ++i) {
        if (left[i] != right[i])
            return left[i] > right[i] ? 1 : -1;
    }
    return 0;
}

void CReaderModuleManager::ParseUpdaterInfo(QVector<_UpdaterInfo *> &installed)
{
    installed.clear();
    // With no install folder in the parameters this is the current folder, which may be one
    // that others can write to: a planted file could freeze the updates or hang the pass.
    const QString path = readerPath + QLatin1String(StateFileName);
    QByteArray bytes;
    QString problem;
    const TrustedFile::Result read =
        TrustedFile::read(path, TrustedFile::UserOrRoot, StateFileMaxBytes, &bytes, &problem);
    if (read == TrustedFile::Refused)
        qWarning().noquote() << "state file ignored:"
                             << QFileInfo(path).absoluteFilePath() + QLatin1String(": ") + problem;
    if (read != TrustedFile::Read || bytes.isEmpty())
        return;
    // Carriage returns were always dropped (the file used to be read in text mode).
    bytes.replace("\r", "");
    const int nul = bytes.indexOf('\0');
    if (!bytes.left(nul < 0 ? bytes.size() : nul).contains(StateFileMarker))
        return;
    CXML_Element *root = CXML_Element::Parse(bytes.constData(), static_cast<unsigned>(bytes.size()),
                                             0, nullptr, nullptr);
    if (!root)
        return;

    const int count = static_cast<int>(root->CountChildren());
    for (int i = 0; i < count; ++i) {
        CXML_Element *element = root->GetElement(i);
        if (!element)
            continue;
        _UpdaterInfo *entry = new _UpdaterInfo;
        forEachAttribute(element, [entry](const CKT_ByteString &name, const QString &value) {
            if (name == "name")
                entry->name = value;
            else if (name == "version")
                entry->version = value;
        });
        const int pathCount = static_cast<int>(element->CountChildren());
        for (int j = 0; j < pathCount; ++j) {
            CXML_Element *pathElement = element->GetElement(j);
            if (!pathElement)
                continue;
            forEachAttribute(pathElement,
                             [entry](const CKT_ByteString &name, const QString &value) {
                                 if (name == "path")
                                     entry->paths.append(value);
                             });
        }
        installed.append(entry);
    }
    delete root;
}

void CReaderModuleManager::ReleaseUpdaterInfoList(QVector<_UpdaterInfo *> &installed)
{
    for (int i = installed.size() - 1; i >= 0; --i)
        delete installed[i];
    installed.clear();
}

bool CReaderModuleManager::CheckUpdaterAvailable(MODULEINFO *record, bool)
{
    if (record->moduleType != QLatin1String(Updater::ParamUpdater))
        return true;
    const QString readerVersion = app ? app->readerVersion : QString();
    if (CompareVersion(record->version, readerVersion) <= 0)
        return true;
    if (record->url.contains(QLatin1String("MspPatch")))
        return false;
    if (record->name.contains(QLatin1String("exe")))
        return false;
    return true;
}

bool CReaderModuleManager::CheckModuleAvailable(MODULEINFO *record,
                                                QVector<_UpdaterInfo *> &installed)
{
    if (record->moduleType == QLatin1String(Updater::ParamUpdater))
        return CheckUpdaterAvailable(record, false);
    if (record->isCommon)
        return true;
    const _UpdaterInfo *entry = nullptr;
    for (const _UpdaterInfo *candidate : qAsConst(installed)) {
        if (candidate && candidate->name == record->name) {
            entry = candidate;
            break;
        }
    }
    if (!entry)
        return false;
    // The state file's writers are loose with blanks inside version texts; only this test forgives
    // them.
    QString installedVersion = entry->version;
    QString offeredVersion = record->version;
    installedVersion.remove(QLatin1Char(' '));
    offeredVersion.remove(QLatin1Char(' '));
    if (CompareVersion(installedVersion, offeredVersion) < 0)
        return false;
    for (const QString &path : entry->paths) {
        if (!QFileInfo::exists(path))
            return false;
    }
    return true;
}

bool CReaderModuleManager::DeletePatchUpdate()
{
    int updaterIndex = -1;
    int patchIndex = -1;
    for (int i = 0; i < offeredModules.size(); ++i) {
        const MODULEINFO *record = offeredModules.at(i);
        if (!record)
            continue;
        if (record->name.contains(QLatin1String("Updater")))
            updaterIndex = i;
        if (record->name.contains(QLatin1String("Patch")))
            patchIndex = i;
    }
    if (updaterIndex >= 0 && patchIndex >= 0)
        delete offeredModules.takeAt(patchIndex);
    return true;
}

bool CReaderModuleManager::DeleteZandroCloud()
{
    QVector<int> serviceItems;
    for (int i = 0; i < offeredModules.size(); ++i) {
        const MODULEINFO *record = offeredModules.at(i);
        if (record && record->updateMode == 2 &&
            record->internalService.startsWith(QLatin1String("TRUE")))
            serviceItems.append(i);
    }
    // From the highest index down, so the indices still to come stay valid.
    for (int i = serviceItems.size() - 1; i >= 0; --i)
        delete offeredModules.takeAt(serviceItems.at(i));
    return true;
}
