// The download window's run: Setup.xml reading, the confirmed installer call, the download with
// its shortcut and folder checks against nginx on loopback, and the unpack-and-install step on
// packages made with zandro-pack.
#include <QtTest>

#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTextEdit>

#include <cstdio>
#include <memory>

#include <sys/stat.h>
#include <unistd.h>

#include "dlgdownload.h"
#include "commandline.h"
#include "dlgmessage.h"
#include "httpserver.h"
#include "testenv.h"
#include "updatedefine.h"
#include "updaterapp.h"

namespace {
const char kConfirmation[] = "Download completed. Please close Zandro Reader when you complete "
                             "your job, and click \"Install\".";
const char kPackagePath[] = "/packages/zandro-9.2.0.1.pkg";

// Records every call: argument count, first argument and the content of the file it names.
const char kRecordingInstaller[] =
    "#!/bin/sh\n"
    "log=\"$(dirname \"$0\")/calls.log\"\n"
    "if [ -f \"$1\" ]; then content=$(cat \"$1\"); else content=missing; fi\n"
    "printf '%s|%s|%s\\n' \"$#\" \"$1\" \"$content\" >> \"$log\"\n"
    "exit 0\n";

using TestEnv::readFile;
using TestEnv::writeFile;

bool writeProgram(const QString &path, const QByteArray &script, bool executable = true)
{
    if (!writeFile(path, script))
        return false;
    QFileDevice::Permissions mode = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (executable)
        mode |= QFileDevice::ExeOwner;
    return QFile::setPermissions(path, mode);
}

// The installer's recorded calls, one "count|argument|content" text per call.
QStringList installerCalls(const QString &installFolder)
{
    const QByteArray log = readFile(installFolder + "/calls.log");
    if (log == "<missing>")
        return {};
    return QString::fromUtf8(log).split('\n', Qt::SkipEmptyParts);
}

// Sets "Quillet_UpdateOldPath" in the private settings store; an invalid value removes the key.
void setOldPath(const QVariant &value)
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope,
                       QLatin1String(Updater::SettingsOrganization),
                       QLatin1String(Updater::SettingsApplication));
    if (value.isValid())
        settings.setValue(QLatin1String(Updater::KeyUpdateOldPath), value);
    else
        settings.remove(QLatin1String(Updater::KeyUpdateOldPath));
    settings.sync();
}

// Packs name/content pairs, in order, with zandro-pack's own Setup.xml listing them.
bool makePackage(const QString &package, const QList<QPair<QString, QByteArray>> &files)
{
    const QString sources = QFileInfo(package).absolutePath() + "/sources";
    if (!QDir().mkpath(sources))
        return false;
    QStringList args{"create", "--preset", "0", package};
    for (const auto &file : files) {
        const QString path = sources + "/" + file.first;
        if (!writeFile(path, file.second))
            return false;
        args << path;
    }
    return TestEnv::run(QStringLiteral(ZANDRO_PACK), args);
}

// Answers every message dialog that opens, from a timer, the way qtbase's own tests close a
// modal dialog: the answers in order (true = the OK button, false = Cancel), Cancel when they
// have run out. It records what each dialog showed.
class DialogAnswerer : public QObject
{
public:
    explicit DialogAnswerer(QList<bool> answers = {}) : m_answers(std::move(answers))
    {
        connect(&m_timer, &QTimer::timeout, this, &DialogAnswerer::answer);
        m_timer.start(10);
    }

    QStringList texts;
    QStringList okTexts;
    QList<bool> hadCancel;

private:
    void answer()
    {
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (QWidget *window : windows) {
            auto *dialog = qobject_cast<DlgMessage *>(window);
            if (!dialog || !dialog->isVisible() || dialog->property("answered").toBool())
                continue;
            dialog->setProperty("answered", true);
            auto *box = dialog->findChild<QDialogButtonBox *>("buttonBox");
            auto *label = dialog->findChild<QLabel *>("label");
            texts << (label ? label->text() : QString());
            QPushButton *ok = box->button(QDialogButtonBox::Ok);
            QPushButton *cancel = box->button(QDialogButtonBox::Cancel);
            okTexts << (ok ? ok->text() : QString());
            hadCancel << (cancel != nullptr);
            const bool accept = m_answers.isEmpty() ? false : m_answers.takeFirst();
            QPushButton *button = accept ? ok : cancel;
            if (button)
                button->click();
            else
                dialog->close();
        }
    }

    QList<bool> m_answers;
    QTimer m_timer;
};

// Counts the show and close events of a window.
class WindowWatch : public QObject
{
public:
    explicit WindowWatch(QWidget *window) { window->installEventFilter(this); }
    int shows = 0;
    int closes = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            ++shows;
        else if (event->type() == QEvent::Close)
            ++closes;
        return false;
    }
};

struct Entry
{
    QString setupFile; // "@" stands for the unpack folder with its "/"
    QString parameter;
    bool isCommon;
};

QStringList describe(const QVector<_SetupInfo *> &entries, const QString &folder)
{
    QStringList out;
    for (const _SetupInfo *entry : entries) {
        QString file = entry->setupFile;
        if (file.startsWith(folder))
            file = "@" + file.mid(folder.size());
        out << QStringLiteral("%1|%2|%3")
                   .arg(file, entry->parameter, entry->isCommon ? "true" : "false");
    }
    return out;
}

enum class Folder
{
    Link,
    RegularFile,
    OtherOwner
};
enum class FinishCase
{
    EmptyPath,
    UnpackFolderBlocked,
    DamagedPackage
};
enum class OldPath
{
    Absent,
    Empty,
    CurrentFolder
};
} // namespace

