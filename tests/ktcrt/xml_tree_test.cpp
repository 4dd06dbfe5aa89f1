// Element tree: reading, building and changing a tree through its public operations.
#include "xml_test_util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using xmltest::Dump;
using xmltest::ElementPtr;
using xmltest::ParseText;

TEST(XmlTree, SplitQualifiedName)
{
    struct Row
    {
        const char *full;
        const char *prefix;
        const char *name;
    } rows[] = {
        {"a:b", "a", "b"},     {"a", "keep", "a"}, {"", "keep", "keep"},
        {"a:b:c", "a", "b:c"}, {":b", "", "b"},    {"a:", "a", ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.full);
        CKT_ByteStringC prefix("keep"), name("keep");
        KT_XML_SplitQualifiedName(row.full, prefix, name);
        EXPECT_TRUE(prefix == CKT_ByteStringC(row.prefix));
        EXPECT_TRUE(name == CKT_ByteStringC(row.name));
    }
}

TEST(XmlTree, AttributeMapMatchingRule)
{
    CXML_Element e("r");
    e.SetAttrValue("a", CKT_WideStringC(L"1"));
    e.SetAttrValue("x:a", CKT_WideStringC(L"2")); // no match for prefix x: appended
    e.SetAttrValue("b", CKT_WideStringC(L"3"));
    e.SetAttrValue("a", CKT_WideStringC(L"4")); // replaces the first a, keeps its place
    EXPECT_EQ("r a=\"4\" x:a=\"2\" b=\"3\"\n", Dump(&e));
    e.SetAttrValue("y:b", CKT_WideStringC(L"5")); // prefix y matches nothing: appended
    e.RemoveAttr("a");                            // removes the first match only
    EXPECT_EQ("r x:a=\"2\" b=\"3\" y:b=\"5\"\n", Dump(&e));
    e.RemoveAttr("b");
    EXPECT_EQ("r x:a=\"2\" y:b=\"5\"\n", Dump(&e));
    EXPECT_EQ(nullptr, e.m_AttrMap.Lookup("z", "b"));
    ASSERT_NE(nullptr, e.m_AttrMap.Lookup("", "b"));
    EXPECT_TRUE(CKT_WideStringC(*e.m_AttrMap.Lookup("", "b")) == CKT_WideStringC(L"5"));
    e.m_AttrMap.RemoveAll(e.GetAllocator());
    EXPECT_EQ(0, e.m_AttrMap.GetSize());
}

TEST(XmlTree, NumbersInAttributes)
{
    CXML_Element e("r");
    e.SetAttrValue("i", -2147483647 - 1);
    e.SetAttrValue("z", 0);
    e.SetAttrValue("f", 3.14159265f);
    e.SetAttrValue("g", -0.25f);
    EXPECT_EQ("r i=\"-2147483648\" z=\"0\" f=\"3.14159\" g=\"-0.25\"\n", Dump(&e));
    int n = 7;
    EXPECT_TRUE(e.GetAttrInteger("i", n));
    EXPECT_EQ(-2147483647 - 1, n);
    EXPECT_FALSE(e.GetAttrInteger("missing", n));
    EXPECT_EQ(-2147483647 - 1, n);
    float f = 0;
    EXPECT_TRUE(e.GetAttrFloat("g", f));
    EXPECT_FLOAT_EQ(-0.25f, f);
    auto parsed = ParseText("<r n=\"42abc\" m=\"-7\" p:f=\"+1.5\"/>");
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(parsed->GetAttrInteger("n", n));
    EXPECT_EQ(42, n);
    EXPECT_TRUE(parsed->GetAttrInteger("", "m", n));
    EXPECT_EQ(-7, n);
    EXPECT_TRUE(parsed->GetAttrFloat("p", "f", f));
    EXPECT_FLOAT_EQ(1.5f, f);
}

