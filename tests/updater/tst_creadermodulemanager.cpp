#include <QtTest>

#include <QProgressBar>
#include <cstdlib>
#include <ctime>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "commandline.h"
#include "creadermodulemanager.h"
#include "httpserver.h"
#include "installedversions.h"
#include "kt_basic.h"
#include "qhttpdownloads.h"
#include "testenv.h"
#include "updatedefine.h"
#include "updaterapp.h"

typedef QList<QPair<int, QString>> ServiceItems;
Q_DECLARE_METATYPE(ServiceItems)

namespace {
// A manager serving "Update List" for a controller whose parameter string is params.
struct Fixture
{
    explicit Fixture(const QString &params = QString())
    {
        if (!params.isEmpty())
            app.commandLine->parserParam(params);
    }
    UpdaterApp app;
    CReaderModuleManager manager{QStringLiteral("Update List"), &app, nullptr};
};

MODULEINFO *namedRecord(const QString &name)
{
    MODULEINFO *record = new MODULEINFO;
    record->name = name;
    return record;
}

QStringList offeredNames(const CReaderModuleManager &manager)
{
    QStringList names;
    for (const MODULEINFO *record : manager.offeredModules)
        names << record->name;
    return names;
}

QString fixture(const QString &name)
{
    return QStringLiteral(TEST_DATA_DIR "/catalogue/") + name;
}

void touch(const QString &path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

// Every field of the record as "field=value".
QStringList describe(const MODULEINFO &r)
{
    const auto flag = [](bool value) { return QString(value ? "1" : "0"); };
    return {"group=" + r.group,
            "name=" + r.name,
            "version=" + r.version,
            "description=" + r.description,
            "size=" + r.size,
            "url=" + r.url,
            "level=" + r.level,
            "regKey=" + r.regKey,
            "result=" + flag(r.result),
            "moduleType=" + r.moduleType,
            "parent=" + r.parent,
            "title=" + r.title,
            "plugin=" + flag(r.plugin),
            "isNew=" + flag(r.isNew),
            "isCommon=" + flag(r.isCommon),
            "updateMode=" + QString::number(r.updateMode),
            "internalService=" + r.internalService,
            "corvaneStandard=" + r.corvaneStandard,
            "corvaneStandardValue=" + r.corvaneStandardValue,
            "forcedUpgrade=" + flag(r.forcedUpgrade)};
}

// Collects messages with their source line and function.
struct ContextLog
{
    struct Line
    {
        QString file;
        int line;
        QString function;
        QString message;
    };
    static QVector<Line> &lines()
    {
        static QVector<Line> captured;
        return captured;
    }
    static void handler(QtMsgType, const QMessageLogContext &context, const QString &message)
    {
        lines().append({QString::fromUtf8(context.file), context.line,
                        QString::fromUtf8(context.function), message});
    }
    ContextLog() : previous(qInstallMessageHandler(handler)) { lines().clear(); }
    ~ContextLog() { qInstallMessageHandler(previous); }
    const Line *find(const QString &start) const
    {
        for (const Line &line : lines()) {
            if (line.message.startsWith(start))
                return &line;
        }
        return nullptr;
    }
    QtMessageHandler previous;
};

// The line of the manager's source that holds text, counted from 1; 0 when no line does. The
// log context must name the statement itself, wherever edits above it have moved it.
int sourceLine(const char *text)
{
    const QList<QByteArray> lines =
        TestEnv::readFile(TEST_SOURCE_DIR "/updater/src/creadermodulemanager.cpp").split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        if (lines.at(i).contains(text))
            return i + 1;
    }
    return 0;
}

// Points XDG_STATE_HOME, where the installed versions are kept, at a fresh folder while it lives.
struct FreshStateHome
{
    FreshStateHome() : saved(qgetenv("XDG_STATE_HOME"))
    {
        qputenv("XDG_STATE_HOME", QFile::encodeName(dir.path()));
    }
    ~FreshStateHome() { qputenv("XDG_STATE_HOME", saved); }
    QByteArray saved;
    QTemporaryDir dir;
};

// Sets TZ for this process and makes the C library read it again.
void setTimeZone(const QByteArray &tz)
{
    qputenv("TZ", tz);
    tzset();
}
} // namespace

class TestCReaderModuleManager : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void signalAndSlotOrder();
    void constructorTakesTheController();

    void compareVersion_data();
    void compareVersion();
    void httpQuery_data();
    void httpQuery();
    void endpointByTimeZone_data();
    void endpointByTimeZone();

    void checkModuleAvailable_data();
    void checkModuleAvailable();
    void updaterAvailability_data();
    void updaterAvailability();

    void deletePatchUpdate_data();
    void deletePatchUpdate();
    void deleteZandroCloud_data();
    void deleteZandroCloud();
    void finishSignalsEvenWithoutReplyPath();
    void releaseSkipsNullRecords();

    void wideToToolkitString_data();
    void wideToToolkitString();
    void moduleAttributes_data();
    void moduleAttributes();
    void pass_data();
    void pass();
    void stateFile_data();
    void stateFile();
    void untrustedStateFileIsIgnored_data();
    void untrustedStateFileIsIgnored();
    void offerThatWalksBackIsDropped_data();
    void offerThatWalksBackIsDropped();

    void queryEndToEnd();
    void queryFailsWithoutReplyFolder();
    void queryFailsWhenReplyCannotBeWritten();
};

void TestCReaderModuleManager::cleanup()
{
    qunsetenv("TZ");
    tzset();
}

void TestCReaderModuleManager::signalAndSlotOrder()
{
    const QMetaObject &meta = CReaderModuleManager::staticMetaObject;
    QCOMPARE(meta.methodCount() - meta.methodOffset(), 4);
    const QMetaMethod signal = meta.method(meta.methodOffset());
    const QMetaMethod failedSignal = meta.method(meta.methodOffset() + 1);
    const QMetaMethod slot = meta.method(meta.methodOffset() + 2);
    QCOMPARE(signal.methodSignature(), QByteArray("sQueryModuleInfoFinish()"));
    QCOMPARE(signal.methodType(), QMetaMethod::Signal);
    QCOMPARE(failedSignal.methodSignature(), QByteArray("sQueryModuleInfoFailed(QString)"));
    QCOMPARE(failedSignal.methodType(), QMetaMethod::Signal);
    QCOMPARE(slot.methodSignature(), QByteArray("slotQueryModuleInfoFinish(QString)"));
    QCOMPARE(slot.methodType(), QMetaMethod::Slot);
}