Q_DECLARE_METATYPE(Folder)
Q_DECLARE_METATYPE(FinishCase)
Q_DECLARE_METATYPE(OldPath)

class TestDlgDownload : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void parseSetupInfo_data();
    void parseSetupInfo();
    void parseSetupInfoFolderForms();

    void installUpdates_data();
    void installUpdates();
    void installerFolder_data();
    void installerFolder();
    void installerRefused_data();
    void installerRefused();
    void entryChangedAfterUnpacking_data();
    void entryChangedAfterUnpacking();

    void passInstallsFirstModuleThenTakesTheShortcut();
    void announcedSize_data();
    void announcedSize();
    void downloadTargetLink_data();
    void downloadTargetLink();
    void packageNameRefused_data();
    void packageNameRefused();
    void sharedFolderRefused_data();
    void sharedFolderRefused();
    void confirmationsAndSummary_data();
    void confirmationsAndSummary();
    void finishStops_data();
    void finishStops();
    void setupEntriesThatAreNoFiles_data();
    void setupEntriesThatAreNoFiles();
    void workFolderIsKeptForThePass();

private:
    QString tmp() const { return m_tmp->path(); }
    QString downloadFolder() const { return tmp() + "/ZandroQuillet/"; }
    QString unpackFolder() const { return tmp() + "/ZandroQuillet/uncompress/"; }
    // A module offered at path on the server, with the given size text.
    MODULEINFO *module(const QString &path, const QString &size,
                       const QString &description = "Zandro Reader 9.2");
    void startServer();

    std::unique_ptr<QTemporaryDir> m_tmp;
    std::unique_ptr<NginxServer> m_server;
    QList<std::shared_ptr<MODULEINFO>> m_modules;
    QString m_install;
};

void TestDlgDownload::initTestCase()
{
    // The windows are closed many times over; the test process must not end with them.
    QApplication::setQuitOnLastWindowClosed(false);
}

void TestDlgDownload::init()
{
    // QDir::tempPath() follows TMPDIR, so every test gets a temporary folder of its own.
    m_tmp.reset(new QTemporaryDir(TestEnv::root() + "/case-XXXXXX"));
    QVERIFY(m_tmp->isValid());
    qputenv("TMPDIR", QFile::encodeName(tmp()));
    QCOMPARE(QDir::tempPath(), tmp());
    m_install = tmp() + "/install dir";
    QVERIFY(QDir().mkpath(m_install));
    QVERIFY(writeProgram(m_install + "/installUpdate", kRecordingInstaller));
    setOldPath(m_install);
}

void TestDlgDownload::cleanup()
{
    m_server.reset();
    m_modules.clear();
    qputenv("TMPDIR", QFile::encodeName(TestEnv::root()));
    m_tmp.reset();
}

MODULEINFO *TestDlgDownload::module(const QString &path, const QString &size,
                                    const QString &description)
{
    auto record = std::make_shared<MODULEINFO>();
    record->name = "Zandro Reader";
    record->version = "9.2.0.1";
    record->description = description;
    record->size = size;
    record->url = m_server->url(path).toString();
    m_modules << record;
    return record.get();
}

void TestDlgDownload::startServer()
{
    m_server.reset(new NginxServer);
    QVERIFY2(m_server->start(), qPrintable(m_server->errorString()));
}

// ---- Setup.xml ----

void TestDlgDownload::parseSetupInfo_data()
{
    QTest::addColumn<QByteArray>("xml"); // a null array: no Setup.xml at all
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("skipLines");

    QTest::newRow("two files in document order")
        << QByteArray("<setup><file name=\"b.bin\" parameter=\"-q\" iscommon=\"true\"/>"
                      "<file name=\"a b/read me.txt\"/></setup>")
        << QStringList{"@b.bin|-q|true", "@a b/read me.txt||false"} << 0;
    QTest::newRow("another tag still makes an entry, without a file")
        << QByteArray("<setup><folder name=\"x\" iscommon=\"true\"/><file name=\"a\"/></setup>")
        << QStringList{"||false", "@a||false"} << 0;
    QTest::newRow("missing name gives the folder")
        << QByteArray("<setup><file parameter=\"p\"/></setup>") << QStringList{"@|p|false"} << 0;
    QTest::newRow("iscommon TRUE") << QByteArray("<s><file name=\"a\" iscommon=\"TRUE\"/></s>")
                                   << QStringList{"@a||true"} << 0;
    QTest::newRow("iscommon True") << QByteArray("<s><file name=\"a\" iscommon=\"True\"/></s>")
                                   << QStringList{"@a||true"} << 0;
    QTest::newRow("iscommon other") << QByteArray("<s><file name=\"a\" iscommon=\"yes\"/></s>")
                                    << QStringList{"@a||false"} << 0;
    QTest::newRow("iscommon with blanks")
        << QByteArray("<s><file name=\"a\" iscommon=\" true\"/></s>") << QStringList{"@a||false"}
        << 0;
    QTest::newRow("duplicate attribute, last wins")
        << QByteArray("<s><file name=\"a\" name=\"b\" parameter=\"1\" parameter=\"2\"/></s>")
        << QStringList{"@b|2|false"} << 0;
    QTest::newRow("namespaced attributes, local name counts, last wins")
        << QByteArray("<s xmlns:x=\"u:x\" xmlns:y=\"u:y\">"
                      "<file x:name=\"a\" y:name=\"b\" x:iscommon=\"true\"/></s>")
        << QStringList{"@b||true"} << 0;
    QTest::newRow("attribute names are case-sensitive")
        << QByteArray("<s><file Name=\"a\" ISCOMMON=\"true\"/></s>") << QStringList{"@||false"}
        << 0;
    QTest::newRow("tag name is case-sensitive")
        << QByteArray("<s><File name=\"a\"/></s>") << QStringList{"||false"} << 0;
    QTest::newRow("text between entries is no entry")
        << QByteArray("<s>\n  text <file name=\"a\"/> more\n</s>") << QStringList{"@a||false"} << 0;
    QTest::newRow("names that climb out are skipped")
        << QByteArray(
               "<s><file name=\"/etc/passwd\"/><file name=\"../x\"/><file name=\"a/../../x\"/>"
               "<file name=\"..\"/><file name=\"ok/..b\"/><file name=\"..c\"/></s>")
        << QStringList{"@ok/..b||false", "@..c||false"} << 4;
    QTest::newRow("root without children") << QByteArray("<s/>") << QStringList{} << 0;
    QTest::newRow("missing Setup.xml") << QByteArray() << QStringList{} << 0;
    QTest::newRow("empty Setup.xml") << QByteArray("") << QStringList{} << 0;
    // The reader takes whatever it could read, the cut entry included.
    QTest::newRow("Setup.xml cut short") << QByteArray("<s><file name=\"a\"/><file name=\"b")
                                         << QStringList{"@a||false", "@b||false"} << 0;
    QTest::newRow("unparsable Setup.xml") << QByteArray("</s>") << QStringList{} << 0;
    QTest::newRow("no root element at all") << QByteArray("just text") << QStringList{} << 0;
}

