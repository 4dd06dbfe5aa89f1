// XML reader over real files, read in 32768-byte blocks: every construct must read the same
// when it straddles a block boundary as when the whole document is one memory block.
#include "xml_int.h"

#include "xml_test_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using xmltest::Dump;
using xmltest::ParseFile;
using xmltest::ParseText;
using xmltest::TempFile;

const size_t kBlock = 32768;

// Places piece so that its byte at offset k lands on every position from 32767 - len to 32768
// in turn, and checks that the file read gives the tree of the memory read and of expect.
void CheckAcrossBoundary(const std::string &piece, const std::string &expect)
{
    const std::string head = "<r>";
    for (size_t start = kBlock - piece.size() - 1; start <= kBlock + 1; ++start) {
        SCOPED_TRACE("piece starts at " + std::to_string(start));
        // White space after '>' is skipped, so it pads without changing the tree.
        const std::string doc = head + std::string(start - head.size(), ' ') + piece + "</r>tail";
        const std::string fromMemory = Dump(ParseText(doc).get());
        TempFile file(doc);
        long long parsed = 0, parsedMemory = 0;
        ParseText(doc, 0, &parsedMemory);
        EXPECT_EQ(fromMemory, Dump(ParseFile(file.Path(), 0, &parsed).get()));
        EXPECT_EQ(expect, fromMemory);
        EXPECT_EQ(parsedMemory, parsed);
        EXPECT_EQ((long long)doc.size() - 4, parsed);
        if (::testing::Test::HasFailure())
            return;
    }
}

TEST(XmlFile, ConstructsStraddlingTheBlockBoundary)
{
    struct Row
    {
        const char *name;
        std::string piece;
        const char *tree;
    } rows[] = {
        {"prefixed names and attribute values",
         "<pfx:element-name.x attr:long-name=\"v&amp;a&#x263A;l&#65;u\xC3\xA9\xE2\x82\xAC\" b='q'/>",
         "r\n  pfx:element-name.x attr:long-name=\"v&a\\x{263A}lAu\\x{E9}\\x{20AC}\" b=\"q\"\n"},
        {"text with UTF-8 and references",
         "<t>abc\xF0\x9F\x98\x80\xD0\x96&lt;&quot;&#x1F600;&#1046;xyz</t>",
         "r\n  t\n    \"abc\\x{1F600}\\x{416}<\\x{22}\\x{1F600}\\x{416}xyz\"\n"},
        {"comment, PI and CDATA", "<c>lost<!-- a comment -- here -->k<?pi data?>ept<![CDATA[x]]>z</c>",
         "r\n  c\n    \"z\"\n"},
        {"end tag with white space", "<e>text</e     ><f/>", "r\n  e\n    \"text\"\n  f\n"},
        {"declaration-like construct in content", "<d>a<?xml version='1.0'?>b</d>",
         "r\n  d\n    \"ab\"\n"},
        {"comment end restart rule", "<g><!-- --->x-->y</g>", "r\n  g\n    \"y\"\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        CheckAcrossBoundary(row.piece, row.tree);
    }
}

TEST(XmlFile, RootStartAndEndAtTheBoundary)
{
    struct Row
    {
        size_t lead; // white space before the root
        const char *root;
    } rows[] = {
        {kBlock - 1, "<a/>"}, {kBlock - 2, "<a/>"}, {kBlock - 3, "<a/>"},
        {kBlock, "<a/>"},     {kBlock - 4, "<a/>"}, {kBlock - 5, "<a></a>"},
        {kBlock - 1, "<a></a>"}, {2 * kBlock - 2, "<a b=\"c\"/>"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.lead);
        const std::string doc = std::string(row.lead, '\n') + row.root + "trailing";
        TempFile file(doc);
        long long parsed = 0;
        auto root = ParseFile(file.Path(), 0, &parsed);
        ASSERT_TRUE(root);
        EXPECT_TRUE(root->GetTagName() == "a");
        EXPECT_EQ((long long)(row.lead + strlen(row.root)), parsed);
    }
}

TEST(XmlFile, DocumentsOfExactBlockSizes)
{
    for (size_t size : {kBlock - 1, kBlock, kBlock + 1, 2 * kBlock, 3 * kBlock + 7}) {
        SCOPED_TRACE(size);
        // A root whose single text child fills the file up to its last byte.
        const std::string open = "<r>", close = "</r>";
        const std::string doc = open + std::string(size - open.size() - close.size(), 'x') + close;
        ASSERT_EQ(size, doc.size());
        TempFile file(doc);
        auto root = ParseFile(file.Path());
        ASSERT_TRUE(root);
        ASSERT_EQ(1, root->CountChildren());
        EXPECT_EQ(int(size - 7), root->GetContent(0).GetLength());
    }
}

TEST(XmlFile, EmptyAndMissingFiles)
{
    TempFile empty;
    EXPECT_FALSE(ParseFile(empty.Path()));
    EXPECT_EQ(nullptr, KT_CreateFileRead((empty.Path() + ".missing").c_str()));
    EXPECT_EQ(nullptr, KT_CreateFileRead(nullptr));
}

// A file that shrinks after it was opened makes a block read fail: the parse ends there with
// what it had, instead of looping or reading past the data.
TEST(XmlFile, FileShrinkingUnderTheReaderEndsTheInput)
{
    std::string doc = "<r><a/>";
    doc += std::string(3 * kBlock, ' ');
    doc += "<b/></r>";
    TempFile file(doc);
    IKT_FileRead *reader = KT_CreateFileRead(file.Path().c_str());
    ASSERT_NE(nullptr, reader);
    ASSERT_EQ(0, truncate(file.Path().c_str(), (off_t)kBlock + 100));
    CXML_Element *root = CXML_Element::Parse(reader, 0, nullptr, nullptr);
    reader->Release();
    ASSERT_NE(nullptr, root);
    EXPECT_EQ("r\n  a\n", Dump(root));
    delete root;
}

TEST(XmlFile, ParseThroughTheCallersAccessorRestartsNothing)
{
    // The memory accessor used directly: the caller keeps ownership, and a second parse over
    // the spent accessor finds no input.
    const std::string doc = "<r><a/></r>";
    CXML_DataBufAcc *acc = new CXML_DataBufAcc(
        reinterpret_cast<const unsigned char *>(doc.data()), doc.size());
    xmltest::ElementPtr first(CXML_Element::Parse(static_cast<IKT_BufferRead *>(acc)));
    EXPECT_EQ("r\n  a\n", Dump(first.get()));
    xmltest::ElementPtr second(CXML_Element::Parse(static_cast<IKT_BufferRead *>(acc)));
    EXPECT_FALSE(second);
    ASSERT_TRUE(acc->ReadNextBlock(true));
    acc->Release();
}

} // namespace
