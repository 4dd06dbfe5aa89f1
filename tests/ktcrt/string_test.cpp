// Byte and wide strings: block sharing and copy-on-write, the empty states, editing, searching,
// comparison and the allocator-bound forms.
#include "kt_basic.h"
#include "ktcrt_testutil.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace {

std::string Text(const CKT_ByteString &s)
{
    return std::string(s.GetCStr(), static_cast<size_t>(s.GetLength()));
}

std::wstring Text(const CKT_WideString &s)
{
    return std::wstring(s.GetCStr(), static_cast<size_t>(s.GetLength()));
}

TEST(StringBlock, LayoutAndExactSizes)
{
    EXPECT_EQ(12u, offsetof(CKT_StringData, m_String));
    EXPECT_EQ(12u, offsetof(CKT_StringDataW, m_String));
    EXPECT_EQ(nullptr, KT_AllocString(0));
    EXPECT_EQ(nullptr, KT_AllocStringW(-1));
    {
        AllocCounter counter;
        CKT_ByteString bytes("hello");
        EXPECT_EQ(5u + 13u, counter.lastSize);
        CKT_WideString wide(L"hello");
        EXPECT_EQ(5u * 4u + 16u, counter.lastSize);
        EXPECT_EQ(1, BlockOf(bytes)->m_nRefCount);
        EXPECT_EQ(5, BlockOf(bytes)->m_nAllocLength);
        EXPECT_EQ(5, BlockOf(wide)->m_nAllocLength);
    }
    // Appending never over-allocates: each new block is exactly the new text.
    CKT_ByteString grown;
    for (int i = 0; i < 5; i++) {
        grown += "ab";
        EXPECT_EQ(grown.GetLength(), BlockOf(grown)->m_nAllocLength);
    }
    CKT_StringData *p = KT_AllocString(3);
    EXPECT_EQ(0, p->m_String[3]);
    p->m_nRefCount = -1; // a locked block is freed like an exclusive one
    KT_ReleaseString(p);
}

TEST(StringBlock, CopyingSharesWithoutAllocation)
{
    CKT_ByteString original("shared text");
    CKT_WideString wide(L"shared text");
    AllocCounter counter;
    CKT_ByteString copy(original);
    CKT_ByteString assigned;
    assigned = copy;
    CKT_WideString wideCopy = wide;
    CKT_ByteString left = original.Left(100);
    CKT_ByteString mid = original.Mid(0, original.GetLength());
    EXPECT_EQ(0, counter.allocs);
    EXPECT_EQ(original.GetPtr(), copy.GetPtr());
    EXPECT_EQ(original.GetPtr(), left.GetPtr());
    EXPECT_EQ(original.GetPtr(), mid.GetPtr());
    EXPECT_EQ(5, BlockOf(original)->m_nRefCount);
    EXPECT_EQ(2, BlockOf(wide)->m_nRefCount);
}