void TestDlgDownload::parseSetupInfo()
{
    QFETCH(QByteArray, xml);
    QFETCH(QStringList, entries);
    QFETCH(int, skipLines);

    const QString folder = unpackFolder();
    QVERIFY(QDir().mkpath(folder));
    if (!xml.isNull())
        QVERIFY(writeFile(folder + "Setup.xml", xml));

    UpdaterApp app;
    LogCapture log;
    QVector<_SetupInfo *> found;
    app.downloadWindow->ParseSetupInfo(folder, found);
    QCOMPARE(describe(found, folder), entries);
    QCOMPARE(log.count("skip Setup.xml entry outside the package folder:"), skipLines);
    qDeleteAll(found);
}

void TestDlgDownload::parseSetupInfoFolderForms()
{
    UpdaterApp app;
    DlgDownload *window = app.downloadWindow;
    const QString folder = tmp() + "/unpacked";
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(writeFile(folder + "/Setup.xml", "<s><file name=\"a\"/></s>"));

    // Without its trailing "/" the folder gets one before the name.
    QVector<_SetupInfo *> found;
    window->ParseSetupInfo(folder, found);
    QCOMPARE(describe(found, folder + "/"), QStringList{"@a||false"});
    qDeleteAll(found);

    // An empty folder argument leaves the list as it was.
    _SetupInfo kept;
    QVector<_SetupInfo *> untouched{&kept};
    window->ParseSetupInfo(QString(), untouched);
    QCOMPARE(untouched.size(), 1);

    // A missing folder is created (one level) and gives no entries.
    QVector<_SetupInfo *> none;
    window->ParseSetupInfo(tmp() + "/fresh", none);
    QVERIFY(none.isEmpty());
    QVERIFY(QFileInfo(tmp() + "/fresh").isDir());
}

// ---- installUpdates ----

void TestDlgDownload::installUpdates_data()
{
    QTest::addColumn<QByteArray>("installer"); // null: no installer file
    QTest::addColumn<bool>("executable");
    QTest::addColumn<bool>("accept");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("calls");

    const QByteArray recording(kRecordingInstaller);
    QTest::newRow("declined") << recording << true << false << -1 << 0;
    QTest::newRow("installed") << recording << true << true << 0 << 1;
    QTest::newRow("installer missing") << QByteArray() << true << true << -2 << 0;
    QTest::newRow("installer not executable") << recording << false << true << -2 << 0;
    QTest::newRow("installer crashes")
        << QByteArray("#!/bin/sh\nkill -SEGV $$\n") << true << true << -1 << 0;
    QTest::newRow("installer exit code returned")
        << QByteArray("#!/bin/sh\nexit 7\n") << true << true << 7 << 0;
}

void TestDlgDownload::installUpdates()
{
    QFETCH(QByteArray, installer);
    QFETCH(bool, executable);
    QFETCH(bool, accept);
    QFETCH(int, result);
    QFETCH(int, calls);

    QFile::remove(m_install + "/installUpdate");
    if (!installer.isNull())
        QVERIFY(writeProgram(m_install + "/installUpdate", installer, executable));

    // A blank in the folder and in the name: the installer still gets the path as one argument.
    const QString file = tmp() + "/un pack/read me.txt";
    QVERIFY(QDir().mkpath(tmp() + "/un pack"));
    QVERIFY(writeFile(file, "notes"));

    UpdaterApp app;
    DialogAnswerer answerer({accept});
    QCOMPARE(app.downloadWindow->installUpdates(file), result);
    QCOMPARE(answerer.texts, QStringList{kConfirmation});
    QCOMPARE(answerer.okTexts, QStringList{"Install"});
    QCOMPARE(answerer.hadCancel, QList<bool>{true});
    QStringList expected;
    for (int i = 0; i < calls; ++i)
        expected << "1|" + file + "|notes";
    QCOMPARE(installerCalls(m_install), expected);
}

