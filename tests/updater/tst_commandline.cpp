#include <QtTest>

#include "commandline.h"
#include "testenv.h"

typedef QList<QPair<QString, QString>> Entries;
Q_DECLARE_METATYPE(Entries)

class TestCommandLine : public QObject
{
    Q_OBJECT
private slots:
    void parse_data();
    void parse();
    void readerPathIsAlwaysEmpty();
};

void TestCommandLine::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("result");
    // Keys probed after parsing, with the value each must read (a null string when absent).
    QTest::addColumn<Entries>("expected");

    QTest::newRow("two items") << R"(type:"Update List",updater:"Manual")" << true
                               << Entries{{"type", "Update List"}, {"updater", "Manual"}};
    QTest::newRow("blank after comma joins the next key")
        << R"(type:"Update List", updater:"Manual")" << true
        << Entries{{"type", "Update List"}, {"updater", QString()}, {" updater", "Manual"}};
    QTest::newRow("first occurrence of a key wins")
        << R"(type:"A",type:"B")" << true << Entries{{"type", "A"}};
    QTest::newRow("comma inside quotes splits the value")
        << R"(product:"Zandro, Reader",version:"1.2.3.4")" << true
        << Entries{{"product", "Zandro"}, {" Reader\"", ""}, {"version", "1.2.3.4"}};
    QTest::newRow("remainder with a colon keys up to it")
        << R"(a:"x,y:z",b:"1")" << true << Entries{{"a", "x"}, {"y", ""}, {"b", "1"}};
    QTest::newRow("colon inside the value is kept")
        << R"(url:"http://example.org:80/a")" << true
        << Entries{{"url", "http://example.org:80/a"}};
    QTest::newRow("text after the second quote is ignored")
        << R"(type:"Update List"tail)" << true << Entries{{"type", "Update List"}};
    QTest::newRow("only one quote takes the rest")
        << R"(type:"Update List)" << true << Entries{{"type", "Update List"}};
    QTest::newRow("empty item between commas is ignored")
        << R"(type:"T",,updater:"Manual")" << true
        << Entries{{"type", "T"}, {"", QString()}, {"updater", "Manual"}};
    QTest::newRow("item without a colon is its own key")
        << R"("quoted")" << true << Entries{{"\"quoted\"", "quoted"}};
    QTest::newRow("item without a quote is ignored")
        << R"(type,type:"Update List")" << true << Entries{{"type", "Update List"}};
    QTest::newRow("only unquoted items leave the table empty")
        << R"(type,updater)" << false << Entries{{"type", QString()}};
    QTest::newRow("keys are case-sensitive")
        << R"(Type:"Update List")" << true << Entries{{"type", QString()}, {"Type", "Update List"}};
    QTest::newRow("empty string") << QString("") << false << Entries{{"type", QString()}};
    QTest::newRow("null string") << QString() << false << Entries{{"type", QString()}};
}

void TestCommandLine::parse()
{
    QFETCH(QString, text);
    QFETCH(bool, result);
    QFETCH(Entries, expected);

    CSetup_CommandLine table;
    QCOMPARE(table.parserParam(text), result);
    for (const auto &entry : expected) {
        const QString value = table.getValue(entry.first);
        QVERIFY2(value == entry.second, qPrintable(entry.first + " -> " + value));
        QCOMPARE(value.isNull(), entry.second.isNull());
    }
}

void TestCommandLine::readerPathIsAlwaysEmpty()
{
    CSetup_CommandLine table;
    table.parserParam(R"(type:"Update List",path:"/opt/zandro")");
    QVERIFY(table.getReaderPathFromcmd().isEmpty());
}

ZANDRO_TEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
