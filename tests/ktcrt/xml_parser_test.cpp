// XML reader: what a document turns into, case by case, including the deliberate oddities that
// callers rely on.
#include "xml_int.h"

#include "xml_test_util.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using xmltest::Dump;
using xmltest::ParseText;

TEST(XmlParser, DocumentsBecomeTheseTrees)
{
    struct Row
    {
        const char *name;
        std::string input;
        const char *tree;
    } rows[] = {
        {"declaration, comment, PI and BOM before the root are skipped",
         "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<!-- head -->\n"
         "<?style x?>\n<r a=\"1\"/>",
         "r a=\"1\"\n"},
        {"text before the first '<' is skipped", "junk text <r/>", "r\n"},
        {"doctype is swallowed up to the next comment end",
         "<!DOCTYPE r [<!ENTITY e \"x\">]>\n<!-- c -->\n<r/>", "r\n"},
        {"doctype with no later comment leaves no element", "<!DOCTYPE r>\n<r><a/></r>",
         "(none)"},
        {"empty input", "", "(none)"},
        {"only white space", " \n\t ", "(none)"},
        {"first tag is an end tag", "</r><a/>", "(none)"},
        {"empty tag name", "< r/>", "(none)"},
        {"name ending in a colon is empty", "<a:/>", "(none)"},
        {"byte after the attributes is neither '/' nor '>'", "<r a=\"1\" ?>", "(none)"},
        {"attribute name without '=' ends the attributes", "<r a b=\"1\"/>", "(none)"},
        {"attribute name without '=' before '/>' is dropped", "<r a=\"1\" b/>", "r a=\"1\"\n"},
        {"unquoted value is empty", "<r a=x/>", "r a=\"\"\n"},
        {"quotes of either kind, the other kind kept inside",
         "<r a='say \"hi\"' b=\"it's\"/>", "r a=\"say \\x{22}hi\\x{22}\" b=\"it's\"\n"},
        {"line breaks, tabs and '<' stay in values", "<r a=\"1\n\t<2\"/>",
         "r a=\"1\\x{A}\\x{9}<2\"\n"},
        {"named references in a value",
         "<r a=\"&lt;&gt;&amp;&apos;&quot;\"/>", "r a=\"<>&'\\x{22}\"\n"},
        {"decimal, hexadecimal and upper-case X references",
         "<r d=\"&#65;\" h=\"&#x41;\" X=\"&#X41;\" g=\"&#x4g1;\"/>",
         "r d=\"A\" h=\"A\" X=\")\" g=\"A\"\n"},
        {"unknown and overlong names give the character 0",
         "<r a=\"&nbsp;\" b=\"&quotation;\"/>", "r a=\"\\x{0}\" b=\"\\x{0}\"\n"},
        {"reference code is inserted as is", "<r a=\"&#x110000;&#0;\"/>",
         "r a=\"\\x{110000}\\x{0}\"\n"},
        {"a reference without ';' runs to the end of input", "<r a=\"x&amp\"/>",
         "r a=\"x\\x{0}\"\n"},
        {"UTF-8 in values and text",
         "<r a=\"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\">\xD0\x96\xE4\xB8\xAD</r>",
         "r a=\"\\x{E9}\\x{20AC}\\x{1F600}\"\n  \"\\x{416}\\x{4E2D}\"\n"},
        {"malformed UTF-8 is dropped byte by byte", "<r>\xE2\x82" "A\xBF\xFE" "B</r>",
         "r\n  \"AB\"\n"},
        {"a with prefix x after a: both kept", "<r a=\"1\" x:a=\"2\"/>",
         "r a=\"1\" x:a=\"2\"\n"},
        {"a after x:a replaces its value in place", "<r x:a=\"2\" a=\"1\" b=\"3\"/>",
         "r x:a=\"1\" b=\"3\"\n"},
        {"same prefix and name: later value wins", "<r y:a=\"1\" z=\"0\" y:a=\"2\"/>",
         "r y:a=\"2\" z=\"0\"\n"},
        {"several colons: the prefix is the part between the last two", "<a:b:c d:e:f=\"1\"/>",
         "b:c e:f=\"1\"\n"},
        {"white space between elements makes no text", "<r>\n    <a/>\n    <b/>\n</r>",
         "r\n  a\n  b\n"},
        {"text then element", "<r>abc<a/></r>", "r\n  \"abc\"\n  a\n"},
        {"text before a comment is lost", "<r>ab<!-- c -->cd</r>", "r\n  \"cd\"\n"},
        {"text before a child survives a later comment", "<r>ab<a/>cd<!--x-->ef</r>",
         "r\n  \"ab\"\n  a\n  \"ef\"\n"},
        {"CDATA is dropped with the text before it", "<r>ab<![CDATA[<x>]]>cd</r>",
         "r\n  \"cd\"\n"},
        {"other '<!' constructs end at '>'", "<r>ab<!ELEMENT r ANY>cd</r>", "r\n  \"cd\"\n"},
        {"processing instruction keeps the text", "<r>ab<?pi x?>  cd</r>", "r\n  \"abcd\"\n"},
        {"trailing white space trimmed, leading skipped", "<r> \t a b \t\r\n</r>",
         "r\n  \"a b\"\n"},
        {"end tag closes the innermost element whatever its name", "<a><b></c>t</a>",
         "a\n  b\n  \"t\"\n"},
        {"text after the root is ignored", "<r>x</r>tail<s/>", "r\n  \"x\"\n"},
        {"unterminated start tag", "<r a=\"1\"", "r a=\"1\"\n"},
        {"unterminated elements keep what was read", "<r><a k='v'>text", "r\n  a k=\"v\"\n    \"text\"\n"},
        {"child that yields nothing is skipped", "<r>a< b>c</r>", "r\n  \"a\"\n  \" b>c\"\n"},
        {"comment end matching restarts after a mismatch",
         "<r><!-- x --->y--><a/></r>", "r\n  a\n"},
        {"names may start with digits or '-'", "<1a><-b/></1a>", "1a\n  -b\n"},
        {"attribute names may not", "<r 2=\"x\"/>", "(none)"},
        {"white space around '=' and before '/>'", "<r a = \"1\"  />", "r a=\"1\"\n"},
        {"references in text", "<r>1 &lt; 2 &#x263A;&#9;</r>",
         "r\n  \"1 < 2 \\x{263A}\"\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.tree, Dump(ParseText(row.input).get()));
    }
}

TEST(XmlParser, KeepWhitespaceKeepsTrailingSpaceOnly)
{
    EXPECT_EQ("r\n  \"a b \\x{9}\\x{A}\"\n  c\n  \"d \"\n",
              Dump(ParseText("<r>  a b \t\n<c/> d </r>", 1).get()));
}

TEST(XmlParser, ParsedSizeStopsAfterTheRoot)
{
    struct Row
    {
        const char *input;
        long long size;
    } rows[] = {
        {"<a/>other text", 4},
        {"<a></a> tail", 7},
        {"  <a x='1'>t</a ><b/>", 17},
        {"<a>", 3},
        {"", 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.input);
        long long size = -1;
        ParseText(row.input, 0, &size);
        EXPECT_EQ(row.size, size);
    }
}

TEST(XmlParser, NamesAreCaseSensitive)
{
    auto root = ParseText("<Root Attr=\"1\"><Item/><item/><ITEM/></Root>");
    ASSERT_TRUE(root);
    EXPECT_TRUE(root->GetTagName() == "Root");
    CKT_WideString value;
    EXPECT_TRUE(root->GetAttrValue("Attr", value));
    EXPECT_FALSE(root->GetAttrValue("attr", value));
    EXPECT_FALSE(root->HasAttr("ATTR"));
    EXPECT_EQ(1, root->CountElements("", "item"));
    EXPECT_EQ(0, root->CountElements("", "iTem"));
}

TEST(XmlParser, GetElementSkipsTextChildren)
{
    auto root = ParseText("<r>some text<a/></r>");
    ASSERT_TRUE(root);
    ASSERT_EQ(2, root->CountChildren());
    EXPECT_EQ(nullptr, root->GetElement(0));
    ASSERT_NE(nullptr, root->GetElement(1));
    EXPECT_TRUE(root->GetElement(1)->GetTagName() == "a");
    EXPECT_EQ(root.get(), root->GetElement(1)->GetParent());
    EXPECT_EQ(CXML_Element::Content, root->GetChildType(0));
    EXPECT_EQ(CXML_Element::Element, root->GetChildType(1));
    EXPECT_EQ(CXML_Element::Invalid, root->GetChildType(2));
    EXPECT_TRUE(root->GetContent(0) == L"some text");
    EXPECT_TRUE(root->GetContent(1) == L"");
}

TEST(XmlParser, AttributeLookupByPrefix)
{
    auto root = ParseText("<r a=\"1\" x:a=\"2\"/>");
    ASSERT_TRUE(root);
    CKT_WideString value;
    ASSERT_TRUE(root->GetAttrValue("a", value));
    EXPECT_TRUE(value == L"1");
    ASSERT_TRUE(root->GetAttrValue("x:a", value));
    EXPECT_TRUE(value == L"2");
    ASSERT_TRUE(root->GetAttrValue("x", "a", value));
    EXPECT_TRUE(value == L"2");
    EXPECT_FALSE(root->GetAttrValue("y:a", value));
    EXPECT_TRUE(value == L"2"); // unchanged on failure
    ASSERT_EQ(2, root->m_AttrMap.GetSize());
    CKT_ByteString prefix("unchanged"), name("unchanged");
    root->GetAttrByIndex(2, prefix, name, value);
    EXPECT_TRUE(prefix == "unchanged");
    root->GetAttrByIndex(1, prefix, name, value);
    EXPECT_TRUE(prefix == "x");
    EXPECT_TRUE(name == "a");
    EXPECT_TRUE(value == L"2");
}

// Long attribute lists are matched through an index while parsing; the outcome must be what the
// attribute map's own linear rule gives for the same sequence.
TEST(XmlParser, LongAttributeListsFollowTheMapsMatchingRule)
{
    const char *const prefixes[] = {"", "", "x", "y", "zz"};
    uint32_t seed = 99;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 10;
    };
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        std::string doc = "<r";
        CXML_Element expect("r");
        const int count = 10 + int(next() % 60);
        for (int i = 0; i < count; ++i) {
            const std::string prefix = prefixes[next() % 5];
            const std::string name = "n" + std::to_string(next() % 12);
            const std::string qname = prefix.empty() ? name : prefix + ":" + name;
            const std::wstring value = std::to_wstring(i);
            doc += " " + qname + "=\"" + std::to_string(i) + "\"";
            expect.SetAttrValue(qname.c_str(), CKT_WideStringC(value.c_str()));
        }
        doc += "/>";
        EXPECT_EQ(Dump(&expect), Dump(ParseText(doc).get()));
    }
}