void TestDlgDownload::installerFolder_data()
{
    QTest::addColumn<OldPath>("oldPath");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("ownFolderCalls");

    QTest::newRow("no stored folder: next to the running program")
        << OldPath::Absent << 0 << QStringList{"1|/some file|missing"};
    // An empty stored folder makes the program "/installUpdate", which does not exist here.
    QTest::newRow("stored folder empty: refused") << OldPath::Empty << -2 << QStringList{};
    // The folder the updater was started in is wherever the reader or a shell happened to be;
    // under ctest it is the test binary's own folder, where the installer stands.
    QTest::newRow("stored folder \".\": refused") << OldPath::CurrentFolder << -2
                                                 << QStringList{};
}

void TestDlgDownload::installerFolder()
{
    QFETCH(OldPath, oldPath);
    QFETCH(int, result);
    QFETCH(QStringList, ownFolderCalls);

    if (QFileInfo::exists("/installUpdate"))
        QSKIP("this machine has a /installUpdate");
    // The running program is the test binary; an installer is put next to it for this test only.
    const QString ownFolder = QCoreApplication::applicationDirPath();
    const QString program = ownFolder + "/installUpdate";
    QVERIFY2(!QFileInfo::exists(program), "a stale installUpdate is next to the test binary");
    QVERIFY(writeProgram(program, kRecordingInstaller));
    const auto removeProgram = qScopeGuard([&] {
        QFile::remove(program);
        QFile::remove(ownFolder + "/calls.log");
    });
    QVERIFY(QDir::setCurrent(ownFolder));
    setOldPath(oldPath == OldPath::Empty           ? QVariant(QString(""))
               : oldPath == OldPath::CurrentFolder ? QVariant(QString("."))
                                                   : QVariant());

    UpdaterApp app;
    DialogAnswerer answerer({true});
    QCOMPARE(app.downloadWindow->installUpdates("/some file"), result);
    QCOMPARE(installerCalls(ownFolder), ownFolderCalls);
    QCOMPARE(installerCalls(m_install), QStringList{});
}

void TestDlgDownload::installerRefused_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<int>("result");
    QTest::newRow("a good installer") << "good" << 0;
    QTest::newRow("a link to a good installer") << "link" << 0;
    QTest::newRow("writable by its group") << "group-writable" << -2;
    QTest::newRow("writable by everybody") << "world-writable" << -2;
    QTest::newRow("another user's program") << "foreign" << -2;
    QTest::newRow("in a folder everybody can write") << "open-folder" << -2;
    QTest::newRow("in another user's folder") << "foreign-folder" << -2;
    QTest::newRow("a folder of that name") << "folder" << -2;
}

void TestDlgDownload::installerRefused()
{
    QFETCH(QString, setup);
    QFETCH(int, result);
    if (setup.startsWith("foreign") && ::geteuid() != 0)
        QSKIP("giving a file to another user needs root");
    const QString program = m_install + "/installUpdate";
    const QByteArray native = QFile::encodeName(program);
    if (setup == "link") {
        const QString real = tmp() + "/elsewhere/installUpdate";
        QVERIFY(QDir().mkpath(tmp() + "/elsewhere"));
        QVERIFY(QFile::rename(program, real));
        QVERIFY(QFile::link(real, program));
    } else if (setup == "group-writable") {
        QCOMPARE(::chmod(native.constData(), 0770), 0);
    } else if (setup == "world-writable") {
        QCOMPARE(::chmod(native.constData(), 0707), 0);
    } else if (setup == "foreign") {
        QCOMPARE(::chown(native.constData(), 65534, 65534), 0);
    } else if (setup == "open-folder") {
        QCOMPARE(::chmod(QFile::encodeName(m_install).constData(), 0777), 0);
    } else if (setup == "foreign-folder") {
        QCOMPARE(::chown(QFile::encodeName(m_install).constData(), 65534, 65534), 0);
    } else if (setup == "folder") {
        QVERIFY(QFile::remove(program));
        QVERIFY(QDir().mkpath(program));
    }
    const QString file = tmp() + "/reader.bin";
    QVERIFY(writeFile(file, "bytes"));

    UpdaterApp app;
    LogCapture log;
    DialogAnswerer answerer({true});
    QCOMPARE(app.downloadWindow->installUpdates(file), result);
    QCOMPARE(log.count("installer refused: " + program + ": "), result == 0 ? 0 : 1);
    const QString callsFolder = setup == "link" ? tmp() + "/elsewhere" : m_install;
    QCOMPARE(installerCalls(callsFolder).size(), result == 0 ? 1 : 0);
}

void TestDlgDownload::entryChangedAfterUnpacking_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("result");
    QTest::newRow("unchanged") << "none" << 0;
    QTest::newRow("rewritten in place") << "rewrite" << 0;
    QTest::newRow("replaced by another file") << "replace" << -3;
    QTest::newRow("replaced by a link to it") << "link" << -3;
    QTest::newRow("removed") << "remove" << -3;
}