// Every editing operation applied to a copy: the copy detaches, the original keeps its text.
TEST(StringBlock, EditingACopyNeverChangesTheOriginal)
{
    struct Row
    {
        const char *name;
        std::function<void(CKT_ByteString &)> edit;
        const char *expect;
    } rows[] = {
        {"SetAt", [](CKT_ByteString &s) { s.SetAt(0, 'X'); }, "Xbc def"},
        {"append", [](CKT_ByteString &s) { s += "!"; }, "abc def!"},
        {"Insert", [](CKT_ByteString &s) { s.Insert(3, '-'); }, "abc- def"},
        {"Delete", [](CKT_ByteString &s) { s.Delete(0, 4); }, "def"},
        {"Remove", [](CKT_ByteString &s) { s.Remove(' '); }, "abcdef"},
        {"Replace", [](CKT_ByteString &s) { s.Replace("def", "x"); }, "abc x"},
        {"MakeUpper", [](CKT_ByteString &s) { s.MakeUpper(); }, "ABC DEF"},
        {"TrimRight", [](CKT_ByteString &s) { s.TrimRight('f'); }, "abc de"},
        {"TrimLeft", [](CKT_ByteString &s) { s.TrimLeft("ab"); }, "c def"},
        {"GetBuffer and ReleaseBuffer",
         [](CKT_ByteString &s) {
             s.GetBuffer(0)[1] = 'Z';
             s.ReleaseBuffer(2);
         },
         "aZ"},
        {"LockBuffer", [](CKT_ByteString &s) { s.LockBuffer()[2] = 'Q'; }, "abQ def"},
        {"Reserve", [](CKT_ByteString &s) { s.Reserve(50); }, "abc def"},
        {"assign text", [](CKT_ByteString &s) { s = "new"; }, "new"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        CKT_ByteString original("abc def");
        CKT_ByteString copy(original);
        row.edit(copy);
        EXPECT_EQ("abc def", Text(original));
        EXPECT_EQ(row.expect, Text(copy));
        EXPECT_NE(original.GetPtr(), copy.GetPtr());
        EXPECT_EQ(1, BlockOf(original)->m_nRefCount);
    }
}

TEST(StringBlock, WideEditingACopyNeverChangesTheOriginal)
{
    struct Row
    {
        const char *name;
        std::function<void(CKT_WideString &)> edit;
        const wchar_t *expect;
    } rows[] = {
        {"SetAt", [](CKT_WideString &s) { s.SetAt(0, L'X'); }, L"Xbc def"},
        {"append", [](CKT_WideString &s) { s += L'!'; }, L"abc def!"},
        {"Replace", [](CKT_WideString &s) { s.Replace(L"c", L"CC"); }, L"abCC def"},
        {"Delete", [](CKT_WideString &s) { s.Delete(1, 1); }, L"ac def"},
        {"TrimLeft", [](CKT_WideString &s) { s.TrimLeft(L"a"); }, L"bc def"},
        {"MakeUpper", [](CKT_WideString &s) { s.MakeUpper(); }, L"ABC DEF"},
        {"LockBuffer", [](CKT_WideString &s) { s.LockBuffer()[0] = L'z'; }, L"zbc def"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        CKT_WideString original(L"abc def");
        CKT_WideString copy(original);
        row.edit(copy);
        EXPECT_EQ(L"abc def", Text(original));
        EXPECT_EQ(row.expect, Text(copy));
        EXPECT_NE(original.GetPtr(), copy.GetPtr());
    }
}

TEST(StringBlock, LockedBlockIsNeverShared)
{
    CKT_ByteString locked("private");
    char *p = locked.LockBuffer();
    EXPECT_EQ(-1, BlockOf(locked)->m_nRefCount);

    CKT_ByteString copy(locked);
    EXPECT_NE(locked.GetPtr(), copy.GetPtr());
    CKT_ByteString assigned("other");
    assigned = locked;
    EXPECT_NE(locked.GetPtr(), assigned.GetPtr());
    EXPECT_EQ(1, BlockOf(assigned)->m_nRefCount);
    CKT_ByteString mid = locked.Mid(0);
    EXPECT_NE(locked.GetPtr(), mid.GetPtr());

    // Assigning to the locked string copies into its own block, which stays locked.
    CKT_ByteString source("data");
    locked = source;
    EXPECT_EQ(p, locked.GetCStr());
    EXPECT_EQ(-1, BlockOf(locked)->m_nRefCount);
    EXPECT_NE(source.GetPtr(), locked.GetPtr());
    p[0] = 'D';
    EXPECT_EQ("Data", Text(locked));
    EXPECT_EQ("data", Text(source));

    CKT_WideString wlocked(L"w");
    wlocked.LockBuffer();
    CKT_WideString wcopy = wlocked;
    EXPECT_NE(wlocked.GetPtr(), wcopy.GetPtr());
}

TEST(StringBlock, EmptyStatesOwnNoBlockAndCompareEqual)
{
    struct Row
    {
        const char *name;
        std::function<void(CKT_ByteString &)> make;
        bool keepsBlock;
    } rows[] = {
        {"default constructed", [](CKT_ByteString &) {}, false},
        {"assigned empty text", [](CKT_ByteString &s) { s = ""; }, false},
        {"assigned null", [](CKT_ByteString &s) { s = static_cast<const char *>(nullptr); }, false},
        {"ReleaseBuffer(0)",
         [](CKT_ByteString &s) {
             s = "abc";
             s.GetBuffer(10);
             s.ReleaseBuffer(0);
         },
         false},
        {"Empty()",
         [](CKT_ByteString &s) {
             s = "abc";
             s.Empty();
         },
         false},
        {"TrimLeft of three spaces",
         [](CKT_ByteString &s) {
             s = "   ";
             s.TrimLeft();
         },
         true},
        {"TrimRight of three spaces",
         [](CKT_ByteString &s) {
             s = "   ";
             s.TrimRight();
         },
         true},
        {"Delete of everything",
         [](CKT_ByteString &s) {
             s = "abc";
             s.Delete(0, 10);
         },
         true},
    };
    const CKT_ByteString empty;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        CKT_ByteString s;
        row.make(s);
        EXPECT_EQ(row.keepsBlock, s.GetPtr() != nullptr);
        EXPECT_EQ(0, s.GetLength());
        EXPECT_TRUE(s.IsEmpty());
        EXPECT_TRUE(s == "");
        EXPECT_TRUE(s == static_cast<const char *>(nullptr));
        EXPECT_TRUE(s == empty);
        EXPECT_TRUE(empty == s);
        EXPECT_TRUE(s.Equal(CKT_ByteStringC()));
        EXPECT_TRUE(s.EqualNoCase(""));
        EXPECT_EQ(0, s.Compare(""));
        EXPECT_EQ(-1, s.Compare("a"));
        EXPECT_STREQ("", s.GetCStr());
        if (!row.keepsBlock) {
            EXPECT_EQ(nullptr, s.GetBuffer(0));
            EXPECT_EQ(nullptr, s.GetPtr());
        }
    }

    CKT_WideString wide(L"   ");
    wide.TrimRight();
    EXPECT_NE(nullptr, wide.GetPtr());
    EXPECT_TRUE(wide == L"");
    EXPECT_TRUE(wide == CKT_WideString());
    EXPECT_TRUE(wide == static_cast<const wchar_t *>(nullptr));
    EXPECT_EQ(0, wide.Compare(L""));
    EXPECT_EQ(0, wide.Compare(static_cast<const wchar_t *>(nullptr)));
    EXPECT_EQ(0, wide.Compare(CKT_WideString()));
    EXPECT_EQ(0, wide.CompareNoCase(L""));
    CKT_WideString noBlock;
    EXPECT_EQ(nullptr, noBlock.GetBuffer(0));
    EXPECT_EQ(nullptr, noBlock.GetPtr());
    EXPECT_EQ(nullptr, noBlock.LockBuffer());
}

TEST(StringBuffer, GetBufferReleaseBufferAndReserve)
{
    CKT_ByteString s;
    char *p = s.GetBuffer(8);
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(0, s.GetLength());
    EXPECT_EQ(8, BlockOf(s)->m_nAllocLength);
    strcpy(p, "abc");
    s.ReleaseBuffer();
    EXPECT_EQ("abc", Text(s));
    EXPECT_EQ(8, BlockOf(s)->m_nAllocLength);
    s += "defgh"; // fits the spare capacity: appended in place
    EXPECT_EQ(p, s.GetCStr());
    EXPECT_EQ("abcdefgh", Text(s));

    CKT_ByteString shared(s);
    char *q = s.GetBuffer(2); // shared: new block of max(2, length)
    EXPECT_NE(p, q);
    EXPECT_EQ(8, BlockOf(s)->m_nAllocLength);
    EXPECT_EQ("abcdefgh", Text(s));
    s.ReleaseBuffer(3);
    EXPECT_EQ("abc", Text(s));
    EXPECT_EQ("abcdefgh", Text(shared));

    CKT_ByteString reserved("xy");
    reserved.Reserve(40);
    EXPECT_EQ(40, BlockOf(reserved)->m_nAllocLength);
    EXPECT_EQ("xy", Text(reserved));
    CKT_ByteString emptyReserved;
    emptyReserved.Reserve(40);
    EXPECT_EQ(nullptr, emptyReserved.GetPtr());
}

TEST(StringExtract, MidLeftRightEdges)
{
    const CKT_ByteString s("abcdef");
    struct Row
    {
        const char *name;
        CKT_ByteString result;
        const char *expect;
        bool shares;
    } rows[] = {
        {"Mid(2, 100)", s.Mid(2, 100), "cdef", false},
        {"Mid(-3, 2)", s.Mid(-3, 2), "ab", false},
        {"Mid(0, 6) shares", s.Mid(0, 6), "abcdef", true},
        {"Mid(-1, 6) shares", s.Mid(-1, 6), "abcdef", true},
        {"Mid(6, 1)", s.Mid(6, 1), "", false},
        {"Mid(2, -1)", s.Mid(2, -1), "", false},
        {"Mid(4)", s.Mid(4), "ef", false},
        {"Mid(-2)", s.Mid(-2), "abcdef", true},
        {"Left(-1)", s.Left(-1), "", false},
        {"Left(0)", s.Left(0), "", false},
        {"Left(3)", s.Left(3), "abc", false},
        {"Left(6) shares", s.Left(6), "abcdef", true},
        {"Right(10) shares", s.Right(10), "abcdef", true},
        {"Right(2)", s.Right(2), "ef", false},
        {"Right(-5)", s.Right(-5), "", false},
        {"Mid of empty", CKT_ByteString().Mid(0, 3), "", false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.expect, Text(row.result));
        EXPECT_EQ(row.shares, row.result.GetPtr() == s.GetPtr());
        if (!*row.expect) {
            EXPECT_EQ(nullptr, row.result.GetPtr());
        }
    }
    const CKT_WideString w(L"abcdef");
    EXPECT_EQ(L"cdef", Text(w.Mid(2, 100)));
    EXPECT_EQ(L"ab", Text(w.Mid(-3, 2)));
    EXPECT_EQ(w.GetPtr(), w.Mid(0, 6).GetPtr());
    EXPECT_EQ(L"", Text(w.Left(-1)));
    EXPECT_EQ(w.GetPtr(), w.Right(10).GetPtr());
    EXPECT_EQ(L"def", Text(w.Right(3)));
}

TEST(StringSearch, FindRows)
{
    const CKT_ByteString s("abcabc");
    struct Row
    {
        const char *name;
        int result;
        int expect;
    } rows[] = {
        {"char from start", s.Find('b'), 1},
        {"char from 2", s.Find('b', 2), 4},
        {"char absent", s.Find('z'), -1},
        {"char start at length", s.Find('a', 6), -1},
        {"char negative start", s.Find('a', -1), -1},
        {"char on empty", CKT_ByteString().Find('a'), -1},
        {"view", s.Find("ca"), 2},
        {"view from 3", s.Find("abc", 3), 3},
        {"view from length", s.Find("a", 6), -1},
        {"view past length", s.Find("a", 7), -1},
        {"empty view is never found", s.Find(""), -1},
        {"view longer than text", s.Find("abcabcd"), -1},
        {"ReverseFind", s.ReverseFind('a'), 3},
        {"ReverseFind absent", s.ReverseFind('q'), -1},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.expect, row.result);
    }
    // Zero bytes are ordinary characters for the view search.
    const CKT_ByteString binary("a\0b\0c", 5);
    EXPECT_EQ(3, binary.Find(CKT_ByteStringC("\0c", 2)));

    const CKT_WideString w(L"abcabc");
    struct WideRow
    {
        const char *name;
        int result;
        int expect;
    } wrows[] = {
        {"char", w.Find(L'c'), 2},
        {"char from 3", w.Find(L'c', 3), 5},
        {"pattern", w.Find(L"bc"), 1},
        {"pattern from 2", w.Find(L"bc", 2), 4},
        {"empty pattern found at start", w.Find(L"", 4), 4},
        {"empty pattern at length", w.Find(L"", 6), 6},
        {"start past length", w.Find(L"a", 7), -1},
        {"empty string", CKT_WideString().Find(L""), -1},
    };
    for (const WideRow &row : wrows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.expect, row.result);
    }
}