TEST(XmlParser, ByteClassTable)
{
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE(b);
        unsigned char expect = 0;
        if (b <= 0x20 || b >= 0xFE)
            expect = 0x01;
        else if (b >= 'A' && b <= 'F')
            expect = 0x7A;
        else if (b >= 'a' && b <= 'f')
            expect = 0x5A;
        else if ((b >= 'G' && b <= 'Z') || (b >= 'g' && b <= 'z') || b >= 0x80)
            expect = 0x1A;
        else if (b >= '0' && b <= '9')
            expect = 0x34;
        else if (b == '_')
            expect = 0x18;
        else if (b == '-' || b == '.')
            expect = 0x10;
        else if (b == ':')
            expect = 0x08;
        EXPECT_EQ(expect, g_KTCRT_XML_ByteTypes[b]);
    }
    EXPECT_TRUE(g_KTCRT_XML_IsNameIntro(':'));
    EXPECT_FALSE(g_KTCRT_XML_IsNameChar(':'));
    EXPECT_TRUE(g_KTCRT_XML_IsHexChar('F'));
    EXPECT_FALSE(g_KTCRT_XML_IsHexChar('g'));
}

// Hostile nesting must not exhaust the stack: below the limit, start tags are dropped and the
// end tags then close the open elements one by one, so the tree stops at the limit.
TEST(XmlParser, MillionDeepNestingStopsAtTheLimit)
{
    const int depth = 1000000;
    std::string doc;
    doc.reserve(size_t(depth) * 7);
    for (int i = 0; i < depth; ++i)
        doc += "<a>";
    doc += "deep";
    for (int i = 0; i < depth; ++i)
        doc += "</a>";
    long long parsed = 0;
    auto root = ParseText(doc, 0, &parsed);
    ASSERT_TRUE(root);
    int levels = 1;
    const CXML_Element *e = root.get();
    while (e->CountChildren() > 0 && e->GetElement(0)) {
        e = e->GetElement(0);
        ++levels;
    }
    EXPECT_EQ(int(KT_XML_MAX_DEPTH), levels);
    ASSERT_EQ(1, e->CountChildren());
    EXPECT_TRUE(e->GetContent(0) == L"deep");
    EXPECT_EQ(3LL * depth + 4 + 4LL * KT_XML_MAX_DEPTH, parsed);
}