void TestDlgDownload::entryChangedAfterUnpacking()
{
    QFETCH(QString, change);
    QFETCH(int, result);
    const QString file = unpackFolder() + "reader.bin";
    QVERIFY(QDir().mkpath(unpackFolder()));
    QVERIFY(writeFile(file, "unpacked"));
    const FileIdentity unpacked = FileIdentity::of(file);
    QCOMPARE(unpacked.kind, FileIdentity::RegularFile);

    const QString other = tmp() + "/other.bin";
    QVERIFY(writeFile(other, "planted"));
    if (change == "rewrite") {
        QVERIFY(writeFile(file, "unpacked"));
    } else if (change == "replace") {
        QCOMPARE(::rename(QFile::encodeName(other).constData(), QFile::encodeName(file).constData()),
                 0);
    } else if (change == "link") {
        QVERIFY(QFile::remove(file));
        QVERIFY(QFile::link(other, file));
    } else if (change == "remove") {
        QVERIFY(QFile::remove(file));
    }

    UpdaterApp app;
    LogCapture log;
    DialogAnswerer answerer({true});
    QCOMPARE(app.downloadWindow->installUpdates(file, &unpacked), result);
    QCOMPARE(log.count("not installed: " + file + " - changed after it was unpacked"),
             result == 0 ? 0 : 1);
    QCOMPARE(installerCalls(m_install).size(), result == 0 ? 1 : 0);
}

// ---- the run ----

void TestDlgDownload::passInstallsFirstModuleThenTakesTheShortcut()
{
    startServer();
    const QString package = m_server->documentRoot() + kPackagePath;
    QVERIFY(QDir().mkpath(QFileInfo(package).absolutePath()));
    QVERIFY(makePackage(package, {{"reader.bin", "reader 9.2"}, {"read me.txt", "notes 9.2"}}));
    const QString size = QString::number(QFileInfo(package).size()) + "B";
    QVERIFY(m_server->addFile("packages/second.pkg", "x"));

    UpdaterApp app;
    DlgDownload *window = app.downloadWindow;
    WindowWatch watch(window);
    window->setSelectUpdates({module(kPackagePath, size), module("/packages/second.pkg", "1B", "2"),
                              module("/packages/third.pkg", "1B", "3")});
    LogCapture log;
    auto answerer = std::make_unique<DialogAnswerer>(QList<bool>{true, true});
    window->startShowDownload();
    QVERIFY(window->isVisible());
    QCOMPARE(app.skipEventLoop, false);
    QCOMPARE(window->findChild<QTextEdit *>("descriptionEdit")->toPlainText(),
             QString("Zandro Reader 9.2"));
    QTRY_COMPARE_WITH_TIMEOUT(watch.closes, 1, 30000);
    QVERIFY(!window->isVisible());

    const QString unpacked = unpackFolder();
    const QStringList installed{"1|" + unpacked + "reader.bin|reader 9.2",
                                "1|" + unpacked + "read me.txt|notes 9.2"};
    QCOMPARE(installerCalls(m_install), installed);
    QCOMPARE(answerer->texts,
             (QStringList{QString(kConfirmation) + "\n\nInstall 1 of 2: reader.bin",
                          QString(kConfirmation) + "\n\nInstall 2 of 2: read me.txt"}));
    answerer.reset();
    QCOMPARE(log.count("Begin to download:"), 1);
    QCOMPARE(log.count("excute shell:"), 2);
    QCOMPARE(log.count("excute result: 0"), 2);
    QVERIFY(log.lines().filter("excute shell:").first().contains(unpacked + "reader.bin"));
    const QList<NginxServer::Request> requests = m_server->requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests[0].requestLine, QString("GET %1 HTTP/1.1").arg(kPackagePath));
    QCOMPARE(requests[0].range, QString("bytes=0-"));
    QCOMPARE(readFile(downloadFolder() + "zandro-9.2.0.1.pkg"), readFile(package));

    // The package is still there with its announced size: no request, no window, and the whole
    // installation happens inside the call, after which the event loop is skipped.
    QFile::remove(m_install + "/calls.log");
    DialogAnswerer again({true, true});
    window->startShowDownload();
    QCOMPARE(app.skipEventLoop, true);
    QCOMPARE(watch.shows, 1);
    QCOMPARE(watch.closes, 2);
    QCOMPARE(window->findChild<QProgressBar *>("progressBar")->value(), 100);
    QCOMPARE(installerCalls(m_install), installed);
    QCOMPARE(m_server->requests().size(), 1);
}

void TestDlgDownload::announcedSize_data()
{
    QTest::addColumn<QString>("size");
    QTest::addColumn<qint64>("localSize"); // -1: no file at the local path
    QTest::addColumn<QString>("recordFrom"); // "same", "other" or "" (no record)
    QTest::addColumn<bool>("shortcut");

    QTest::newRow("bytes with B, complete") << "9B" << qint64(9) << "same" << true;
    QTest::newRow("text after the first B ignored") << "9B (9 Bytes)" << qint64(9) << "same" << true;
    QTest::newRow("no B at all") << "1234567" << qint64(1234567) << "same" << true;
    QTest::newRow("beyond 32 bits") << "5000000000B" << qint64(5000000000) << "same" << true;
    // A size that does not read as a number never counts any file as complete.
    QTest::newRow("1.5 MB reads 0, empty file downloaded again")
        << "1.5 MB" << qint64(0) << "same" << false;
    QTest::newRow("1.5 MB reads 0, other file downloaded")
        << "1.5 MB" << qint64(9) << "same" << false;
    QTest::newRow("same name and size from another address downloaded again")
        << "9B" << qint64(9) << "other" << false;
    QTest::newRow("same name and size, no record, downloaded again")
        << "9B" << qint64(9) << "" << false;
    QTest::newRow("short file downloaded again") << "9B" << qint64(8) << "same" << false;
    QTest::newRow("nothing there") << "9B" << qint64(-1) << "" << false;
}