TEST(StringEdit, ByteReplaceRows)
{
    struct Row
    {
        const char *text;
        const char *from;
        const char *to;
        int expectCount;
        const char *expect;
        bool expectBlock;
    } rows[] = {
        {"aaa", "a", "", 3, "", false},    {"aaaa", "aa", "b", 2, "bb", true},
        {"aaa", "aa", "b", 1, "ba", true}, {"hello world", "o", "0", 2, "hell0 w0rld", true},
        {"abc", "x", "y", 0, "abc", true}, {"abc", "", "y", 0, "abc", true},
        {"", "a", "b", 0, "", false},      {"a.b.c", ".", "::", 2, "a::b::c", true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.text) + " / " + row.from + " -> " + row.to);
        CKT_ByteString s(row.text);
        EXPECT_EQ(row.expectCount, s.Replace(row.from, row.to));
        EXPECT_EQ(row.expect, Text(s));
        EXPECT_EQ(row.expectBlock, s.GetPtr() != nullptr);
        if (s.GetPtr()) {
            EXPECT_EQ(s.GetLength(), BlockOf(s)->m_nAllocLength);
        }
    }
}

TEST(StringEdit, WideReplaceRows)
{
    struct Row
    {
        const wchar_t *text;
        const wchar_t *from;
        const wchar_t *to;
        int expectCount;
        const wchar_t *expect;
        int expectCapacity; // -1: no block
    } rows[] = {
        {L"aaa", L"a", L"", 3, L"", 3},     // in place: block kept at length 0
        {L"aaa", L"a", nullptr, 3, L"", 3}, // null new text removes
        {L"abab", L"b", L"xyz", 2, L"axyzaxyz", 8},
        {L"abcabc", L"bc", L"d", 2, L"adad", 6},
        {L"abc", L"q", L"r", 0, L"abc", 3},
        {L"abc", nullptr, L"r", 0, L"abc", 3},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.expectCount);
        CKT_WideString s(row.text);
        EXPECT_EQ(row.expectCount, s.Replace(row.from, row.to));
        EXPECT_EQ(row.expect, Text(s));
        ASSERT_EQ(row.expectCapacity >= 0, s.GetPtr() != nullptr);
        if (s.GetPtr()) {
            EXPECT_EQ(row.expectCapacity, BlockOf(s)->m_nAllocLength);
        }
    }
    // A shared string gets a block of exactly the new length, and the sharer keeps its text.
    struct SharedRow
    {
        const wchar_t *from;
        const wchar_t *to;
        const wchar_t *expect;
    } shared[] = {
        {L"x", L"yy", L"yy-yy"},
        {L"x-", L"", L"x"},
    };
    for (const SharedRow &row : shared) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.expect)));
        CKT_WideString original(L"x-x");
        CKT_WideString copy(original);
        EXPECT_EQ(1, copy.Replace(row.from, row.to) > 0);
        EXPECT_EQ(row.expect, Text(copy));
        EXPECT_EQ(copy.GetLength(), BlockOf(copy)->m_nAllocLength);
        EXPECT_EQ(L"x-x", Text(original));
        EXPECT_EQ(1, BlockOf(original)->m_nRefCount);
    }
}