void TestCReaderModuleManager::constructorTakesTheController()
{
    Fixture f;
    QCOMPARE(f.manager.groupName, QString("Update List"));
    QCOMPARE(f.manager.app, &f.app);
    QCOMPARE(f.manager.readerPath, QString(""));
    QVERIFY(f.manager.replyFilePath.isEmpty());
    QVERIFY(f.manager.downloader == nullptr);
    QVERIFY(f.manager.offeredModules.isEmpty());
}

void TestCReaderModuleManager::compareVersion_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("result");

    QTest::newRow("equal") << "1.2.3.4"
                           << "1.2.3.4" << 0;
    QTest::newRow("fields are numbers, not text") << "1.10"
                                                  << "1.9" << 1;
    QTest::newRow("first difference decides") << "2.0.0.0"
                                              << "1.9.9.9" << 1;
    QTest::newRow("lower fourth field") << "1.2.3.4"
                                        << "1.2.3.5" << -1;
    QTest::newRow("one field repeats four times") << "7"
                                                  << "7.7.7.7" << 0;
    QTest::newRow("two fields repeat the last") << "1.2"
                                                << "1.2.0.0" << 1;
    QTest::newRow("three fields repeat the last") << "1.2.3"
                                                  << "1.2.3.3" << 0;
    QTest::newRow("a fifth field spoils the fourth") << "1.2.3.4.5"
                                                     << "1.2.3.0" << 0;
    QTest::newRow("no digits on either side") << "beta"
                                              << "alpha" << 0;
    QTest::newRow("empty reads as zeros") << ""
                                          << "0.0.0.0" << 0;
    QTest::newRow("positive against empty") << "0.0.0.1"
                                            << "" << 1;
    QTest::newRow("negative fields compare signed") << "-1.0.0.0"
                                                    << "0.0.0.0" << -1;
    QTest::newRow("field that is not a number is 0") << "1.x.3.4"
                                                     << "1.0.3.4" << 0;
    QTest::newRow("blank inside a field spoils it") << "1.2.3.1 0"
                                                    << "1.2.3.0" << 0;
}

void TestCReaderModuleManager::compareVersion()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, result);
    QCOMPARE(CReaderModuleManager::CompareVersion(a, b), result);
    QCOMPARE(CReaderModuleManager::CompareVersion(b, a), -result);
}

void TestCReaderModuleManager::httpQuery_data()
{
    QTest::addColumn<QString>("params");
    QTest::addColumn<QString>("addon");
    QTest::addColumn<QString>("query");

    QTest::newRow("four-field version")
        << R"(product:"reader",version:"1.2.3.4")"
        << "Update List"
        << "/get_addons.php?addon=Update%20List&product=reader&version=1.2&build=3.4"
           "&platform=x86&EmbededLanguage=en_us";
    QTest::newRow("no version leaves out version and build")
        << R"(product:"reader")"
        << "Update List"
        << "/get_addons.php?addon=Update%20List&product=reader&platform=x86&EmbededLanguage=en_us";
    QTest::newRow("empty version too")
        << R"(product:"reader",version:"")"
        << "Update List"
        << "/get_addons.php?addon=Update%20List&product=reader&platform=x86&EmbededLanguage=en_us";
    QTest::newRow("no full stop: whole text twice")
        << R"(product:"reader",version:"12")"
        << "Update List"
        << "/get_addons.php?addon=Update%20List&product=reader&version=12&build=12"
           "&platform=x86&EmbededLanguage=en_us";
    QTest::newRow("one full stop: whole text twice")
        << R"(product:"reader",version:"1.2")"
        << "Update List"
        << "/get_addons.php?addon=Update%20List&product=reader&version=1.2&build=1.2"
           "&platform=x86&EmbededLanguage=en_us";
    QTest::newRow("split at the second full stop only")
        << R"(product:"reader",version:"1.2.3.4.5")"
        << "Update List"
        << "/get_addons.php?addon=Update%20List&product=reader&version=1.2&build=3.4.5"
           "&platform=x86&EmbededLanguage=en_us";
    QTest::newRow("leading full stops")
        << R"(product:"reader",version:"..9")"
        << "Update List"
        << "/get_addons.php?addon=Update%20List&product=reader&version=.&build=9"
           "&platform=x86&EmbededLanguage=en_us";
    QTest::newRow("product goes unencoded")
        << R"(product:"Zandro Reader",version:"1.2.3")"
        << "Update List"
        << "/get_addons.php?addon=Update%20List&product=Zandro Reader&version=1.2&build=3"
           "&platform=x86&EmbededLanguage=en_us";
    QTest::newRow("no parameters at all")
        << ""
        << "Update List"
        << "/get_addons.php?addon=Update%20List&product=&platform=x86&EmbededLanguage=en_us";
    QTest::newRow("addon is encoded")
        << R"(product:"p")" << QString::fromUtf8("a-b.c_d~\u00e9\u4e2d")
        << "/get_addons.php?addon=a%2db%2ec%5fd%7e%e9%00&product=p&platform=x86"
           "&EmbededLanguage=en_us";
}

void TestCReaderModuleManager::httpQuery()
{
    QFETCH(QString, params);
    QFETCH(QString, addon);
    QFETCH(QString, query);
    Fixture f(params);
    QCOMPARE(f.manager.GetHttpURL(addon), query);
}

void TestCReaderModuleManager::endpointByTimeZone_data()
{
    QTest::addColumn<QByteArray>("tz");
    QTest::addColumn<bool>("utc8");

    // POSIX zone texts give the offset west of Greenwich, so "ZZZ-8" is UTC+08:00.
    QTest::newRow("+08:00") << QByteArray("ZZZ-8") << true;
    QTest::newRow("+08:30") << QByteArray("ZZZ-8:30") << true;
    QTest::newRow("+08:59:59") << QByteArray("ZZZ-8:59:59") << true;
    QTest::newRow("+09:00") << QByteArray("ZZZ-9") << false;
    QTest::newRow("+07:59:59") << QByteArray("ZZZ-7:59:59") << false;
    QTest::newRow("+07:00") << QByteArray("ZZZ-7") << false;
    QTest::newRow("UTC") << QByteArray("UTC0") << false;
    QTest::newRow("-08:00") << QByteArray("ZZZ+8") << false;
    QTest::newRow("-05:00") << QByteArray("ZZZ+5") << false;
}