TEST(XmlTree, ChildrenByIndexAndName)
{
    auto root = ParseText("<r><a/>text<b:a/><c/><a k=\"2\"/></r>");
    ASSERT_TRUE(root);
    EXPECT_EQ(5, root->CountChildren());
    EXPECT_EQ(3, root->CountElements("", "a"));
    EXPECT_EQ(1, root->CountElements("b", "a"));
    EXPECT_EQ(0, root->CountElements("", "x"));
    // An empty prefix matches any prefix, so b:a counts among the a elements.
    EXPECT_EQ(root->GetElement(2), root->GetElement("", "a", 1));
    EXPECT_EQ(root->GetElement(4), root->GetElement("", "a", 2));
    EXPECT_EQ(nullptr, root->GetElement("", "a", 3));
    EXPECT_EQ(nullptr, root->GetElement("", "a", -1));
    EXPECT_EQ(2, root->FindElement(root->GetElement("b", "a", 0)));
    EXPECT_EQ(-1, root->FindElement(root.get()));
    EXPECT_EQ(nullptr, root->GetElement(-1));
    EXPECT_EQ(nullptr, root->GetElement(5));
    EXPECT_EQ(nullptr, root->GetContentPtr(0));
    ASSERT_NE(nullptr, root->GetContentPtr(1));
    EXPECT_TRUE(root->GetContent(7) == L"");
}

TEST(XmlTree, BuildingAndChangingChildren)
{
    ElementPtr root(new CXML_Element("r"));
    root->AddChildElement(new CXML_Element("b"));
    root->InsertChildElement(0, new CXML_Element("a"));
    root->InsertChildContent(1, CKT_WideStringC(L"between"));
    root->InsertChildElement(99, new CXML_Element("z")); // clamped to the end
    root->AddChildContent(CKT_WideStringC(L"end"));
    EXPECT_EQ("r\n  a\n  \"between\"\n  b\n  z\n  \"end\"\n", Dump(root.get()));
    EXPECT_EQ(root.get(), root->GetElement(0)->GetParent());
    root->RemoveChild(2);
    root->RemoveChild(99);
    EXPECT_EQ("r\n  a\n  \"between\"\n  z\n  \"end\"\n", Dump(root.get()));
    root->SetTag("p:q");
    EXPECT_TRUE(root->GetTagName(true) == "p:q");
    EXPECT_TRUE(root->GetTagName() == "q");
    root->SetTag("", "plain");
    EXPECT_TRUE(root->GetTagName(true) == "plain");
    root->RemoveChildren();
    EXPECT_EQ(0, root->CountChildren());
    root->SetAttrValue("a", CKT_WideStringC(L"1"));
    root->Empty();
    EXPECT_EQ(0, root->m_AttrMap.GetSize());
    EXPECT_EQ(0, root->GetTagName().GetLength());
}

TEST(XmlTree, CloneIsDeepAndDropsTheCdataFlag)
{
    ElementPtr root(new CXML_Element("n:r"));
    root->SetAttrValue("x:a", CKT_WideStringC(L"1"));
    root->AddChildContent(CKT_WideStringC(L"a<b"), true);
    CXML_Element *child = new CXML_Element("c");
    child->SetAttrValue("k", CKT_WideStringC(L"v"));
    root->AddChildElement(child);
    ElementPtr copy(root->Clone());
    ASSERT_TRUE(copy);
    EXPECT_EQ(Dump(root.get()), Dump(copy.get()));
    EXPECT_NE(root->GetElement(1), copy->GetElement(1));
    EXPECT_EQ(copy.get(), copy->GetElement(1)->GetParent());
    const CKT_ByteString text = copy->OutputStream();
    EXPECT_STREQ("<n:r x:a=\"1\">a&lt;b<c k=\"v\"/>\r\n</n:r>\r\n", text.GetCStr());
}