TEST(StringEdit, InsertDeleteRemoveRows)
{
    struct InsertRow
    {
        const char *text;
        int index;
        int expectLength;
        const char *expect;
    } inserts[] = {
        {"abc", 1, 4, "a*bc"},  {"abc", 0, 4, "*abc"},  {"abc", 3, 4, "abc*"},
        {"abc", 99, 4, "abc*"}, {"abc", -5, 4, "*abc"}, {"", 0, 1, "*"},
    };
    for (const InsertRow &row : inserts) {
        SCOPED_TRACE(std::string(row.text) + " @" + std::to_string(row.index));
        CKT_ByteString s(row.text);
        EXPECT_EQ(row.expectLength, s.Insert(row.index, '*'));
        EXPECT_EQ(row.expect, Text(s));
        EXPECT_EQ(s.GetLength(), BlockOf(s)->m_nAllocLength);
        CKT_WideString w(std::wstring(row.text, row.text + strlen(row.text)).c_str());
        EXPECT_EQ(row.expectLength, w.Insert(row.index, L'*'));
        EXPECT_EQ(std::wstring(row.expect, row.expect + strlen(row.expect)), Text(w));
    }

    struct DeleteRow
    {
        const char *text;
        int index;
        int count;
        int expectLength;
        const char *expect;
    } deletes[] = {
        {"abcdef", 1, 2, 4, "adef"},
        {"abcdef", 4, 10, 4, "abcd"},
        {"abcdef", -2, 1, 5, "bcdef"},
        {"abcdef", 6, 1, 6, "abcdef"},
        {"abcdef", 2, 0, 6, "abcdef"},
        {"abcdef", 2, -3, 6, "abcdef"},
        {"", 0, 1, 0, ""},
    };
    for (const DeleteRow &row : deletes) {
        SCOPED_TRACE(std::string(row.text) + " @" + std::to_string(row.index) + " #" +
                     std::to_string(row.count));
        CKT_ByteString s(row.text);
        EXPECT_EQ(row.expectLength, s.Delete(row.index, row.count));
        EXPECT_EQ(row.expect, Text(s));
    }

    CKT_ByteString s("a,b,,c,");
    EXPECT_EQ(4, s.Remove(','));
    EXPECT_EQ("abc", Text(s));
    EXPECT_EQ(0, s.Remove('z'));
    CKT_WideString w(L"a b c");
    EXPECT_EQ(2, w.Remove(L' '));
    EXPECT_EQ(L"abc", Text(w));
}