void TestCReaderModuleManager::endpointByTimeZone()
{
    QFETCH(QByteArray, tz);
    QFETCH(bool, utc8);
    setTimeZone(tz);
    QCOMPARE(CReaderModuleManager::usesUtc8Endpoint(), utc8);
}

void TestCReaderModuleManager::checkModuleAvailable_data()
{
    QTest::addColumn<QString>("installedVersion");
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QString>("offeredVersion");
    QTest::addColumn<bool>("isCommon");
    QTest::addColumn<QString>("installedName");
    QTest::addColumn<bool>("available");

    // Paths are relative to the test's folder, where "present" exists and "missing" does not.
    QTest::newRow("same version, no paths")
        << "2.0.0.0" << QStringList() << "2.0.0.0" << false << "Mod" << true;
    QTest::newRow("higher installed")
        << "2.1" << QStringList() << "2.0.0.0" << false << "Mod" << true;
    QTest::newRow("lower installed")
        << "1.9.9.9" << QStringList() << "2.0.0.0" << false << "Mod" << false;
    QTest::newRow("all paths present") << "2.0.0.0" << QStringList{"present", "present/file"}
                                       << "2.0.0.0" << false << "Mod" << true;
    QTest::newRow("one path missing")
        << "2.0.0.0" << QStringList{"present", "missing"} << "2.0.0.0" << false << "Mod" << false;
    QTest::newRow("not installed")
        << "9.0.0.0" << QStringList() << "2.0.0.0" << false << "Other" << false;
    QTest::newRow("names are case-sensitive")
        << "9.0.0.0" << QStringList() << "2.0.0.0" << false << "mod" << false;
    QTest::newRow("common module whatever is installed")
        << "1.0.0.0" << QStringList{"missing"} << "2.0.0.0" << true << "Other" << true;
    // "1.2.3.1 0" would read as 1.2.3.0 with its blank kept.
    QTest::newRow("blanks removed from both versions")
        << "1.2.3.1 0" << QStringList() << "1 .2.3.10" << false << "Mod" << true;
}

void TestCReaderModuleManager::checkModuleAvailable()
{
    QFETCH(QString, installedVersion);
    QFETCH(QStringList, paths);
    QFETCH(QString, offeredVersion);
    QFETCH(bool, isCommon);
    QFETCH(QString, installedName);
    QFETCH(bool, available);

    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("present"));
    QFile file(dir.path() + "/present/file");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));

    Fixture f;
    QVector<_UpdaterInfo *> installed;
    installed << new _UpdaterInfo{"Unrelated", "0.1", {}}
              << new _UpdaterInfo{installedName, installedVersion, paths}
              << new _UpdaterInfo{installedName, "0.0.0.1", {}};
    MODULEINFO record;
    record.name = "Mod";
    record.version = offeredVersion;
    record.isCommon = isCommon;
    const bool result = f.manager.CheckModuleAvailable(&record, installed);
    f.manager.ReleaseUpdaterInfoList(installed);
    QVERIFY(QDir::setCurrent(previous));
    QCOMPARE(result, available);
}

void TestCReaderModuleManager::updaterAvailability_data()
{
    QTest::addColumn<QString>("moduleType");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("isCommon");
    QTest::addColumn<bool>("available");

    // The controller's reader version is empty, so any positive version is higher.
    QTest::newRow("not the updater") << "plugin"
                                     << "exe"
                                     << "9"
                                     << "MspPatch" << false << true;
    QTest::newRow("type is case-sensitive") << "Updater"
                                            << "exe"
                                            << "9"
                                            << "" << false << true;
    QTest::newRow("higher with MspPatch url") << "updater"
                                              << "Up"
                                              << "1.0"
                                              << "http://h/MspPatch.zip" << false << false;
    QTest::newRow("higher with exe in name") << "updater"
                                             << "setup.exe"
                                             << "1.0"
                                             << "" << false << false;
    QTest::newRow("EXE in capitals does not count") << "updater"
                                                    << "SETUP.EXE"
                                                    << "1.0"
                                                    << "" << false << true;
    QTest::newRow("higher, neither marker") << "updater"
                                            << "Up"
                                            << "1.0"
                                            << "http://h/u.zip" << false << true;
    QTest::newRow("not higher") << "updater"
                                << "setup.exe"
                                << "0.0.0.0"
                                << "" << false << true;
    // Blanks stay in the updater test: "1 0" is no number and reads as 0.
    QTest::newRow("blank spoils the version") << "updater"
                                              << "setup.exe"
                                              << "1 0"
                                              << "" << false << true;
    QTest::newRow("common updater is still judged") << "updater"
                                                    << "setup.exe"
                                                    << "1.0"
                                                    << "" << true << false;
}

void TestCReaderModuleManager::updaterAvailability()
{
    QFETCH(QString, moduleType);
    QFETCH(QString, name);
    QFETCH(QString, version);
    QFETCH(QString, url);
    QFETCH(bool, isCommon);
    QFETCH(bool, available);

    Fixture f;
    MODULEINFO record;
    record.moduleType = moduleType;
    record.name = name;
    record.version = version;
    record.url = url;
    record.isCommon = isCommon;
    QCOMPARE(f.manager.CheckUpdaterAvailable(&record, false), available);
    // For the updater itself the module test is the updater test, whatever is installed.
    if (moduleType == "updater") {
        QVector<_UpdaterInfo *> installed{new _UpdaterInfo{name, "99", {}}};
        QCOMPARE(f.manager.CheckModuleAvailable(&record, installed), available);
        f.manager.ReleaseUpdaterInfoList(installed);
    }
}