void TestDlgDownload::announcedSize()
{
    QFETCH(QString, size);
    QFETCH(qint64, localSize);
    QFETCH(QString, recordFrom);
    QFETCH(bool, shortcut);

    startServer();
    // Not a package: whatever is taken as downloaded then fails to unpack.
    const QByteArray served("not a pkg");
    QVERIFY(m_server->addFile(QString(kPackagePath).mid(1), served));
    const QString localPath = downloadFolder() + "zandro-9.2.0.1.pkg";
    QVERIFY(QDir().mkpath(downloadFolder()));
    MODULEINFO *offered = module(kPackagePath, size);
    if (localSize >= 0) {
        QFile local(localPath);
        QVERIFY(local.open(QIODevice::WriteOnly));
        QVERIFY(local.resize(localSize)); // sparse: a 5 GB file costs nothing
    }
    if (!recordFrom.isEmpty()) {
        const QString from = recordFrom == "same" ? offered->url : offered->url + "?other";
        // The address, the size and the catalogue's digest (none here), one per line.
        QVERIFY(writeFile(localPath + ".record",
                          from.toUtf8() + "\n" + QByteArray::number(localSize) + "\n\n"));
    }

    UpdaterApp app;
    DlgDownload *window = app.downloadWindow;
    WindowWatch watch(window);
    window->setSelectUpdates({offered});
    LogCapture log;
    DialogAnswerer answerer;
    window->startShowDownload();
    QCOMPARE(app.skipEventLoop, shortcut);
    if (shortcut) {
        QCOMPARE(watch.shows, 0);
        QCOMPARE(watch.closes, 1);
        QCOMPARE(window->findChild<QProgressBar *>("progressBar")->value(), 100);
    } else {
        QVERIFY(window->isVisible());
        // After a real download an unpack failure still closes the window, ending the pass.
        QTRY_COMPARE_WITH_TIMEOUT(watch.closes, 1, 20000);
        QVERIFY(!window->isVisible());
    }
    // A package that does not unpack is deleted with its record, so the next pass fetches it
    // again instead of failing the same way forever.
    QVERIFY(!QFile::exists(localPath));
    QVERIFY(!QFile::exists(localPath + ".record"));
    QCOMPARE(log.count("Uncompress Failed"), 1);
    QCOMPARE(log.count("update failed: cannot unpack"), 1);
    QVERIFY(app.failed);
    QCOMPARE(answerer.texts, QStringList{});
    QCOMPARE(m_server->requests().size(), shortcut ? 0 : 1);
    if (!shortcut)
        QCOMPARE(m_server->requests().first().range, QString("bytes=0-"));
}

void TestDlgDownload::downloadTargetLink_data()
{
    QTest::addColumn<bool>("targetExists");
    QTest::newRow("link to a file of the announced size") << true;
    QTest::newRow("dangling link") << false;
}

void TestDlgDownload::downloadTargetLink()
{
    QFETCH(bool, targetExists);

    startServer();
    const QByteArray served("not a pkg");
    QVERIFY(m_server->addFile(QString(kPackagePath).mid(1), served));
    const QString outside = tmp() + "/elsewhere.bin";
    const QByteArray precious(served.size(), 'p');
    if (targetExists)
        QVERIFY(writeFile(outside, precious));
    QVERIFY(QDir().mkpath(downloadFolder()));
    const QString localPath = downloadFolder() + "zandro-9.2.0.1.pkg";
    QVERIFY(QFile::link(outside, localPath));

    UpdaterApp app;
    DlgDownload *window = app.downloadWindow;
    WindowWatch watch(window);
    window->setSelectUpdates({module(kPackagePath, QString::number(served.size()) + "B")});
    DialogAnswerer answerer;
    window->startShowDownload();
    QCOMPARE(app.skipEventLoop, false);
    QTRY_COMPARE_WITH_TIMEOUT(watch.closes, 1, 20000);

    QCOMPARE(m_server->requests().size(), 1);
    // The link was removed as a link; the download that replaced it failed to unpack and was
    // deleted in turn.
    QVERIFY(!QFileInfo(localPath).isSymLink());
    QVERIFY(!QFileInfo::exists(localPath));
    QCOMPARE(QFileInfo::exists(outside), targetExists);
    if (targetExists)
        QCOMPARE(readFile(outside), precious);
}

void TestDlgDownload::packageNameRefused_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("ends in a slash") << "/packages/";
    QTest::newRow("the unpack folder's name") << "/packages/uncompress";
    QTest::newRow("the catalogue reply's name") << "/packages/update_tmpfile.xml";
    QTest::newRow("the lock's name") << "/packages/updater.lock";
    QTest::newRow("a record's name") << "/packages/a.pkg.record";
    QTest::newRow("dot dot") << "/packages/..";
}

void TestDlgDownload::packageNameRefused()
{
    QFETCH(QString, path);
    startServer();
    QVERIFY(QDir().mkpath(unpackFolder()));
    QVERIFY(writeFile(downloadFolder() + "update_tmpfile.xml", "reply"));
    UpdaterApp app;
    DlgDownload *window = app.downloadWindow;
    WindowWatch watch(window);
    window->setSelectUpdates({module(path, "9B")});
    LogCapture log;
    window->startShowDownload();
    // A name that would stand on one of the working folder's own files fails the pass at once.
    QCOMPARE(app.skipEventLoop, true);
    QVERIFY(app.failed);
    QVERIFY(!window->isVisible());
    QCOMPARE(log.count("update failed: download: the package address names no file"), 1);
    QTest::qWait(100);
    QCOMPARE(m_server->requests().size(), 0);
    QVERIFY(QFileInfo(unpackFolder()).isDir());
    QCOMPARE(readFile(downloadFolder() + "update_tmpfile.xml"), QByteArray("reply"));
}

