#include <QtTest>

#include <QFontDatabase>

#include "startupfont.h"
#include "testenv.h"

class TestStartupFont : public QObject
{
    Q_OBJECT
private slots:
    void family_data();
    void family();
    void fontWithoutMarkerIsFixedPitch();
    void issueFileIsCutAtZeroByte();
    void missingIssueFileGivesEmptyText();
};

void TestStartupFont::family_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("family");

    QTest::newRow("ubuntu") << "Ubuntu 22.04.3 LTS \\n \\l" << "Ubuntu";
    QTest::newRow("lower-case ubuntu") << "ubuntu 22.04" << "Ubuntu";
    QTest::newRow("suse") << "Welcome to openSUSE Leap 15.5" << "Cantarell";
    QTest::newRow("red hat") << "Red Hat Enterprise Linux release 9" << "Sans";
    QTest::newRow("RED HAT upper case") << "RED HAT" << "Sans";
    QTest::newRow("kernel alone") << "Kernel \\r on an \\m" << "Cantarell";
    QTest::newRow("ubuntu beats suse") << "SUSE and Ubuntu" << "Ubuntu";
    QTest::newRow("suse beats red hat") << "Red Hat then SuSE" << "Cantarell";
    QTest::newRow("red hat beats kernel") << "Kernel for Red Hat" << "Sans";
    QTest::newRow("debian") << "Debian GNU/Linux 12 \\n \\l" << QString();
    QTest::newRow("empty") << "" << QString();
}

void TestStartupFont::family()
{
    QFETCH(QString, text);
    QFETCH(QString, family);
    QCOMPARE(fontFamilyForIssue(text), family);
    const QFont font = startupFontForIssue(text);
    QCOMPARE(font.pixelSize(), 12);
    if (!family.isNull())
        QCOMPARE(font.family(), family);
}

void TestStartupFont::fontWithoutMarkerIsFixedPitch()
{
    QFont expected = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    expected.setPixelSize(12);
    QCOMPARE(startupFontForIssue(QString()), expected);
}

void TestStartupFont::issueFileIsCutAtZeroByte()
{
    QTemporaryDir dir;
    QFile file(dir.filePath("issue"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("Debian \xc3\xa9\0Ubuntu", 15));
    file.close();
    QCOMPARE(readIssueText(file.fileName()), QString::fromUtf8("Debian \xc3\xa9"));
    QCOMPARE(fontFamilyForIssue(readIssueText(file.fileName())), QString());
}

void TestStartupFont::missingIssueFileGivesEmptyText()
{
    QTemporaryDir dir;
    QVERIFY(readIssueText(dir.filePath("absent")).isEmpty());
}

ZANDRO_TEST_MAIN(TestStartupFont)
#include "tst_startupfont.moc"