void TestCReaderModuleManager::deletePatchUpdate_data()
{
    QTest::addColumn<QStringList>("offer");
    QTest::addColumn<QStringList>("kept");

    QTest::newRow("updater and patch")
        << QStringList{"ReaderUpdater", "ReaderPatch"} << QStringList{"ReaderUpdater"};
    QTest::newRow("patch before updater")
        << QStringList{"ReaderPatch", "ReaderUpdater"} << QStringList{"ReaderUpdater"};
    QTest::newRow("only the later of two patches")
        << QStringList{"Patch1", "Updater", "Patch2"} << QStringList{"Patch1", "Updater"};
    QTest::newRow("patch alone stays")
        << QStringList{"Patch", "Other"} << QStringList{"Patch", "Other"};
    QTest::newRow("updater alone stays") << QStringList{"Updater"} << QStringList{"Updater"};
    QTest::newRow("one record naming both")
        << QStringList{"A", "UpdaterPatch", "B"} << QStringList{"A", "B"};
    QTest::newRow("case-sensitive")
        << QStringList{"updater", "patch"} << QStringList{"updater", "patch"};
    QTest::newRow("empty offer") << QStringList() << QStringList();
}

void TestCReaderModuleManager::deletePatchUpdate()
{
    QFETCH(QStringList, offer);
    QFETCH(QStringList, kept);
    Fixture f;
    for (const QString &name : offer)
        f.manager.offeredModules << namedRecord(name);
    QVERIFY(f.manager.DeletePatchUpdate());
    QCOMPARE(offeredNames(f.manager), kept);
}

void TestCReaderModuleManager::deleteZandroCloud_data()
{
    QTest::addColumn<ServiceItems>("offer");
    QTest::addColumn<QStringList>("kept");

    QTest::newRow("service mode with TRUE")
        << ServiceItems{{2, "TRUE"}, {0, ""}} << QStringList{"1"};
    QTest::newRow("TRUE begins a longer text") << ServiceItems{{2, "TRUEISH"}} << QStringList{};
    QTest::newRow("TRUE later in the text") << ServiceItems{{2, " TRUE"}} << QStringList{"0"};
    QTest::newRow("lower case") << ServiceItems{{2, "true"}} << QStringList{"0"};
    QTest::newRow("other mode") << ServiceItems{{1, "TRUE"}} << QStringList{"0"};
    QTest::newRow("two adjacent") << ServiceItems{{0, ""}, {2, "TRUE"}, {2, "TRUE"}, {3, "TRUE"}}
                                  << QStringList{"0", "3"};
    QTest::newRow("spread out") << ServiceItems{{2, "TRUE"}, {0, ""}, {2, "TRUE"}, {0, ""}}
                                << QStringList{"1", "3"};
}

void TestCReaderModuleManager::deleteZandroCloud()
{
    QFETCH(ServiceItems, offer);
    QFETCH(QStringList, kept);
    Fixture f;
    for (int i = 0; i < offer.size(); ++i) {
        MODULEINFO *record = namedRecord(QString::number(i));
        record->updateMode = offer.at(i).first;
        record->internalService = offer.at(i).second;
        f.manager.offeredModules << record;
    }
    QVERIFY(f.manager.DeleteZandroCloud());
    QCOMPARE(offeredNames(f.manager), kept);
}

void TestCReaderModuleManager::finishSignalsEvenWithoutReplyPath()
{
    Fixture f;
    f.manager.offeredModules << namedRecord("kept");
    QSignalSpy finished(&f.manager, &CReaderModuleManager::sQueryModuleInfoFinish);
    f.manager.slotQueryModuleInfoFinish(QString("/ignored"));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(offeredNames(f.manager), QStringList{"kept"});
}

void TestCReaderModuleManager::releaseSkipsNullRecords()
{
    Fixture f;
    f.manager.offeredModules << nullptr << namedRecord("a") << nullptr;
    f.manager.ReleaseModuleInfo();
    QVERIFY(f.manager.offeredModules.isEmpty());
    QVector<_UpdaterInfo *> installed{nullptr, new _UpdaterInfo{"a", "1", {"p"}}};
    f.manager.ReleaseUpdaterInfoList(installed);
    QVERIFY(installed.isEmpty());
}

void TestCReaderModuleManager::wideToToolkitString_data()
{
    QTest::addColumn<QVector<uint>>("units");
    QTest::addColumn<QString>("text");

    QTest::newRow("ASCII") << QVector<uint>{'a', 'b'} << "ab";
    QTest::newRow("Latin-1 and BMP")
        << QVector<uint>{0xe9, 0x4e2d} << QString::fromUtf8("\u00e9\u4e2d");
    QTest::newRow("above U+FFFF as a surrogate pair")
        << QVector<uint>{'x', 0x1F600} << QString::fromUtf8("x\U0001F600");
    QTest::newRow("stops at the first NUL") << QVector<uint>{'a', 0, 'b'} << "a";
    QTest::newRow("empty") << QVector<uint>{} << "";
}

void TestCReaderModuleManager::wideToToolkitString()
{
    QFETCH(QVector<uint>, units);
    QFETCH(QString, text);
    std::vector<wchar_t> chars(units.begin(), units.end());
    const CKT_WideString wide(chars.data(), static_cast<int>(chars.size()));
    QCOMPARE(Comm::ws2qs(wide), text);
}