void TestDlgDownload::sharedFolderRefused_data()
{
    QTest::addColumn<Folder>("folder");
    QTest::newRow("link to another folder") << Folder::Link;
    QTest::newRow("a file in the way") << Folder::RegularFile;
    QTest::newRow("folder of another user") << Folder::OtherOwner;
}

void TestDlgDownload::sharedFolderRefused()
{
    QFETCH(Folder, folder);

    const QString path = tmp() + "/ZandroQuillet";
    const QString planted = tmp() + "/planted";
    QVERIFY(QDir().mkpath(planted));
    switch (folder) {
    case Folder::Link:
        QVERIFY(QFile::link(planted, path));
        break;
    case Folder::RegularFile:
        QVERIFY(writeFile(path, "x"));
        break;
    case Folder::OtherOwner:
        if (::geteuid() != 0)
            QSKIP("giving a folder to another user needs root");
        QVERIFY(QDir().mkpath(path));
        QCOMPARE(::chown(QFile::encodeName(path).constData(), 65534, 65534), 0);
        break;
    }

    // Whoever made the shared folder first cannot lock this user out: the per-user folder
    // is used instead, and nothing lands in the planted one.
    const QString fallback = qEnvironmentVariable("XDG_CACHE_HOME") + "/zandro-updater/";
    QDir(fallback).removeRecursively();
    startServer();
    QVERIFY(m_server->addFile(QString(kPackagePath).mid(1), "not a pkg"));
    UpdaterApp app;
    DlgDownload *window = app.downloadWindow;
    WindowWatch watch(window);
    window->setSelectUpdates({module(kPackagePath, "9B")});
    LogCapture log;
    window->startShowDownload();
    QCOMPARE(app.skipEventLoop, false);
    QVERIFY(log.count("working folder refused: " + path) >= 1);
    QTRY_COMPARE_WITH_TIMEOUT(watch.closes, 1, 20000);
    QCOMPARE(m_server->requests().size(), 1);
    QCOMPARE(log.count("update failed: cannot unpack " + fallback + "zandro-9.2.0.1.pkg"), 1);
    QCOMPARE(QDir(planted).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{});
    if (folder == Folder::OtherOwner)
        QCOMPARE(QDir(path).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{});
}

void TestDlgDownload::confirmationsAndSummary_data()
{
    QTest::addColumn<QList<bool>>("answers"); // one per entry, then the closing message
    QTest::addColumn<QByteArray>("failOn");   // the installer fails for this entry
    QTest::addColumn<bool>("failed");
    QTest::addColumn<QString>("closing");
    QTest::newRow("all installed") << QList<bool>{true, true, true, true} << QByteArray() << false
                                   << "The update of Zandro Reader 9.2.0.1 is complete. Installed: "
                                      "a.txt, b.txt, c.txt.";
    QTest::newRow("one declined") << QList<bool>{true, false, true, true} << QByteArray() << false
                                  << "The update of Zandro Reader 9.2.0.1 is not complete. "
                                     "Installed: a.txt, c.txt. Declined: b.txt.";
    QTest::newRow("one declined, one failing")
        << QList<bool>{false, true, true, true} << QByteArray("c.txt") << true
        << "The installation of Zandro Reader 9.2.0.1 failed for: c.txt (installer exit code 3). "
           "Installed: b.txt. Declined: a.txt.";
}

void TestDlgDownload::confirmationsAndSummary()
{
    QFETCH(QList<bool>, answers);
    QFETCH(QByteArray, failOn);
    QFETCH(bool, failed);
    QFETCH(QString, closing);

    QVERIFY(QDir().mkpath(downloadFolder()));
    const QString package = downloadFolder() + "three.pkg";
    QVERIFY(makePackage(package, {{"a.txt", "a"}, {"b.txt", "b"}, {"c.txt", "c"}}));
    if (!failOn.isEmpty())
        QVERIFY(writeProgram(m_install + "/installUpdate",
                             "#!/bin/sh\ncase \"$1\" in *" + failOn + ") exit 3;; esac\nexit 0\n"));

    startServer();
    UpdaterApp app;
    app.commandLine->parserParam(R"(type:"Update List",updater:"Manual")");
    DlgDownload *window = app.downloadWindow;
    window->setSelectUpdates({module(kPackagePath, "9B")});
    LogCapture log;
    DialogAnswerer answerer(answers);
    window->oneDownloadFinish(package);

    // Each confirmation names its file and its place; one closing message follows.
    QCOMPARE(answerer.texts.size(), 4);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(answerer.texts.at(i), QString(kConfirmation) +
                                           QString("\n\nInstall %1 of 3: %2.txt").arg(i + 1).arg(QChar('a' + i)));
    QCOMPARE(answerer.texts.at(3), closing);
    QCOMPARE(answerer.hadCancel.at(3), false);
    QCOMPARE(app.failed, failed);
    QCOMPARE(log.count("update failed:"), failed ? 1 : 0);
    QCOMPARE(log.count("update finished:"), failed ? 0 : 1);
}

void TestDlgDownload::finishStops_data()
{
    QTest::addColumn<FinishCase>("finish");
    QTest::addColumn<QString>("logLine");
    QTest::newRow("no file") << FinishCase::EmptyPath << QString();
    QTest::newRow("a file where the unpack folder goes")
        << FinishCase::UnpackFolderBlocked << "can not make path for uncompress the updater:";
    QTest::newRow("damaged package") << FinishCase::DamagedPackage << "Uncompress Failed";
}

