#include <QtTest>

#include "ckt_urlencode.h"
#include "testenv.h"

class TestCKT_URLEncode : public QObject
{
    Q_OBJECT
private slots:
    void encode_data();
    void encode();
    void unsafeRangeEdges_data();
    void unsafeRangeEdges();
};

void TestCKT_URLEncode::encode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("encoded");

    QTest::newRow("group name") << "Update List"
                                << "Update%20List";
    QTest::newRow("digits and ASCII letters pass") << "azAZ09"
                                                   << "azAZ09";
    QTest::newRow("unreserved marks are encoded too") << "-._~"
                                                      << "%2d%2e%5f%7e";
    QTest::newRow("hex digits are lower case") << "/?:[{"
                                               << "%2f%3f%3a%5b%7b";
    QTest::newRow("percent sign") << "100%"
                                  << "100%25";
    QTest::newRow("control characters") << QString("\t\n") << "%09%0a";
    QTest::newRow("NUL unit") << QString(QChar(0)) << "%00";
    QTest::newRow("DEL") << QString(QChar(0x7f)) << "%7f";
    QTest::newRow("Latin-1 from its byte") << QString::fromUtf8("caf\u00e9") << "caf%e9";
    QTest::newRow("last Latin-1 character") << QString(QChar(0xff)) << "%ff";
    QTest::newRow("above U+00FF becomes %00") << QString::fromUtf8("\u20ac\u0100") << "%00%00";
    // Each half of a surrogate pair is a unit above U+00FF.
    QTest::newRow("surrogate pair") << QString::fromUtf8("\U0001F600") << "%00%00";
    QTest::newRow("empty") << ""
                           << "";
}

void TestCKT_URLEncode::encode()
{
    QFETCH(QString, text);
    QFETCH(QString, encoded);
    QCOMPARE(CKT_URLEncode::URLEncode(text), encoded);
}

void TestCKT_URLEncode::unsafeRangeEdges_data()
{
    QTest::addColumn<int>("unit");
    QTest::addColumn<bool>("unsafe");

    // Both sides of every range boundary.
    const struct
    {
        int unit;
        bool unsafe;
    } rows[] = {{0, true},   {47, true},  {48, false}, {57, false},   {58, true},  {64, true},
                {65, false}, {90, false}, {91, true},  {96, true},    {97, false}, {122, false},
                {123, true}, {255, true}, {256, true}, {0x4e2d, true}};
    for (const auto &row : rows)
        QTest::newRow(qPrintable(QString::number(row.unit))) << row.unit << row.unsafe;
}

void TestCKT_URLEncode::unsafeRangeEdges()
{
    QFETCH(int, unit);
    QFETCH(bool, unsafe);
    const QChar character(static_cast<ushort>(unit));
    QCOMPARE(CKT_URLEncode::IsUnsafe(character), unsafe);
    QCOMPARE(CKT_URLEncode::URLEncode(QString(character)) != QString(character), unsafe);
}

ZANDRO_TEST_MAIN(TestCKT_URLEncode)
#include "tst_ckt_urlencode.moc"