void TestCReaderModuleManager::moduleAttributes_data()
{
    QTest::addColumn<QString>("element");
    QTest::addColumn<bool>("forcedBefore");
    // Items of describe() the record must show.
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("every text field")
        << R"(<m name="N" version="1.2" description="D" size="12 MB" url="http://h/p.bin" )"
           R"(level="L" regkey="K" module_type="T" parent="P" title="Ti" )"
           R"(isInternalService="TRUE x"/>)"
        << false << QStringList{"group=Update List", "name=N",       "version=1.2",
                                "description=D",     "size=12 MB",   "url=http://h/p.bin",
                                "level=L",           "regKey=K",     "moduleType=T",
                                "parent=P",          "title=Ti",     "internalService=TRUE x",
                                "corvaneStandard=",  "updateMode=0", "result=0",
                                "forcedUpgrade=0"};
    QTest::newRow("flags true in any letter case")
        << R"(<m result="TRUE" plugin="True" isnew="tRuE" iscommon="true"/>)" << false
        << QStringList{"result=1", "plugin=1", "isNew=1", "isCommon=1"};
    QTest::newRow("flags false for anything else")
        << R"(<m result="1" plugin="yes" isnew=" true" iscommon=""/>)" << false
        << QStringList{"result=0", "plugin=0", "isNew=0", "isCommon=0"};
    QTest::newRow("later duplicate wins")
        << R"(<m name="early" result="false" name="Later" result="true"/>)" << false
        << QStringList{"name=Later", "result=1"};
    QTest::newRow("capitalised names are ignored")
        << R"(<m Name="N" Result="true" Update_mode="2"/>)" << false
        << QStringList{"name=", "result=0", "updateMode=0"};
    QTest::newRow("prefix is not considered")
        << R"(<m a:name="N" b:result="true"/>)" << false << QStringList{"name=N", "result=1"};
    QTest::newRow("update mode") << R"(<m update_mode="2"/>)" << false
                                 << QStringList{"updateMode=2"};
    QTest::newRow("negative update mode")
        << R"(<m update_mode="-3"/>)" << false << QStringList{"updateMode=-3"};
    QTest::newRow("update mode not a number")
        << R"(<m update_mode="2x"/>)" << false << QStringList{"updateMode=0"};
    QTest::newRow("update mode is not hex")
        << R"(<m update_mode="0x10"/>)" << false << QStringList{"updateMode=0"};
    QTest::newRow("update mode out of range")
        << R"(<m update_mode="99999999999"/>)" << false << QStringList{"updateMode=0"};
    QTest::newRow("forced upgrade on TRUE")
        << R"(<m forcedUpgrade="TRUE"/>)" << false << QStringList{"forcedUpgrade=1"};
    QTest::newRow("forced upgrade in any case")
        << R"(<m forcedUpgrade="true"/>)" << false << QStringList{"forcedUpgrade=1"};
    QTest::newRow("forced upgrade is never cleared")
        << R"(<m forcedUpgrade="false"/>)" << true << QStringList{"forcedUpgrade=1"};
    QTest::newRow("CorvaneStandard present")
        << R"(<m CorvaneStandard="v2"/>)" << false
        << QStringList{"corvaneStandard=TRUE", "corvaneStandardValue=v2"};
    QTest::newRow("CorvaneStandard empty still present")
        << R"(<m CorvaneStandard=""/>)" << false
        << QStringList{"corvaneStandard=TRUE", "corvaneStandardValue="};
    QTest::newRow("decoded value")
        << R"(<m description="caf&#233; &amp; &#x1F600;"/>)" << false
        << QStringList{QString::fromUtf8("description=caf\u00e9 & \U0001F600")};
}

void TestCReaderModuleManager::moduleAttributes()
{
    QFETCH(QString, element);
    QFETCH(bool, forcedBefore);
    QFETCH(QStringList, expected);

    Fixture f;
    const QByteArray bytes = element.toUtf8();
    CXML_Element *root = CXML_Element::Parse(bytes.constData(), static_cast<unsigned>(bytes.size()),
                                             0, nullptr, nullptr);
    QVERIFY(root);
    MODULEINFO *record = f.manager.AddModule(f.manager.groupName);
    record->forcedUpgrade = forcedBefore;
    f.manager.ParseModuleInfo(root, record);
    f.manager.ParseModuleInfo(nullptr, record);
    const QStringList fields = describe(*record);
    delete record;
    delete root;
    for (const QString &item : expected)
        QVERIFY2(fields.contains(item), qPrintable(item + " not in " + fields.join(", ")));
}

void TestCReaderModuleManager::pass_data()
{
    QTest::addColumn<QString>("reply"); // fixture name; "" for an empty file, "-" for none
    QTest::addColumn<QString>("state"); // fixture copied to "UpdaterInfo.xml", or ""
    QTest::addColumn<QString>("params");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QStringList>("offer");

    const QString list = "Update List";
    QTest::newRow("verdicts in reply order")
        << "reply-verdicts.xml"
        << ""
        << "" << list << QStringList{"First", "Second", "Fifth"};
    QTest::newRow("express drops OCR_ and PDF/A")
        << "reply-express.xml"
        << ""
        << R"(bExpress:"1")" << list << QStringList{"PDF/A Converter", "ocr_lower", "Plain"};
    QTest::newRow("express with any non-zero number")
        << "reply-express.xml"
        << ""
        << R"(bExpress:"-2")" << list << QStringList{"PDF/A Converter", "ocr_lower", "Plain"};
    QTest::newRow("express off") << "reply-express.xml"
                                 << ""
                                 << R"(bExpress:"0")" << list
                                 << QStringList{"OCR_Engine",      "MyOCR_Pack", "PDF/A",
                                                "PDF/A Converter", "ocr_lower",  "Plain"};
    QTest::newRow("express not a number")
        << "reply-express.xml"
        << ""
        << R"(bExpress:"yes")" << list << QStringList{"OCR_Engine",      "MyOCR_Pack", "PDF/A",
                                                      "PDF/A Converter", "ocr_lower",  "Plain"};
    QTest::newRow("capitalised attribute names ignored")
        << "reply-attributes.xml"
        << ""
        << "" << list << QStringList{"", "Prefixed"};
    QTest::newRow("state file decides")
        << "reply-installed.xml"
        << "state-installed.xml"
        << "" << list << QStringList{"Older", "PathGone", "SelfPatched"};
    QTest::newRow("no state file")
        << "reply-installed.xml"
        << ""
        << "" << list << QStringList{"Same", "Older", "PathGone", "Newer", "SelfPatched"};
    QTest::newRow("state file without its marker")
        << "reply-installed.xml"
        << "state-unmarked.xml"
        << "" << list << QStringList{"Same", "Older", "PathGone", "Newer", "SelfPatched"};
    QTest::newRow("other group skips the availability test")
        << "reply-installed.xml"
        << "state-installed.xml"
        << ""
        << "Other"
        << QStringList{"Same", "Older", "PathGone", "Newer", "Shared", "SelfPatched", "Self"};
    QTest::newRow("housekeeping after the pass")
        << "reply-housekeeping.xml"
        << ""
        << "" << list << QStringList{"ReaderUpdater", "CloudLater"};
    QTest::newRow("not XML") << "bad-not-xml.xml"
                             << ""
                             << "" << list << QStringList{};
    QTest::newRow("empty file") << ""
                                << ""
                                << "" << list << QStringList{};
    QTest::newRow("missing file") << "-"
                                  << ""
                                  << "" << list << QStringList{};
}