TEST(StringEdit, TrimRows)
{
    struct Row
    {
        const char *name;
        const char *text;
        std::function<void(CKT_ByteString &)> trim;
        const char *expect;
    } rows[] = {
        {"white space right", " \t x \r\n\v\f", [](CKT_ByteString &s) { s.TrimRight(); }, " \t x"},
        {"white space left", " \t\n x ", [](CKT_ByteString &s) { s.TrimLeft(); }, "x "},
        {"one character right", "xx--", [](CKT_ByteString &s) { s.TrimRight('-'); }, "xx"},
        {"one character left", "--xx-", [](CKT_ByteString &s) { s.TrimLeft('-'); }, "xx-"},
        {"set right", "abc.,;", [](CKT_ByteString &s) { s.TrimRight(".;,"); }, "abc"},
        {"set left", ";;.abc", [](CKT_ByteString &s) { s.TrimLeft(".;"); }, "abc"},
        {"empty set changes nothing", "  a  ", [](CKT_ByteString &s) { s.TrimRight(""); }, "  a  "},
        {"nothing to strip", "abc", [](CKT_ByteString &s) { s.TrimLeft(); }, "abc"},
        {"zero byte in the set", CKT_ByteStringC("ab\0\0", 4).GetCStr(),
         [](CKT_ByteString &s) {
             s = CKT_ByteStringC("ab\0\0", 4);
             s.TrimRight(CKT_ByteStringC("\0", 1));
         },
         "ab"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        CKT_ByteString s(row.text);
        row.trim(s);
        EXPECT_EQ(row.expect, Text(s));
    }
    struct WideRow
    {
        const char *name;
        const wchar_t *text;
        std::function<void(CKT_WideString &)> trim;
        const wchar_t *expect;
    } wrows[] = {
        {"white space right", L"x \t\r\n", [](CKT_WideString &s) { s.TrimRight(); }, L"x"},
        {"white space left", L"\v\f x", [](CKT_WideString &s) { s.TrimLeft(); }, L"x"},
        {"set right", L"x\u00e9\u00e9", [](CKT_WideString &s) { s.TrimRight(L"\u00e9"); }, L"x"},
        {"character left", L"00x", [](CKT_WideString &s) { s.TrimLeft(L'0'); }, L"x"},
        {"empty set", L" x ", [](CKT_WideString &s) { s.TrimLeft(L""); }, L" x "},
    };
    for (const WideRow &row : wrows) {
        SCOPED_TRACE(row.name);
        CKT_WideString s(row.text);
        row.trim(s);
        EXPECT_EQ(row.expect, Text(s));
    }
}

TEST(StringEdit, CaseChangeIsAsciiOnlyAndStopsAtZero)
{
    CKT_ByteString s(CKT_ByteStringC("Ab\xc3\x89z\0Q", 7));
    s.MakeUpper();
    EXPECT_EQ(std::string("AB\xc3\x89Z\0Q", 7), Text(s));
    s.MakeLower();
    EXPECT_EQ(std::string("ab\xc3\x89z\0Q", 7), Text(s));
    CKT_WideString w(L"\u00c9Ab");
    w.MakeLower();
    EXPECT_EQ(L"\u00c9ab", Text(w));
    w.MakeUpper();
    EXPECT_EQ(L"\u00c9AB", Text(w));
}

int Sign(int v)
{
    return v < 0 ? -1 : (v > 0 ? 1 : 0);
}

TEST(StringCompare, ByteComparisons)
{
    struct Row
    {
        const char *a;
        const char *b;
        int compare;
        bool equal;
        bool equalNoCase;
    } rows[] = {
        {"abc", "abc", 0, true, true},
        {"abc", "abd", -1, false, false},
        {"abc", "ab", 1, false, false},
        {"ab", "abc", -1, false, false},
        {"ABC", "abc", -1, false, true},
        {"\xe9", "a", 1, false, false}, // bytes compare unsigned
        {"", "a", -1, false, false},
        {"a", "", 1, false, false},
        {"[", "{", -1, false, false}, // only letters fold
        {"\xc9", "\xe9", -1, false, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.a) + " vs " + row.b);
        CKT_ByteString a(row.a);
        EXPECT_EQ(row.compare, a.Compare(row.b));
        EXPECT_EQ(row.equal, a == row.b);
        EXPECT_EQ(row.equal, a == CKT_ByteString(row.b));
        EXPECT_EQ(!row.equal, a != row.b);
        EXPECT_EQ(row.equalNoCase, a.EqualNoCase(row.b));
    }
}

