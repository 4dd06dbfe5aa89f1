// Input from the network must never crash the reader: every truncation of a document, and
// documents with bytes flipped, inserted or deleted at random, parse to something or nothing.
#include "xml_test_util.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using xmltest::Fixture;

// Walks the whole tree so that every stored string is read (the sanitizers check each access).
size_t Touch(const CXML_Element *e)
{
    size_t n = size_t(e->GetTagName(true).GetLength());
    for (int i = 0; i < e->m_AttrMap.GetSize(); ++i) {
        CKT_ByteString prefix, name;
        CKT_WideString value;
        e->GetAttrByIndex(i, prefix, name, value);
        n += size_t(prefix.GetLength() + name.GetLength() + value.GetLength());
    }
    for (int i = 0; i < e->CountChildren(); ++i) {
        if (const CXML_Element *child = e->GetElement(i))
            n += Touch(child);
        else
            n += size_t(e->GetContent(i).GetLength());
    }
    return n;
}

TEST(XmlRobustness, EveryTruncationParses)
{
    const std::string doc = Fixture("feed-namespaces.xml");
    ASSERT_FALSE(doc.empty());
    for (size_t len = 0; len <= doc.size(); ++len) {
        long long parsed = -1;
        auto root = xmltest::ParseText(doc.substr(0, len), 0, &parsed);
        if (root)
            Touch(root.get());
        ASSERT_GE(parsed, 0);
        ASSERT_LE(parsed, (long long)len);
    }
}

TEST(XmlRobustness, MutatedDocumentsParse)
{
    const char *const names[] = {"catalogue.xml", "mixed-content.xml", "app-config.xml"};
    const char hostile[] = "<>&;'\"/!?-[]#x:= \xC3\xF0\xFF\x80";
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    for (const char *name : names) {
        SCOPED_TRACE(name);
        const std::string original = Fixture(name);
        ASSERT_FALSE(original.empty());
        for (int round = 0; round < 400; ++round) {
            std::string doc = original;
            const int edits = 1 + int(next() % 8);
            for (int e = 0; e < edits && !doc.empty(); ++e) {
                const size_t at = next() % doc.size();
                switch (next() % 3) {
                case 0:
                    doc[at] = hostile[next() % (sizeof hostile - 1)];
                    break;
                case 1:
                    doc.insert(at, 1, hostile[next() % (sizeof hostile - 1)]);
                    break;
                default:
                    doc.erase(at, 1 + next() % 16);
                    break;
                }
            }
            auto root = xmltest::ParseText(doc);
            if (root)
                Touch(root.get());
            if (round % 40 == 0) {
                // Now and then through the file reader too.
                xmltest::TempFile file(doc);
                auto fromFile = xmltest::ParseFile(file.Path());
                EXPECT_EQ(xmltest::Dump(root.get()), xmltest::Dump(fromFile.get()));
            }
        }
    }
}

TEST(XmlRobustness, HugeReferencesAndNamesStayBounded)
{
    struct Row
    {
        const char *name;
        std::string doc;
    } rows[] = {
        {"endless decimal reference", "<r a=\"&#" + std::string(100000, '9') + ";\"/>"},
        {"endless hexadecimal reference", "<r>&#x" + std::string(100000, 'f') + ";</r>"},
        {"endless entity name", "<r>&" + std::string(100000, 'a') + ";</r>"},
        {"endless name", "<" + std::string(300000, 'n') + "/>"},
        {"endless attribute list", "<r" + std::string(0, ' ') +
                                       [] {
                                           std::string attrs;
                                           for (int i = 0; i < 20000; ++i)
                                               attrs += " a" + std::to_string(i) + "='v'";
                                           return attrs;
                                       }() +
                                       "/>"},
        {"repeated attribute", "<r" +
                                   [] {
                                       std::string attrs;
                                       for (int i = 0; i < 20000; ++i)
                                           attrs += " a='" + std::to_string(i) + "'";
                                       return attrs;
                                   }() +
                                   "/>"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        auto root = xmltest::ParseText(row.doc);
        ASSERT_TRUE(root);
        Touch(root.get());
    }
    auto repeated = xmltest::ParseText(rows[5].doc);
    ASSERT_EQ(1, repeated->m_AttrMap.GetSize());
    EXPECT_TRUE(CKT_WideStringC(repeated->m_AttrMap.GetAt(0).m_Value) == CKT_WideStringC(L"19999"));
    auto many = xmltest::ParseText(rows[4].doc);
    EXPECT_EQ(20000, many->m_AttrMap.GetSize());
}

// Empty attribute names (":" splits into an empty prefix and an empty local name) must be
// compared like any other name, including before any name bytes have been stored at all.
TEST(XmlRobustness, EmptyAttributeNamesMatchEachOther)
{
    struct Row
    {
        const char *doc;
        int attributes;
        const wchar_t *firstValue;
    } rows[] = {
        {"<a :=\"1\" :=\"2\"/>", 1, L"2"},
        {"<a :=\"1\" :=\"2\" :=\"3\"/>", 1, L"3"},
        {"<a x:=\"1\" x:=\"2\"/>", 1, L"2"},
        {"<a :=\"1\" b=\"2\" :=\"3\"/>", 2, L"3"},
        {"<a :b=\"1\" :b=\"2\"/>", 1, L"2"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.doc);
        auto root = xmltest::ParseText(row.doc);
        ASSERT_TRUE(root);
        ASSERT_EQ(row.attributes, root->m_AttrMap.GetSize());
        EXPECT_TRUE(CKT_WideStringC(root->m_AttrMap.GetAt(0).m_Value) ==
                    CKT_WideStringC(row.firstValue));
        Touch(root.get());
    }
}

} // namespace
