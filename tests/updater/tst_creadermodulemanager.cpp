#include <QtTest>

#include <cstdlib>
#include <ctime>

#include "commandline.h"
#include "creadermodulemanager.h"
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
};

void TestCReaderModuleManager::cleanup()
{
    qunsetenv("TZ");
    tzset();
}

void TestCReaderModuleManager::signalAndSlotOrder()
{
    const QMetaObject &meta = CReaderModuleManager::staticMetaObject;
    QCOMPARE(meta.methodCount() - meta.methodOffset(), 2);
    const QMetaMethod signal = meta.method(meta.methodOffset());
    const QMetaMethod slot = meta.method(meta.methodOffset() + 1);
    QCOMPARE(signal.methodSignature(), QByteArray("sQueryModuleInfoFinish()"));
    QCOMPARE(signal.methodType(), QMetaMethod::Signal);
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

    QTest::newRow("equal") << "1.2.3.4" << "1.2.3.4" << 0;
    QTest::newRow("fields are numbers, not text") << "1.10" << "1.9" << 1;
    QTest::newRow("first difference decides") << "2.0.0.0" << "1.9.9.9" << 1;
    QTest::newRow("lower fourth field") << "1.2.3.4" << "1.2.3.5" << -1;
    QTest::newRow("one field repeats four times") << "7" << "7.7.7.7" << 0;
    QTest::newRow("two fields repeat the last") << "1.2" << "1.2.0.0" << 1;
    QTest::newRow("three fields repeat the last") << "1.2.3" << "1.2.3.3" << 0;
    QTest::newRow("a fifth field spoils the fourth") << "1.2.3.4.5" << "1.2.3.0" << 0;
    QTest::newRow("no digits on either side") << "beta" << "alpha" << 0;
    QTest::newRow("empty reads as zeros") << "" << "0.0.0.0" << 0;
    QTest::newRow("positive against empty") << "0.0.0.1" << "" << 1;
    QTest::newRow("negative fields compare signed") << "-1.0.0.0" << "0.0.0.0" << -1;
    QTest::newRow("field that is not a number is 0") << "1.x.3.4" << "1.0.3.4" << 0;
    QTest::newRow("blank inside a field spoils it") << "1.2.3.1 0" << "1.2.3.0" << 0;
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
        << R"(product:"reader",version:"1.2.3.4")" << "Update List"
        << "/get_addons.php?addon=Update%20List&product=reader&version=1.2&build=3.4"
           "&platform=x86&EmbededLanguage=en_us";
    QTest::newRow("no version leaves out version and build")
        << R"(product:"reader")" << "Update List"
        << "/get_addons.php?addon=Update%20List&product=reader&platform=x86&EmbededLanguage=en_us";
    QTest::newRow("empty version too")
        << R"(product:"reader",version:"")" << "Update List"
        << "/get_addons.php?addon=Update%20List&product=reader&platform=x86&EmbededLanguage=en_us";
    QTest::newRow("no full stop: whole text twice")
        << R"(product:"reader",version:"12")" << "Update List"
        << "/get_addons.php?addon=Update%20List&product=reader&version=12&build=12"
           "&platform=x86&EmbededLanguage=en_us";
    QTest::newRow("one full stop: whole text twice")
        << R"(product:"reader",version:"1.2")" << "Update List"
        << "/get_addons.php?addon=Update%20List&product=reader&version=1.2&build=1.2"
           "&platform=x86&EmbededLanguage=en_us";
    QTest::newRow("split at the second full stop only")
        << R"(product:"reader",version:"1.2.3.4.5")" << "Update List"
        << "/get_addons.php?addon=Update%20List&product=reader&version=1.2&build=3.4.5"
           "&platform=x86&EmbededLanguage=en_us";
    QTest::newRow("leading full stops")
        << R"(product:"reader",version:"..9")" << "Update List"
        << "/get_addons.php?addon=Update%20List&product=reader&version=.&build=9"
           "&platform=x86&EmbededLanguage=en_us";
    QTest::newRow("product goes unencoded")
        << R"(product:"Zandro Reader",version:"1.2.3")" << "Update List"
        << "/get_addons.php?addon=Update%20List&product=Zandro Reader&version=1.2&build=3"
           "&platform=x86&EmbededLanguage=en_us";
    QTest::newRow("no parameters at all")
        << "" << "Update List"
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
    QTest::newRow("same version, no paths") << "2.0.0.0" << QStringList() << "2.0.0.0" << false
                                            << "Mod" << true;
    QTest::newRow("higher installed") << "2.1" << QStringList() << "2.0.0.0" << false << "Mod"
                                      << true;
    QTest::newRow("lower installed") << "1.9.9.9" << QStringList() << "2.0.0.0" << false << "Mod"
                                     << false;
    QTest::newRow("all paths present") << "2.0.0.0" << QStringList{"present", "present/file"}
                                       << "2.0.0.0" << false << "Mod" << true;
    QTest::newRow("one path missing") << "2.0.0.0" << QStringList{"present", "missing"}
                                      << "2.0.0.0" << false << "Mod" << false;
    QTest::newRow("not installed") << "9.0.0.0" << QStringList() << "2.0.0.0" << false
                                   << "Other" << false;
    QTest::newRow("names are case-sensitive") << "9.0.0.0" << QStringList() << "2.0.0.0" << false
                                              << "mod" << false;
    QTest::newRow("common module whatever is installed") << "1.0.0.0" << QStringList{"missing"}
                                                         << "2.0.0.0" << true << "Other" << true;
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
    QTest::newRow("not the updater") << "plugin" << "exe" << "9" << "MspPatch" << false << true;
    QTest::newRow("type is case-sensitive") << "Updater" << "exe" << "9" << "" << false << true;
    QTest::newRow("higher with MspPatch url") << "updater" << "Up" << "1.0" << "http://h/MspPatch.zip"
                                              << false << false;
    QTest::newRow("higher with exe in name") << "updater" << "setup.exe" << "1.0" << "" << false
                                             << false;
    QTest::newRow("EXE in capitals does not count") << "updater" << "SETUP.EXE" << "1.0" << ""
                                                    << false << true;
    QTest::newRow("higher, neither marker") << "updater" << "Up" << "1.0" << "http://h/u.zip"
                                            << false << true;
    QTest::newRow("not higher") << "updater" << "setup.exe" << "0.0.0.0" << "" << false << true;
    // Blanks stay in the updater test: "1 0" is no number and reads as 0.
    QTest::newRow("blank spoils the version") << "updater" << "setup.exe" << "1 0" << "" << false
                                              << true;
    QTest::newRow("common updater is still judged") << "updater" << "setup.exe" << "1.0" << ""
                                                    << true << false;
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

    QTest::newRow("updater and patch") << QStringList{"ReaderUpdater", "ReaderPatch"}
                                       << QStringList{"ReaderUpdater"};
    QTest::newRow("patch before updater") << QStringList{"ReaderPatch", "ReaderUpdater"}
                                          << QStringList{"ReaderUpdater"};
    QTest::newRow("only the later of two patches") << QStringList{"Patch1", "Updater", "Patch2"}
                                                   << QStringList{"Patch1", "Updater"};
    QTest::newRow("patch alone stays") << QStringList{"Patch", "Other"}
                                       << QStringList{"Patch", "Other"};
    QTest::newRow("updater alone stays") << QStringList{"Updater"} << QStringList{"Updater"};
    QTest::newRow("one record naming both") << QStringList{"A", "UpdaterPatch", "B"}
                                            << QStringList{"A", "B"};
    QTest::newRow("case-sensitive") << QStringList{"updater", "patch"}
                                    << QStringList{"updater", "patch"};
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

    QTest::newRow("service mode with TRUE") << ServiceItems{{2, "TRUE"}, {0, ""}}
                                            << QStringList{"1"};
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

ZANDRO_TEST_MAIN(TestCReaderModuleManager)
#include "tst_creadermodulemanager.moc"
