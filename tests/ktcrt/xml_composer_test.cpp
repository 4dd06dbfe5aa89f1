// XML writer: the exact bytes written for a tree, and trees surviving parse, write and parse.
#include "xml_test_util.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using xmltest::Dump;
using xmltest::ElementPtr;
using xmltest::ParseText;
using xmltest::TempFile;

std::string Written(const CXML_Element *e)
{
    CKT_ByteString out = e->OutputStream();
    return std::string(out.GetCStr(), size_t(out.GetLength()));
}

TEST(XmlComposer, WritesTheseBytes)
{
    struct Row
    {
        const char *name;
        std::function<ElementPtr()> build;
        const char *text;
    } rows[] = {
        {"empty element", [] { return ElementPtr(new CXML_Element("r")); }, "<r/>\r\n"},
        {"prefixed element and attributes in order",
         [] {
             ElementPtr e(new CXML_Element("p:r"));
             e->SetAttrValue("b", CKT_WideStringC(L"2"));
             e->SetAttrValue("x:a", CKT_WideStringC(L"1"));
             return e;
         },
         "<p:r b=\"2\" x:a=\"1\"/>\r\n"},
        {"attribute escapes: only quote, less-than and ampersand",
         [] {
             ElementPtr e(new CXML_Element("r"));
             e->SetAttrValue("a", CKT_WideStringC(L"\"<&>'\t\x00e9"));
             return e;
         },
         "<r a=\"&quot;&lt;&amp;>'\t\xC3\xA9\"/>\r\n"},
        {"content escapes and spaces at the ends",
         [] {
             ElementPtr e(new CXML_Element("r"));
             e->AddChildContent(CKT_WideStringC(L" a b\"&'<>\x01\x1f\x20ac "));
             return e;
         },
         "<r>&#x20;a b&quot;&amp;&apos;&lt;&gt;&#x01;&#x1F;\xE2\x82\xAC&#x20;</r>\r\n"},
        {"single space",
         [] {
             ElementPtr e(new CXML_Element("r"));
             e->AddChildContent(CKT_WideStringC(L" "));
             return e;
         },
         "<r>&#x20;</r>\r\n"},
        {"CDATA content written raw",
         [] {
             ElementPtr e(new CXML_Element("r"));
             e->AddChildContent(CKT_WideStringC(L"a<b&\x263A"), true);
             return e;
         },
         "<r><![CDATA[a<b&\xE2\x98\xBA]]></r>\r\n"},
        // "]]>" would end the section early: it is split between two sections, as the
        // writers of other tools do.
        {"CDATA holding the end marker",
         [] {
             ElementPtr e(new CXML_Element("r"));
             e->AddChildContent(CKT_WideStringC(L"a]]>b"), true);
             return e;
         },
         "<r><![CDATA[a]]]]><![CDATA[>b]]></r>\r\n"},
        {"CDATA with the end marker at both ends, twice in a row and nearly",
         [] {
             ElementPtr e(new CXML_Element("r"));
             e->AddChildContent(CKT_WideStringC(L"]]>]]]>x]]"), true);
             return e;
         },
         "<r><![CDATA[]]]]><![CDATA[>]]]]]><![CDATA[>x]]]]></r>\r\n"},
        {"children in order, end tags with the prefix",
         [] {
             ElementPtr e(new CXML_Element("n", "r"));
             e->AddChildElement(new CXML_Element("a"));
             e->AddChildContent(CKT_WideStringC(L"t"));
             CXML_Element *b = new CXML_Element("m:b");
             b->AddChildElement(new CXML_Element("c"));
             e->AddChildElement(b);
             return e;
         },
         "<n:r><a/>\r\nt<m:b><c/>\r\n</m:b>\r\n</n:r>\r\n"},
        {"characters of every UTF-8 length; negative values are skipped",
         [] {
             ElementPtr e(new CXML_Element("r"));
             const wchar_t text[] = {0x7F, 0x80, 0x800, 0x10000, 0x200000, 0x4000000, -5, 0};
             e->SetAttrValue("a", CKT_WideStringC(text));
             return e;
         },
         "<r a=\"\x7F\xC2\x80\xE0\xA0\x80\xF0\x90\x80\x80\xF8\x88\x80\x80\x80"
         "\xFC\x84\x80\x80\x80\x80\"/>\r\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ElementPtr e = row.build();
        EXPECT_EQ(row.text, Written(e.get()));
    }
}

TEST(XmlComposer, CdataSplitAtTheEndMarkerReadsBackAsOneText)
{
    // This library's reader drops CDATA sections, so the written text is taken apart here:
    // the sections' texts joined must give the original text.
    ElementPtr e(new CXML_Element("r"));
    e->AddChildContent(CKT_WideStringC(L"x]]>y]]>"), true);
    std::string text = Written(e.get());
    std::string joined;
    const std::string open = "<![CDATA[", close = "]]>";
    for (size_t at = text.find(open); at != std::string::npos; at = text.find(open, at)) {
        at += open.size();
        const size_t end = text.find(close, at);
        ASSERT_NE(std::string::npos, end);
        joined += text.substr(at, end - at);
        at = end + close.size();
    }
    EXPECT_EQ("x]]>y]]>", joined);
}

TEST(XmlComposer, FileAndStringOutputAgree)
{
    auto root = ParseText("<r a=\"1\"><b>x y</b><c/>tail</r>");
    ASSERT_TRUE(root);
    TempFile file;
    IKT_FileWrite *writer = KT_CreateFileWrite(file.Path().c_str());
    ASSERT_NE(nullptr, writer);
    EXPECT_TRUE(root->OutputStream(writer));
    writer->Release();
    EXPECT_EQ(Written(root.get()), file.Read());
    EXPECT_EQ("<r a=\"1\"><b>x y</b>\r\n<c/>\r\ntail</r>\r\n", file.Read());

    CKT_ByteStringL bound;
    root->OutputStream(bound);
    EXPECT_EQ(Written(root.get()), xmltest::Bytes(bound));
    bound.Empty(root->GetAllocator());
}

TEST(XmlComposer, WriteFailureIsReported)
{
    IKT_FileWrite *writer = KT_CreateFileWrite("/dev/full");
    if (!writer)
        GTEST_SKIP() << "/dev/full is not available";
    CXML_Element root("r");
    EXPECT_FALSE(root.OutputStream(writer));
    writer->Release();
}

// Text that the writer escapes must come back unchanged, and so must the tree's shape.
TEST(XmlComposer, ParseWriteParseKeepsTheTree)
{
    const std::string docs[] = {
        "<r a=\"&quot;&lt;&amp;&gt;'\" x:b=\"\xC3\xA9\"><c> lead and trail </c>"
        "<d>&#x01;&#31;\"&apos;&lt;&gt;&amp;</d><e/>mixed<f:g h=\"\"/></r>",
        "<root><item id=\"1\">one</item><item id=\"2\">two &amp; three</item></root>",
        xmltest::Fixture("catalogue.xml"),
        xmltest::Fixture("app-config.xml"),
        xmltest::Fixture("feed-namespaces.xml"),
    };
    for (const std::string &doc : docs) {
        SCOPED_TRACE(doc.substr(0, 60));
        auto first = ParseText(doc);
        ASSERT_TRUE(first);
        const std::string text = Written(first.get());
        auto second = ParseText(text);
        EXPECT_EQ(Dump(first.get()), Dump(second.get()));
        EXPECT_EQ(text, Written(second.get()));
    }
}

} // namespace

namespace {

// Spaces at the ends of text are written as references: a leading one survives reading back,
// a trailing one only when white space is kept, since the reader trims decoded text.
TEST(XmlComposer, SpacesAtTheEndsOfTextReadBack)
{
    CXML_Element root("r");
    root.AddChildContent(CKT_WideStringC(L" x\t "));
    const std::string text = Written(&root);
    EXPECT_EQ("<r>&#x20;x&#x09;&#x20;</r>\r\n", text);
    EXPECT_EQ("r\n  \" x\\x{9} \"\n", Dump(ParseText(text, 1).get()));
    EXPECT_EQ("r\n  \" x\"\n", Dump(ParseText(text, 0).get()));
}

} // namespace