void TestCReaderModuleManager::pass()
{
    QFETCH(QString, reply);
    QFETCH(QString, state);
    QFETCH(QString, params);
    QFETCH(QString, group);
    QFETCH(QStringList, offer);

    // The state file and its paths are found relative to the current folder.
    QTemporaryDir dir;
    touch(dir.path() + "/present.dat");
    QVERIFY(QDir(dir.path()).mkpath("present"));
    if (!state.isEmpty())
        QVERIFY(QFile::copy(fixture(state), dir.path() + "/UpdaterInfo.xml"));
    const QString replyPath = dir.path() + "/reply.xml";
    if (reply.isEmpty())
        touch(replyPath);
    else if (reply != "-")
        QVERIFY(QFile::copy(fixture(reply), replyPath));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path()));

    UpdaterApp app;
    app.commandLine->parserParam(params);
    CReaderModuleManager manager(group, &app, nullptr);
    // What an earlier pass offered never survives the next one.
    manager.offeredModules << namedRecord("Earlier");
    ContextLog log;
    manager.OnPaserModuleInfo(replyPath);
    QVERIFY(QDir::setCurrent(previous));

    QCOMPARE(offeredNames(manager), offer);
    for (const MODULEINFO *record : qAsConst(manager.offeredModules))
        QCOMPARE(record->group, group);
    const ContextLog::Line *failure = log.find("Open Reply Xml File failed.");
    QCOMPARE(failure != nullptr, reply == "-");
    if (failure) {
        QCOMPARE(failure->file, QString("updater/src/creadermodulemanager.cpp"));
        QCOMPARE(failure->function,
                 QString("void CReaderModuleManager::OnPaserModuleInfo(QString)"));
    }
}

void TestCReaderModuleManager::stateFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("entries"); // "name version path|path"

    QTest::newRow("entries and paths in order")
        << QByteArray(R"(<updater_info><a name="A" version="1.0"><p path="x"/><q path="y"/></a>)"
                      R"(<b version="2" name="B"/></updater_info>)")
        << QStringList{"A 1.0 x|y", "B 2 "};
    QTest::newRow("root tag not checked, marker anywhere")
        << QByteArray(R"(<root note="updater_info"><m name="A" version="1"/></root>)")
        << QStringList{"A 1 "};
    QTest::newRow("marker is case-sensitive")
        << QByteArray(R"(<Updater_Info><m name="A" version="1"/></Updater_Info>)") << QStringList{};
    QTest::newRow("marker after a NUL byte does not count")
        << QByteArray(R"(<root><m name="A"/></root>)") + QByteArray(1, '\0') + "updater_info"
        << QStringList{};
    QTest::newRow("children without path, other attributes ignored")
        << QByteArray(
               R"(<updater_info><m Name="N" name="A" PATH="z"><f file="x"/><f path="p"/></m></updater_info>)")
        << QStringList{"A  p"};
    QTest::newRow("not XML") << QByteArray("updater_info, but no element") << QStringList{};
    QTest::newRow("empty") << QByteArray() << QStringList{};
}

void TestCReaderModuleManager::stateFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, entries);

    QTemporaryDir dir;
    QFile file(dir.path() + "/UpdaterInfo.xml");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    Fixture f;
    // readerPath is a prefix, not a folder: the name is appended without a separator.
    f.manager.readerPath = dir.path() + "/";
    QVector<_UpdaterInfo *> installed{nullptr};
    f.manager.ParseUpdaterInfo(installed);
    QStringList seen;
    for (const _UpdaterInfo *entry : qAsConst(installed))
        seen << entry->name + " " + entry->version + " " + entry->paths.join("|");
    f.manager.ReleaseUpdaterInfoList(installed);
    QVERIFY(installed.isEmpty());
    QCOMPARE(seen, entries);
}

void TestCReaderModuleManager::untrustedStateFileIsIgnored_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("why"); // empty: the file is read

    QTest::newRow("own file is read") << "good"
                                      << "";
    QTest::newRow("exactly 1 MiB is read") << "1 MiB"
                                           << "";
    QTest::newRow("FIFO returns at once") << "fifo"
                                          << "is not a regular file";
    QTest::newRow("2000 MB sparse file") << "sparse"
                                         << "is larger than 1048576 bytes";
    QTest::newRow("one byte over 1 MiB") << "1 MiB + 1"
                                         << "is larger than 1048576 bytes";
    QTest::newRow("another user's file") << "foreign"
                                         << "belongs to another user (uid 64123)";
    QTest::newRow("writable by everybody") << "0666"
                                           << "is writable by other users";
    QTest::newRow("writable by the group") << "0664"
                                           << "is writable by other users";
    QTest::newRow("link to a good file") << "link"
                                         << "is a symbolic link";
}

void TestCReaderModuleManager::untrustedStateFileIsIgnored()
{
    QFETCH(QString, kind);
    QFETCH(QString, why);

    if (kind == "foreign" && ::geteuid() != 0)
        QSKIP("playing another user needs root");
    QTemporaryDir dir;
    const QString path = dir.path() + "/UpdaterInfo.xml";
    const QByteArray file = QFile::encodeName(path);
    // What another user would plant to freeze the updates.
    QByteArray content = R"(<updater_info><m name="Zandro Reader" version="999"/></updater_info>)";
    if (kind == "1 MiB" || kind == "1 MiB + 1")
        content += QByteArray(1024 * 1024 - content.size() + (kind == "1 MiB" ? 0 : 1), ' ');
    if (kind == "fifo") {
        QCOMPARE(::mkfifo(file.constData(), 0644), 0);
    } else if (kind == "link") {
        QVERIFY(TestEnv::writeFile(dir.path() + "/good.xml", content));
        QVERIFY(QFile::link(dir.path() + "/good.xml", path));
    } else {
        QVERIFY(TestEnv::writeFile(path, content));
        QCOMPARE(::chmod(file.constData(), kind.startsWith('0') ? kind.toUInt(nullptr, 8) : 0644),
                 0);
        if (kind == "sparse")
            QCOMPARE(::truncate(file.constData(), 2000LL * 1024 * 1024), 0);
        if (kind == "foreign")
            QCOMPARE(::chown(file.constData(), 64123, 64123), 0);
    }

    Fixture f;
    f.manager.readerPath = dir.path() + "/";
    QVector<_UpdaterInfo *> installed;
    struct rusage before;
    ::getrusage(RUSAGE_SELF, &before);
    QElapsedTimer timer;
    timer.start();
    LogCapture log;
    f.manager.ParseUpdaterInfo(installed);
    // Bounds far from the faults: a blocking open never returns, reading the sparse file
    // would take its 2000 MB.
    QVERIFY(timer.elapsed() < 30000);
    struct rusage after;
    ::getrusage(RUSAGE_SELF, &after);
    QVERIFY2(after.ru_maxrss - before.ru_maxrss < 200 * 1024,
             qPrintable(QString::number(after.ru_maxrss - before.ru_maxrss)));
    const int entries = installed.size();
    f.manager.ReleaseUpdaterInfoList(installed);
    QCOMPARE(entries, why.isEmpty() ? 1 : 0);
    const QStringList expected{"state file ignored: " + path + ": " + why};
    QCOMPARE(log.lines(), why.isEmpty() ? QStringList() : expected);
}