TEST(StringCompare, WideComparisons)
{
    struct Row
    {
        const wchar_t *a;
        const wchar_t *b;
        int compareString; // Compare(CKT_WideString)
        int compareNoCase; // sign of CompareNoCase
        bool equal;
    } rows[] = {
        {L"setup", L"SETUP", 1, 0, false},
        {L"setups", L"SETUP", 1, 1, false},
        {L"SETUP", L"setup", -1, 0, false},
        {L"abc", L"abc", 0, 0, true},
        {L"ab", L"abc", -1, -1, false},
        {L"", L"a", -1, -1, false},
        {L"a", L"", 1, 1, false},
        {L"\u00e9", L"\u00c9", 1, 1, false}, // no folding beyond ASCII
        {L"[", L"a", -1, -1, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.a)) + " vs " +
                     testing::PrintToString(std::wstring(row.b)));
        CKT_WideString a(row.a);
        EXPECT_EQ(row.compareString, a.Compare(CKT_WideString(row.b)));
        EXPECT_EQ(Sign(wcscmp(row.a, row.b)), Sign(a.Compare(row.b)));
        EXPECT_EQ(row.compareNoCase, Sign(a.CompareNoCase(row.b)));
        EXPECT_EQ(row.equal, a == row.b);
        EXPECT_EQ(row.equal, row.b == a);
        EXPECT_EQ(row.equal, a == CKT_WideStringC(row.b));
        EXPECT_EQ(row.equal, CKT_WideStringC(row.b) == a);
        EXPECT_EQ(!row.equal, a != CKT_WideString(row.b));
    }
    // Negative units order below positive ones in the signed comparison.
    const wchar_t negative[] = {static_cast<wchar_t>(-5), 0};
    EXPECT_EQ(-1, CKT_WideString(negative).Compare(CKT_WideString(L"a")));
    EXPECT_EQ(-1, CKT_WideString().Compare(L"x"));
}