TEST(XmlTree, DeepHandBuiltTreesAreFreedClonedAndWrittenWithoutRecursion)
{
    // The parser limits nesting, but a program may build any depth; a walk that recursed per
    // level would run out of stack long before this depth.
    const int depth = 200000;
    ElementPtr root(new CXML_Element("d"));
    CXML_Element *leaf = root.get();
    for (int i = 1; i < depth; ++i) {
        CXML_Element *child = new CXML_Element("d");
        if (i % 2)
            leaf->AddChildContent(CKT_WideStringC(L"t"));
        leaf->AddChildElement(child);
        leaf = child;
    }
    leaf->SetAttrValue("last", CKT_WideStringC(L"1"));

    ElementPtr copy(root->Clone());
    ASSERT_TRUE(copy);
    const CKT_ByteString text = root->OutputStream();
    EXPECT_EQ(text, copy->OutputStream());
    // Each level writes "<d>" (and "t" on every other one) and its end tag; the leaf is
    // empty.
    const std::string written(text.GetCStr(), size_t(text.GetLength()));
    EXPECT_EQ(size_t(depth - 1) * (3 + 6) + depth / 2 + std::string("<d last=\"1\"/>\r\n").size(),
              written.size());
    EXPECT_EQ("<d>t<d><d>t<d>", written.substr(0, 14));
    EXPECT_NE(std::string::npos, written.find("<d last=\"1\"/>\r\n</d>\r\n"));

    // The copy's links run both ways at every level.
    const CXML_Element *node = copy.get();
    int levels = 1;
    for (;;) {
        const CXML_Element *next = nullptr;
        for (int i = 0; i < node->CountChildren() && !next; ++i)
            next = node->GetElement(i);
        if (!next)
            break;
        ASSERT_EQ(node, next->GetParent());
        node = next;
        ++levels;
    }
    EXPECT_EQ(depth, levels);
    copy.reset();
    root->RemoveChildren();
    EXPECT_EQ(0, root->CountChildren());
}

TEST(XmlTree, NamespaceLookupWalksUpThroughParents)
{
    auto root = ParseText("<r xmlns=\"urn:default\" xmlns:p=\"urn:p\xC3\xA9\">"
                          "<p:a xmlns:q=\"urn:q\"><q:b/><p:c xmlns:p=\"urn:inner\"/></p:a></r>");
    ASSERT_TRUE(root);
    CXML_Element *a = root->GetElement(0);
    ASSERT_TRUE(a);
    CXML_Element *b = a->GetElement(0);
    CXML_Element *c = a->GetElement(1);
    ASSERT_TRUE(b && c);
    EXPECT_TRUE(b->GetNamespace() == "urn:q");
    EXPECT_TRUE(b->GetNamespace(true) == "q");
    EXPECT_TRUE(a->GetNamespace() == "urn:p\xC3\xA9");
    EXPECT_TRUE(c->GetNamespace() == "urn:inner");
    EXPECT_TRUE(b->GetNamespaceURI("") == "urn:default");
    EXPECT_TRUE(b->GetNamespaceURI("none") == "");
}

TEST(XmlTree, AllocatorBoundReaders)
{
    auto root = ParseText("<p:r x:a=\"v\xC3\xA9\"/>");
    ASSERT_TRUE(root);
    _IKT_Allocator *alloc = root->GetAllocator();
    CKT_ByteStringL tag, prefix, name;
    CKT_WideStringL value;
    root->GetTagName(tag, true);
    EXPECT_EQ("p:r", xmltest::Bytes(tag));
    root->GetTagName(tag, false);
    EXPECT_EQ("r", xmltest::Bytes(tag));
    root->GetAttrByIndex(0, prefix, name, value);
    EXPECT_EQ("x", xmltest::Bytes(prefix));
    EXPECT_EQ("a", xmltest::Bytes(name));
    EXPECT_TRUE(CKT_WideStringC(value) == CKT_WideStringC(L"v\x00e9"));
    root->GetAttrByIndex(1, prefix, name, value); // out of range: unchanged
    EXPECT_EQ("x", xmltest::Bytes(prefix));
    tag.Empty(alloc);
    prefix.Empty(alloc);
    name.Empty(alloc);
    value.Empty(alloc);
}