void TestCReaderModuleManager::offerThatWalksBackIsDropped_data()
{
    QTest::addColumn<QString>("version");      // the parameter string's
    QTest::addColumn<QStringList>("recorded"); // "name|version" installed before
    QTest::addColumn<QString>("modules");      // module elements of the reply
    QTest::addColumn<QStringList>("offer");
    QTest::addColumn<QStringList>("dropped"); // the warnings, after their fixed words

    const QString reader = R"(<m name="Zandro Reader" module_type="reader" result="true" )";
    QTest::newRow("older reader") << "9.1.0.5096" << QStringList{}
                                  << reader + R"(version="9.0.0.1"/>)" << QStringList{}
                                  << QStringList{R"("Zandro Reader" 9.0.0.1 <= 9.1.0.5096)"};
    QTest::newRow("same reader") << "9.1.0.5096" << QStringList{}
                                 << reader + R"(version="9.1.0.5096"/>)" << QStringList{}
                                 << QStringList{R"("Zandro Reader" 9.1.0.5096 <= 9.1.0.5096)"};
    QTest::newRow("newer reader") << "9.1.0.5096" << QStringList{}
                                  << reader + R"(version="9.2.0.1"/>)"
                                  << QStringList{"Zandro Reader"} << QStringList{};
    QTest::newRow("no parameter version, no reader rule")
        << "" << QStringList{} << reader + R"(version="9.0.0.1"/>)" << QStringList{"Zandro Reader"}
        << QStringList{};
    QTest::newRow("reader by its type in another case")
        << "9.1.0.5096" << QStringList{}
        << R"(<m name="Viewer" module_type="READER" version="1.0" result="true"/>)" << QStringList{}
        << QStringList{R"("Viewer" 1.0 <= 9.1.0.5096)"};
    QTest::newRow("reader by its name, blanks and case aside")
        << "9.1.0.5096" << QStringList{}
        << R"(<m name="zandro reader" module_type="plugin" version="9.0" result="true"/>)"
        << QStringList{} << QStringList{R"("zandro reader" 9.0 <= 9.1.0.5096)"};
    QTest::newRow("other modules keep their own versions")
        << "9.1.0.5096" << QStringList{}
        << R"(<m name="OCR Pack" module_type="plugin" version="1.0" result="true"/>)"
        << QStringList{"OCR Pack"} << QStringList{};
    QTest::newRow("installed before, equal")
        << "9.1.0.5096" << QStringList{"OCR Pack|2.0"}
        << R"(<m name="OCR Pack" version="2.0" result="true"/>)" << QStringList{}
        << QStringList{R"("OCR Pack" 2.0 <= 2.0)"};
    QTest::newRow("installed before, lower offered")
        << "" << QStringList{"OCR Pack|2.0"}
        << R"(<m name="OCR Pack" version="1.9.9.9" result="true"/>)" << QStringList{}
        << QStringList{R"("OCR Pack" 1.9.9.9 <= 2.0)"};
    QTest::newRow("installed before, newer offered")
        << "" << QStringList{"OCR Pack|2.0"}
        << R"(<m name="OCR Pack" version="2.0.0.1" result="true"/>)" << QStringList{"OCR Pack"}
        << QStringList{};
    QTest::newRow("installed under another name")
        << "" << QStringList{"OCR Pack|5.0"}
        << R"(<m name="OCR pack" version="1.0" result="true"/>)" << QStringList{"OCR pack"}
        << QStringList{};
    QTest::newRow("reader newer than the parameters, installed already")
        << "9.1.0.5096" << QStringList{"Zandro Reader|9.2.0.1"} << reader + R"(version="9.2.0.1"/>)"
        << QStringList{} << QStringList{R"("Zandro Reader" 9.2.0.1 <= 9.2.0.1)"};
    QTest::newRow("offer order kept around a drop")
        << "9.1.0.5096" << QStringList{}
        << R"(<m name="A" version="1" result="true"/>)" + reader +
               R"(version="9.0.0.1"/><m name="B" version="2" result="true"/>)"
        << QStringList{"A", "B"} << QStringList{R"("Zandro Reader" 9.0.0.1 <= 9.1.0.5096)"};
    QTest::newRow("a record already dropped says nothing more")
        << "9.1.0.5096" << QStringList{}
        << R"(<m name="Zandro Reader" module_type="reader" version="9.0" result="false"/>)"
        << QStringList{} << QStringList{};
}

void TestCReaderModuleManager::offerThatWalksBackIsDropped()
{
    QFETCH(QString, version);
    QFETCH(QStringList, recorded);
    QFETCH(QString, modules);
    QFETCH(QStringList, offer);
    QFETCH(QStringList, dropped);

    FreshStateHome state;
    for (const QString &entry : qAsConst(recorded)) {
        QString problem;
        QVERIFY2(
            InstalledVersions::record(entry.section('|', 0, 0), entry.section('|', 1), &problem),
            qPrintable(problem));
    }
    QTemporaryDir dir;
    const QString replyPath = dir.path() + "/reply.xml";
    QVERIFY(TestEnv::writeFile(replyPath, ("<modules>" + modules + "</modules>").toUtf8()));
    Fixture f(
        QStringLiteral(R"(type:"Update List",product:"ZandroReader",version:"%1")").arg(version));
    LogCapture log;
    f.manager.OnPaserModuleInfo(replyPath);
    QCOMPARE(offeredNames(f.manager), offer);
    QStringList warnings;
    const QString words = "offer dropped, not newer than the installed version: ";
    for (const QString &line : log.lines()) {
        if (line.startsWith(words))
            warnings << line.mid(words.size());
    }
    QCOMPARE(warnings, dropped);
}