TEST(StringConvert, NumbersFromWideText)
{
    struct Row
    {
        const wchar_t *text;
        int integer;
        float value;
    } rows[] = {
        {L"123", 123, 123.0f},
        {L"-42", -42, -42.0f},
        {L"+7", 0, 7.0f},    // GetInteger takes no '+'; GetFloat skips one sign
        {L" 5", 0, -155.0f}, // no white space skipping: ' ' is taken as digit -16
        {L"12abc", 12, 12.0f * 1000 + 49 * 100 + 50 * 10 + 51},
        {L"3.25", 3, 3.25f},
        {L"-0.5", 0, -0.5f},
        {L"1.x", 1, 1.0f + 72 * 0.1f},
        {L"", 0, 0.0f},
        {L"4294967297", 1, 1.0f}, // 32-bit arithmetic wraps in both
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.text)));
        CKT_WideString s(row.text);
        EXPECT_EQ(row.integer, s.GetInteger());
        EXPECT_NEAR(row.value, s.GetFloat(), 1e-4f);
    }
}

TEST(StringMisc, GetIDPacksHighFirst)
{
    CKT_ByteString s("ABCDEF");
    EXPECT_EQ(0x41424344u, s.GetID());
    EXPECT_EQ(0x45460000u, s.GetID(4));
    EXPECT_EQ(0x46000000u, s.GetID(5));
    EXPECT_EQ(0u, s.GetID(6));
    EXPECT_EQ(0u, CKT_ByteString().GetID());
}

TEST(StringMisc, LoadFromFileReadsBinaryContent)
{
    char path[] = "/tmp/ktcrt_loadXXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const char content[] = "line1\r\n\0binary\xff";
    ASSERT_EQ(static_cast<ssize_t>(sizeof(content) - 1), write(fd, content, sizeof(content) - 1));
    close(fd);
    CKT_ByteString loaded = CKT_ByteString::LoadFromFile(path);
    EXPECT_EQ(std::string(content, sizeof(content) - 1), Text(loaded));
    unlink(path);
    EXPECT_TRUE(CKT_ByteString::LoadFromFile(path).IsEmpty());
    EXPECT_TRUE(CKT_ByteString::LoadFromFile("/nonexistent/dir/file").IsEmpty());
}

TEST(StringMisc, ConcatenationOperators)
{
    CKT_ByteString a("ab");
    EXPECT_EQ("abcd", Text(a + "cd"));
    EXPECT_EQ("xab", Text("x" + CKT_ByteStringC(a)));
    EXPECT_EQ("ab!", Text(a + '!'));
    EXPECT_EQ("", Text(CKT_ByteString(CKT_ByteStringC(), CKT_ByteStringC())));
    EXPECT_EQ(nullptr, CKT_ByteString(CKT_ByteStringC(), CKT_ByteStringC()).GetPtr());
    a += a;
    EXPECT_EQ("abab", Text(a));
    CKT_WideString w(L"ab");
    EXPECT_EQ(L"abcd", Text(w + L"cd"));
    EXPECT_EQ(L"!ab", Text(L'!' + CKT_WideStringC(w)));
    w += w;
    EXPECT_EQ(L"abab", Text(w));
    CKT_WideString init;
    init.InitStr(L"abcdef", 3);
    EXPECT_EQ(L"abc", Text(init));
    CKT_ByteString loaded;
    loaded.Load(reinterpret_cast<const KT_BYTE *>("xyz"), 2);
    EXPECT_EQ("xy", Text(loaded));
    loaded.Load(reinterpret_cast<const KT_BYTE *>("xyz"), 0);
    EXPECT_EQ(nullptr, loaded.GetPtr());
}