TEST(XmlParser, NestingAtTheLimitIsKept)
{
    std::string doc;
    for (int i = 0; i < KT_XML_MAX_DEPTH; ++i)
        doc += "<a>";
    doc += "<b/>"; // one level too deep: dropped
    for (int i = 0; i < KT_XML_MAX_DEPTH; ++i)
        doc += "</a>";
    auto root = ParseText(doc);
    ASSERT_TRUE(root);
    const CXML_Element *e = root.get();
    int levels = 1;
    while (e->GetElement(0)) {
        e = e->GetElement(0);
        ++levels;
    }
    EXPECT_EQ(int(KT_XML_MAX_DEPTH), levels);
    EXPECT_TRUE(e->GetTagName() == "a");
    EXPECT_EQ(0, e->CountChildren());
}

// A counting arena: every block of a tree parsed with it must come from it and go back to it.
struct CountingAllocator
{
    _IKT_Allocator base;
    int live = 0;
    int total = 0;

    static void *Alloc(_IKT_Allocator *a, size_t size)
    {
        CountingAllocator *self = reinterpret_cast<CountingAllocator *>(a);
        ++self->live;
        ++self->total;
        return malloc(size);
    }
    static void *AllocDebug(_IKT_Allocator *a, size_t size, const char *, int)
    {
        return Alloc(a, size);
    }
    static void *Realloc(_IKT_Allocator *, void *p, size_t size) { return realloc(p, size); }
    static void *ReallocDebug(_IKT_Allocator *a, void *p, size_t size, const char *, int)
    {
        return Realloc(a, p, size);
    }
    static void Free(_IKT_Allocator *a, void *p)
    {
        reinterpret_cast<CountingAllocator *>(a)->live--;
        free(p);
    }
    CountingAllocator() : base{&AllocDebug, &Alloc, &ReallocDebug, &Realloc, &Free} {}
};

TEST(XmlParser, WholeTreeComesFromTheCallersAllocator)
{
    CountingAllocator arena;
    const std::string doc = "<r a=\"1\" x:b=\"2\"><c>text</c><d/>tail</r>";
    CXML_Element *root = CXML_Element::Parse(doc.data(), unsigned(doc.size()), 0, nullptr,
                                             &arena.base);
    ASSERT_NE(nullptr, root);
    EXPECT_EQ("r a=\"1\" x:b=\"2\"\n  c\n    \"text\"\n  d\n  \"tail\"\n", Dump(root));
    EXPECT_GT(arena.total, 8);
    CXML_Element *copy = root->Clone(&arena.base);
    EXPECT_EQ(Dump(root), Dump(copy));
    CXML_Element::Destroy(copy, &arena.base);
    CXML_Element::Destroy(root, &arena.base);
    EXPECT_EQ(0, arena.live);
}

} // namespace
