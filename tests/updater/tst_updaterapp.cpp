#include <QtTest>

#include <QProcess>
#include <QSettings>
#include <QTcpServer>

#include "testenv.h"
#include "updaterapp.h"
#include "updatelistener.h"

namespace {
// Sets or removes the reader's parameter string in the isolated settings store.
void storeParam(const QVariant &value)
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Zandro Software",
                       "Zandro Reader");
    if (value.isValid())
        settings.setValue("Quillet_UpdateParam", value);
    else
        settings.remove("Quillet_UpdateParam");
    settings.sync();
}
} // namespace

class TestUpdaterApp : public QObject
{
    Q_OBJECT
private slots:
    void passesWithoutWindowEnd_data();
    void passesWithoutWindowEnd();
    void binaryEndsAtOnce_data();
    void binaryEndsAtOnce();
    void binaryAnswersHelpAndVersion_data();
    void binaryAnswersHelpAndVersion();
};

void TestUpdaterApp::passesWithoutWindowEnd_data()
{
    QTest::addColumn<QVariant>("param");
    QTest::addColumn<bool>("listening");

    QTest::newRow("no parameter string") << QVariant() << false;
    QTest::newRow("empty parameter string") << QVariant(QString("")) << false;
    QTest::newRow("type in the wrong case") << QVariant(QString(R"(type:"update list")")) << true;
    QTest::newRow("no type") << QVariant(QString(R"(updater:"Manual")")) << true;
    QTest::newRow("blank before type")
        << QVariant(QString(R"(updater:"Manual", type:"Update List")")) << true;
}

void TestUpdaterApp::passesWithoutWindowEnd()
{
    QFETCH(QVariant, param);
    QFETCH(bool, listening);
    storeParam(param);

    LogCapture log;
    UpdaterApp app(nullptr);
    app.runUpdate();
    QVERIFY(app.skipEventLoop);
    QCOMPARE(app.listener->tcpServer->isListening(), listening);
    QCOMPARE(log.count("Updater Param: "), param.isValid() ? 1 : 0);
}

void TestUpdaterApp::binaryEndsAtOnce_data()
{
    QTest::addColumn<QVariant>("param");
    QTest::newRow("no parameter string") << QVariant();
    QTest::newRow("empty parameter string") << QVariant(QString(""));
    QTest::newRow("type in the wrong case") << QVariant(QString(R"(type:"update list")"));
    QTest::newRow("no type") << QVariant(QString(R"(updater:"Manual",product:"Zandro Reader")"));
}

void TestUpdaterApp::binaryEndsAtOnce()
{
    QFETCH(QVariant, param);
    storeParam(param);

    QProcess process;
    process.setProgram(QStringLiteral(UPDATER_BINARY));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env); // carries the isolated TMPDIR and XDG_CONFIG_HOME
    process.start();
    QVERIFY(process.waitForStarted());
    QVERIFY2(process.waitForFinished(30000), "the updater kept running with nothing to show");
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    const QString log = QString::fromUtf8(process.readAllStandardError());
    QCOMPARE(log.contains("Updater Param: "), param.isValid());
    if (param.isValid())
        QVERIFY2(log.contains("updater/src/updaterapp.cpp"), qPrintable(log));
}

void TestUpdaterApp::binaryAnswersHelpAndVersion_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("output"); // pattern of standard output; empty: a pass runs
    QTest::newRow("--version") << QStringList{"--version"} << "^zandro-updater \\d+\\.\\d+\n$";
    QTest::newRow("--help") << QStringList{"--help"}
                            << "^Usage: zandro-updater .*reader starts it.*settings store";
    QTest::newRow("after other arguments") << QStringList{"-x", "--version"}
                                           << "^zandro-updater ";
    QTest::newRow("any other argument is ignored") << QStringList{"--bogus"} << "";
}

void TestUpdaterApp::binaryAnswersHelpAndVersion()
{
    QFETCH(QStringList, args);
    QFETCH(QString, output);
    // A parameter string without a type: a pass that starts logs it and ends at once.
    storeParam(QVariant(QString(R"(updater:"Manual")")));

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(UPDATER_BINARY), args);
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    const QString out = QString::fromUtf8(process.readAllStandardOutput());
    const QString log = QString::fromUtf8(process.readAllStandardError());
    QCOMPARE(log.contains("Updater Param: "), output.isEmpty());
    if (!output.isEmpty())
        QVERIFY2(QRegularExpression(output, QRegularExpression::DotMatchesEverythingOption)
                     .match(out)
                     .hasMatch(),
                 qPrintable(out));
}

ZANDRO_TEST_MAIN(TestUpdaterApp)
#include "tst_updaterapp.moc"