// Allocator that counts live blocks, for the allocator-bound strings.
struct LiveAllocator
{
    _IKT_Allocator base;
    int live = 0;
    static LiveAllocator *Of(_IKT_Allocator *p) { return reinterpret_cast<LiveAllocator *>(p); }
    static void *Alloc(_IKT_Allocator *p, size_t size)
    {
        Of(p)->live++;
        return malloc(size);
    }
    static void *AllocDebug(_IKT_Allocator *p, size_t size, const char *, int)
    {
        return Alloc(p, size);
    }
    static void *Realloc(_IKT_Allocator *, void *b, size_t size) { return realloc(b, size); }
    static void *ReallocDebug(_IKT_Allocator *p, void *b, size_t size, const char *, int)
    {
        return Realloc(p, b, size);
    }
    static void Free(_IKT_Allocator *p, void *b)
    {
        Of(p)->live--;
        free(b);
    }
    LiveAllocator() : base{AllocDebug, Alloc, ReallocDebug, Realloc, Free} {}
};

TEST(StringL, AllocatorBoundStrings)
{
    LiveAllocator alloc;
    CKT_ByteStringL name;
    name.Set("prefix:name", &alloc.base);
    EXPECT_EQ(1, alloc.live);
    EXPECT_EQ(11, name.GetLength());
    EXPECT_EQ(0, name.GetCStr()[11]);
    name.Set(name.Mid(7), &alloc.base); // from its own characters
    EXPECT_TRUE(name == CKT_ByteStringC("name"));
    name.Set(CKT_ByteStringC(), &alloc.base);
    EXPECT_EQ(0, alloc.live);
    EXPECT_EQ(nullptr, name.GetPtr());
    char *p = name.AllocBuffer(3, &alloc.base);
    memcpy(p, "abc", 3);
    EXPECT_TRUE(name == CKT_ByteStringC("abc"));
    name.Empty(&alloc.base);
    EXPECT_EQ(0, alloc.live);

    CKT_WideStringL value;
    value.Set(L"12.5  \t", &alloc.base);
    value.TrimRight(L" \t");
    EXPECT_TRUE(value == CKT_WideStringC(L"12.5"));
    EXPECT_EQ(12, value.GetInteger());
    EXPECT_FLOAT_EQ(12.5f, value.GetFloat());
    value.Empty(&alloc.base);
    EXPECT_EQ(0, alloc.live);

    CKT_WideStringL defaultAlloc; // null allocator: the default manager
    defaultAlloc.Set(L"x", nullptr);
    EXPECT_EQ(1, defaultAlloc.GetLength());
    defaultAlloc.Empty(nullptr);
}

#ifndef NDEBUG
TEST(StringDeathTest, PreconditionsAssertWithTheConditionText)
{
    struct Row
    {
        const char *name;
        std::function<void()> call;
        const char *message;
    } rows[] = {
        {"ReleaseBuffer beyond the capacity",
         [] {
             CKT_ByteString s("abc");
             s.ReleaseBuffer(4);
         },
         "nNewLength <= m_pData->m_nAllocLength"},
        {"wide ReleaseBuffer beyond the capacity",
         [] {
             CKT_WideString s(L"abc");
             s.ReleaseBuffer(9);
         },
         "nNewLength <= m_pData->m_nAllocLength"},
        {"SetAt at the length",
         [] {
             CKT_ByteString s("abc");
             s.SetAt(3, 'x');
         },
         "nIndex < m_pData->m_nDataLength"},
        {"SetAt negative",
         [] {
             CKT_ByteString s("abc");
             s.SetAt(-1, 'x');
         },
         "nIndex >= 0"},
        {"wide TrimRight with a null set",
         [] {
             CKT_WideString s(L"abc");
             s.TrimRight(static_cast<const wchar_t *>(nullptr));
         },
         "lpszTargetList != __null"},
        {"wide TrimLeft with a null set",
         [] {
             CKT_WideString s(L"abc");
             s.TrimLeft(static_cast<const wchar_t *>(nullptr));
         },
         "lpszTargets != __null"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_DEATH(row.call(), row.message);
    }
}
#endif

} // namespace