// Counts the blocks it hands out, so that a test can see every one of them come back.
struct CountingAllocator
{
    _IKT_Allocator base;
    int live = 0;

    static void *Alloc(_IKT_Allocator *a, size_t size)
    {
        ++reinterpret_cast<CountingAllocator *>(a)->live;
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
        if (p)
            --reinterpret_cast<CountingAllocator *>(a)->live;
        free(p);
    }
    CountingAllocator() : base{&AllocDebug, &Alloc, &ReallocDebug, &Realloc, &Free} {}
};

// A parsed tree keeps names and values packed together; every change must still work on it and
// free exactly what it should (the sanitized build checks the default heap, the counter the
// caller's allocator).
TEST(XmlTree, ChangingAParsedTree)
{
    CountingAllocator counting;
    _IKT_Allocator *const allocators[] = {nullptr, &counting.base};
    for (_IKT_Allocator *alloc : allocators) {
        SCOPED_TRACE(alloc ? "caller's allocator" : "default heap");
        const std::string doc = "<n:r a=\"1\" x:b=\"two\" c=\"\"><k v=\"z\">text</k>tail</n:r>";
        CXML_Element *root =
            CXML_Element::Parse(doc.data(), unsigned(doc.size()), 0, nullptr, alloc);
        ASSERT_NE(nullptr, root);
        EXPECT_EQ("n:r a=\"1\" x:b=\"two\" c=\"\"\n  k v=\"z\"\n    \"text\"\n  \"tail\"\n",
                  Dump(root));

        // A value replaced by itself, and by another attribute's value.
        root->SetAttrValue("a", *root->GetAttrValuePtr("a"));
        root->SetAttrValue("c", *root->GetAttrValuePtr("x:b"));
        // New attributes beyond the parsed ones, then the first one removed.
        root->SetAttrValue("d", CKT_WideStringC(L"4"));
        root->SetAttrValue("y:e", CKT_WideStringC(L"5"));
        root->RemoveAttr("a");
        root->SetAttrValue("b", CKT_WideStringC(L"2"));
        EXPECT_EQ("n:r x:b=\"2\" c=\"two\" d=\"4\" y:e=\"5\"\n  k v=\"z\"\n    \"text\"\n"
                  "  \"tail\"\n",
                  Dump(root));

        CXML_Element *k = root->GetElement(0);
        ASSERT_NE(nullptr, k);
        k->SetTag(k->GetTagName(true) + CKT_ByteStringC("2"));
        k->RemoveAttr("v");
        k->RemoveChild(0);
        root->RemoveChild(1);
        root->SetTag("m:s");
        EXPECT_EQ("m:s x:b=\"2\" c=\"two\" d=\"4\" y:e=\"5\"\n  k2\n", Dump(root));

        CXML_Element *copy = root->Clone(alloc);
        EXPECT_EQ(Dump(root), Dump(copy));
        CKT_ByteStringL text;
        root->OutputStream(text);
        EXPECT_EQ("<m:s x:b=\"2\" c=\"two\" d=\"4\" y:e=\"5\"><k2/>\r\n</m:s>\r\n",
                  xmltest::Bytes(text));
        text.Empty(alloc);

        // Emptied, then built up again in place.
        k->Empty();
        k->SetTag("again");
        k->SetAttrValue("q", CKT_WideStringC(L"r"));
        EXPECT_EQ("again q=\"r\"\n", Dump(k));
        CXML_Element::Destroy(copy, alloc);
        CXML_Element::Destroy(root, alloc);
    }
    EXPECT_EQ(0, counting.live);
}

} // namespace