void TestDlgDownload::finishStops()
{
    QFETCH(FinishCase, finish);
    QFETCH(QString, logLine);

    QVERIFY(QDir().mkpath(downloadFolder()));
    QString package = downloadFolder() + "zandro.pkg";
    QVERIFY(makePackage(package, {{"reader.bin", "reader 9.2"}}));
    const QString outside = tmp() + "/elsewhere";
    QVERIFY(QDir().mkpath(outside));
    QVERIFY(writeFile(outside + "/keep.txt", "precious"));
    switch (finish) {
    case FinishCase::EmptyPath:
        package.clear();
        break;
    case FinishCase::UnpackFolderBlocked:
        QVERIFY(writeFile(QDir::cleanPath(unpackFolder()), "in the way"));
        break;
    case FinishCase::DamagedPackage: {
        QByteArray bytes = readFile(package);
        bytes[bytes.size() - 3] = char(bytes[bytes.size() - 3] ^ 0x55);
        QVERIFY(writeFile(package, bytes));
        break;
    }
    }

    UpdaterApp app;
    DlgDownload *window = app.downloadWindow;
    WindowWatch watch(window);
    LogCapture log;
    DialogAnswerer answerer({true});
    window->oneDownloadFinish(package);
    QCOMPARE(watch.closes, 1);
    QVERIFY(!window->isVisible());
    if (!logLine.isEmpty())
        QCOMPARE(log.count(logLine), 1);
    QCOMPARE(log.count("excute shell:"), 0);
    QCOMPARE(answerer.texts, QStringList{});
    QCOMPARE(installerCalls(m_install), QStringList{});
    // Nothing is ever deleted or unpacked through a planted link.
    QCOMPARE(QDir(outside).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList{"keep.txt"});
    QCOMPARE(readFile(outside + "/keep.txt"), QByteArray("precious"));
}

void TestDlgDownload::setupEntriesThatAreNoFiles_data()
{
    QTest::addColumn<QByteArray>("setup");
    QTest::addColumn<QString>("failure"); // empty: the pass completes
    QTest::addColumn<QStringList>("asked"); // the files the confirmations name
    QTest::newRow("an element that is no file is passed over")
        << QByteArray("<s><folder name=\"a.txt\"/><file name=\"a.txt\"/></s>") << QString()
        << QStringList{"a.txt"};
    QTest::newRow("an empty name")
        << QByteArray("<s><file name=\"\"/><file name=\"a.txt\"/></s>")
        << "lists \"\", which is not a file it holds" << QStringList{};
    QTest::newRow("no name at all") << QByteArray("<s><file/></s>")
                                    << "lists \"\", which is not a file it holds" << QStringList{};
    QTest::newRow("the unpack folder itself")
        << QByteArray("<s><file name=\"a.txt\"/><file name=\"./\"/></s>")
        << "lists \"./\", which is not a file it holds" << QStringList{};
    QTest::newRow("a file the package does not hold")
        << QByteArray("<s><file name=\"a.txt\"/><file name=\"gone.txt\"/></s>")
        << "lists \"gone.txt\", which is not a file it holds" << QStringList{};
    QTest::newRow("nothing but other elements")
        << QByteArray("<s><folder name=\"a.txt\"/></s>") << "lists no files to install"
        << QStringList{};
}

void TestDlgDownload::setupEntriesThatAreNoFiles()
{
    QFETCH(QByteArray, setup);
    QFETCH(QString, failure);
    QFETCH(QStringList, asked);

    QVERIFY(QDir().mkpath(downloadFolder()));
    const QString package = downloadFolder() + "entries.pkg";
    QVERIFY(makePackage(package, {{"Setup.xml", setup}, {"a.txt", "a"}}));
    startServer();
    UpdaterApp app;
    DlgDownload *window = app.downloadWindow;
    window->setSelectUpdates({module(kPackagePath, "9B")});
    LogCapture log;
    DialogAnswerer answerer({true, true});
    window->oneDownloadFinish(package);

    QStringList named;
    for (const QString &text : qAsConst(answerer.texts)) {
        if (text.startsWith(kConfirmation))
            named << text.section(": ", -1);
    }
    QCOMPARE(named, asked);
    QCOMPARE(installerCalls(m_install).size(), asked.size());
    QCOMPARE(app.failed, !failure.isEmpty());
    if (!failure.isEmpty()) {
        QCOMPARE(log.count("update failed: package " + package + " " + failure), 1);
        QVERIFY(!QFileInfo::exists(package));
    }
    // What was unpacked does not outlive the pass.
    QVERIFY(!QFileInfo::exists(unpackFolder()));
}

void TestDlgDownload::workFolderIsKeptForThePass()
{
    UpdaterApp app;
    QString problem;
    const QString folder = app.passWorkFolder(&problem);
    QCOMPARE(folder, downloadFolder());
    // A later change of the temporary path does not move the pass elsewhere.
    qputenv("TMPDIR", QFile::encodeName(TestEnv::root()));
    QCOMPARE(app.passWorkFolder(&problem), folder);
    qputenv("TMPDIR", QFile::encodeName(tmp()));
    // Its lock lives in it: once it is swapped for another, the pass has nothing to go on with.
    QVERIFY(QFile::rename(QDir::cleanPath(folder), tmp() + "/away"));
    QVERIFY(QDir().mkpath(folder));
    QCOMPARE(app.passWorkFolder(&problem), QString());
    QCOMPARE(problem, QDir::cleanPath(folder) + ": was removed or replaced during the pass");
}

ZANDRO_TEST_MAIN(TestDlgDownload)
#include "tst_dlgdownload.moc"