void TestCReaderModuleManager::queryEndToEnd()
{
    // The service is addressed with its path doubled, so that is where the reply must lie.
    NginxServer server;
    QFile original(fixture("reply-verdicts.xml"));
    QVERIFY(original.open(QIODevice::ReadOnly));
    const QByteArray replyBytes = original.readAll();
    QVERIFY(server.addFile("addons/get_addons.php/get_addons.php", replyBytes));
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    const QString host = "127.0.0.1:" + QString::number(server.port());
    qputenv("ZANDRO_CATALOGUE_HOST", host.toUtf8());

    Fixture f(R"(product:"reader",version:"1.2.3.4")");
    QProgressBar bar;
    QSignalSpy finished(&f.manager, &CReaderModuleManager::sQueryModuleInfoFinish);
    ContextLog log;
    QCOMPARE(f.manager.QueryModuleInfo(&bar), 0);
    const QString replyPath = QDir::tempPath() + "/ZandroQuillet/update_tmpfile.xml";
    QCOMPARE(f.manager.replyFilePath, replyPath);
    QVERIFY(finished.wait(20000));
    QCoreApplication::processEvents();
    QCOMPARE(finished.count(), 1);

    const QString query = "/get_addons.php?addon=Update%20List&product=reader&version=1.2"
                          "&build=3.4&platform=x86&EmbededLanguage=en_us";
    QVERIFY(server.waitForRequests(1));
    QCOMPARE(server.requests().size(), 1);
    QCOMPARE(server.requests().at(0).requestLine,
             "GET /addons/get_addons.php" + query + " HTTP/1.1");
    QCOMPARE(offeredNames(f.manager), (QStringList{"First", "Second", "Fifth"}));
    QCOMPARE(bar.value(), 100);
    QFile reply(replyPath);
    QVERIFY(reply.open(QIODevice::ReadOnly));
    QCOMPARE(reply.readAll(), replyBytes);

    const ContextLog::Line *url = log.find("CReaderModuleManager::QueryModuleInfo:strURL: ");
    const ContextLog::Line *path =
        log.find("CReaderModuleManager::QueryModuleInfo:strTempPathName: ");
    QVERIFY(url && path);
    QCOMPARE(url->message, "CReaderModuleManager::QueryModuleInfo:strURL:  \"http://" + host +
                               "/addons/get_addons.php" + query + "\"");
    QCOMPARE(path->message,
             "CReaderModuleManager::QueryModuleInfo:strTempPathName:  \"" + replyPath + "\"");
    QCOMPARE(url->file, QString("updater/src/creadermodulemanager.cpp"));
    QCOMPARE(url->function,
             QString("int CReaderModuleManager::QueryModuleInfo(QProgressBar*, bool)"));
    QCOMPARE(url->line, sourceLine("\"CReaderModuleManager::QueryModuleInfo:strURL: \""));
    QCOMPARE(path->line, sourceLine("\"CReaderModuleManager::QueryModuleInfo:strTempPathName: \""));

    // A second query replaces the downloader and the whole offer.
    QPointer<QHttpDownLoadS> first = f.manager.downloader;
    QFile::remove(replyPath);
    QCOMPARE(f.manager.QueryModuleInfo(&bar), 0);
    QVERIFY(first.isNull());
    QVERIFY(f.manager.downloader);
    QVERIFY(finished.wait(20000));
    QCoreApplication::processEvents();
    QCOMPARE(finished.count(), 2);
    QVERIFY(server.waitForRequests(2));
    QCOMPARE(server.requests().size(), 2);
    QCOMPARE(offeredNames(f.manager), (QStringList{"First", "Second", "Fifth"}));
    qunsetenv("ZANDRO_CATALOGUE_HOST");
}

void TestCReaderModuleManager::queryFailsWithoutReplyFolder()
{
    // A plain file where the shared folder belongs: the per-user folder is taken instead.
    const QString blocker = QDir::tempPath() + "/ZandroQuillet";
    const QString fallback = qEnvironmentVariable("XDG_CACHE_HOME") + "/zandro-updater";
    QDir(blocker).removeRecursively();
    touch(blocker);
    qputenv("ZANDRO_CATALOGUE_HOST", "127.0.0.1:9");
    {
        Fixture f;
        QProgressBar bar;
        QCOMPARE(f.manager.QueryModuleInfo(&bar), 0);
        QCOMPARE(f.manager.replyFilePath, fallback + "/update_tmpfile.xml");
    }
    // With the per-user folder blocked too, nothing can be written anywhere.
    QDir(fallback).removeRecursively();
    touch(fallback);
    Fixture f;
    QProgressBar bar;
    QSignalSpy finished(&f.manager, &CReaderModuleManager::sQueryModuleInfoFinish);
    ContextLog log;
    QCOMPARE(f.manager.QueryModuleInfo(&bar), 1);
    QVERIFY2(f.manager.queryFailure.contains("is not a folder"),
             qPrintable(f.manager.queryFailure));
    QVERIFY(QFile::remove(fallback));
    const ContextLog::Line *line = log.find("can not make path:");
    QVERIFY(line);
    QCOMPARE(line->message, "can not make path: \"" + blocker + "\"");
    QCOMPARE(line->line, sourceLine("\"can not make path:\""));
    QVERIFY(f.manager.downloader);
    QCoreApplication::processEvents();
    QCOMPARE(finished.count(), 0);
    QVERIFY(QFile::remove(blocker));
    qunsetenv("ZANDRO_CATALOGUE_HOST");
}

void TestCReaderModuleManager::queryFailsWhenReplyCannotBeWritten()
{
    // A folder in the reply file's place can be neither removed nor opened for writing.
    const QString replyPath = QDir::tempPath() + "/ZandroQuillet/update_tmpfile.xml";
    QVERIFY(QDir().mkpath(replyPath));
    qputenv("ZANDRO_CATALOGUE_HOST", "127.0.0.1:9");
    Fixture f;
    QProgressBar bar;
    QSignalSpy finished(&f.manager, &CReaderModuleManager::sQueryModuleInfoFinish);
    QCOMPARE(f.manager.QueryModuleInfo(&bar), 1);
    QCoreApplication::processEvents();
    QCOMPARE(finished.count(), 0);
    QVERIFY(QDir(replyPath).removeRecursively());
    qunsetenv("ZANDRO_CATALOGUE_HOST");
}

ZANDRO_TEST_MAIN(TestCReaderModuleManager)
#include "tst_creadermodulemanager.moc"
