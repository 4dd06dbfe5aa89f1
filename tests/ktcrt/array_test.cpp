// Growable arrays: the growth rule, insertion and removal, and in-place objects.
#include "kt_basic.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(BasicArray, GrowthFollowsAnEighthBetweenFourAnd1024)
{
    struct Row
    {
        const char *name;
        int startSize; // size and maximum before the addition
        int expectMax;
    } rows[] = {
        {"first element allocates exactly one", 0, 1},
        {"small array grows by 4", 8, 12},
        {"size 100 grows by 12", 100, 112},
        {"size 8192 grows by the cap of 1024", 8192, 9216},
        {"size 20000 grows by the cap of 1024", 20000, 21024},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        CKT_ArrayTemplate<int> array;
        if (row.startSize) {
            ASSERT_TRUE(array.SetSize(row.startSize));
        }
        ASSERT_EQ(row.startSize, array.GetMaxSize());
        ASSERT_TRUE(array.Add(42));
        EXPECT_EQ(row.startSize + 1, array.GetSize());
        EXPECT_EQ(row.expectMax, array.GetMaxSize());
        EXPECT_EQ(42, array[row.startSize]);
    }
}

TEST(BasicArray, SetSizeRules)
{
    CKT_ArrayTemplate<int> array;
    ASSERT_TRUE(array.SetSize(3, 10));
    array[0] = 1;
    array[1] = 2;
    array[2] = 3;
    ASSERT_TRUE(array.SetSize(4)); // grow-by 10 kept: 3 -> max(4, 3 + 10)
    EXPECT_EQ(13, array.GetMaxSize());
    EXPECT_EQ(0, array[3]);
    ASSERT_TRUE(array.SetSize(1));
    ASSERT_TRUE(array.SetSize(3)); // elements coming back into use are zero again
    EXPECT_EQ(1, array[0]);
    EXPECT_EQ(0, array[1]);
    EXPECT_EQ(0, array[2]);
    EXPECT_EQ(13, array.GetMaxSize());

    EXPECT_FALSE(array.SetSize(-1));
    EXPECT_EQ(0, array.GetSize());
    EXPECT_EQ(0, array.GetMaxSize());
    EXPECT_EQ(nullptr, array.GetData());

    ASSERT_TRUE(array.SetSize(2));
    EXPECT_FALSE(array.SetSize(0x10000000 / 4 + 1)); // above the byte limit: emptied
    EXPECT_EQ(0, array.GetSize());
    EXPECT_TRUE(array.SetSize(0));
}

std::vector<int> Contents(const CKT_ArrayTemplate<int> &array)
{
    return std::vector<int>(array.GetData(), array.GetData() + array.GetSize());
}

TEST(BasicArray, InsertSpaceAtAndRemoveAt)
{
    struct Row
    {
        const char *name;
        int index;
        int count;
        bool expectPointer;
        std::vector<int> expect;
    } inserts[] = {
        {"in the middle the tail moves up", 1, 2, true, {1, 0, 0, 2, 3}},
        {"at the front", 0, 1, true, {0, 1, 2, 3}},
        {"at the end", 3, 1, true, {1, 2, 3, 0}},
        {"past the end fills with zeros", 5, 2, true, {1, 2, 3, 0, 0, 0, 0}},
        {"negative index", -1, 1, false, {1, 2, 3}},
        {"zero count", 1, 0, false, {1, 2, 3}},
        {"count beyond every limit keeps the array", 1, 0x7FFFFFFF, false, {1, 2, 3}},
    };
    for (const Row &row : inserts) {
        SCOPED_TRACE(row.name);
        CKT_ArrayTemplate<int> array;
        array.Add(1);
        array.Add(2);
        array.Add(3);
        KT_BYTE *p = array.InsertSpaceAt(row.index, row.count);
        EXPECT_EQ(row.expectPointer, p != nullptr);
        if (p) {
            EXPECT_EQ(static_cast<void *>(&array[row.index]), static_cast<void *>(p));
        }
        EXPECT_EQ(row.expect, Contents(array));
    }

    struct RemoveRow
    {
        const char *name;
        int index;
        int count;
        bool expectOk;
        std::vector<int> expect;
    } removes[] = {
        {"middle", 1, 1, true, {1, 3}},
        {"whole array", 0, 3, true, {}},
        {"range past the end", 1, 3, false, {1, 2, 3}},
        {"negative index", -1, 1, false, {1, 2, 3}},
        {"zero count", 0, 0, false, {1, 2, 3}},
    };
    for (const RemoveRow &row : removes) {
        SCOPED_TRACE(row.name);
        CKT_ArrayTemplate<int> array;
        array.Add(1);
        array.Add(2);
        array.Add(3);
        int maxBefore = array.GetMaxSize();
        EXPECT_EQ(row.expectOk, array.RemoveAt(row.index, row.count));
        EXPECT_EQ(row.expect, Contents(array));
        EXPECT_EQ(maxBefore, array.GetMaxSize()); // storage never shrinks on removal
    }
}

TEST(BasicArray, InsertAtAppendCopyAndDataPtr)
{
    CKT_ArrayTemplate<int> a, b;
    a.Add(1);
    a.Add(2);
    b.Add(7);
    b.Add(8);
    EXPECT_FALSE(a.InsertAt(0, static_cast<CKT_BasicArray *>(nullptr)));
    CKT_ArrayTemplate<int> empty;
    EXPECT_TRUE(a.InsertAt(1, &empty));
    ASSERT_TRUE(a.InsertAt(1, &b));
    EXPECT_EQ((std::vector<int>{1, 7, 8, 2}), Contents(a));
    ASSERT_TRUE(a.InsertAt(0, &a));
    EXPECT_EQ((std::vector<int>{1, 7, 8, 2, 1, 7, 8, 2}), Contents(a));
    ASSERT_TRUE(b.Append(b));
    EXPECT_EQ((std::vector<int>{7, 8, 7, 8}), Contents(b));
    ASSERT_TRUE(a.Copy(b));
    EXPECT_EQ(Contents(b), Contents(a));
    CKT_ArrayTemplate<short> shorts;
    EXPECT_FALSE(shorts.Append(a)); // unit sizes differ
    EXPECT_EQ(nullptr, a.GetDataPtr(4));
    EXPECT_EQ(nullptr, a.GetDataPtr(-1));
    EXPECT_EQ(&a[3], a.GetDataPtr(3));
    EXPECT_EQ(nullptr, empty.GetDataPtr(0));

    ASSERT_TRUE(a.InsertAt(1, 5, 3));
    EXPECT_EQ((std::vector<int>{7, 5, 5, 5, 8, 7, 8}), Contents(a));
    a.RemoveAll();
    EXPECT_EQ(0, a.GetMaxSize());
}

TEST(BasicArray, AddOfOwnElementSurvivesGrowth)
{
    CKT_ArrayTemplate<int> array;
    array.Add(5);
    for (int i = 0; i < 20; i++)
        ASSERT_TRUE(array.Add(array[0]));
    EXPECT_EQ(21, array.GetSize());
    EXPECT_EQ(5, array[20]);
}

TEST(BasicArray, OddUnitSizeBecomesFour)
{
    CKT_BasicArray array(-1);
    EXPECT_EQ(4, array.GetUnitSize());
    CKT_BasicArray big(0x10000001);
    EXPECT_EQ(4, big.GetUnitSize());
}

// Counts live instances so the test can see every object destroyed once. Owns a heap block, so
// a missed destructor also shows as a leak in sanitized runs; bytewise relocatable as the
// array requires.
struct Tracked
{
    static int live;
    char *text;
    Tracked() : text(new char[2]()) { live++; }
    Tracked(const Tracked &other) : text(new char[2]())
    {
        text[0] = other.text[0];
        live++;
    }
    Tracked &operator=(const Tracked &) = delete;
    ~Tracked()
    {
        delete[] text;
        live--;
    }
};
int Tracked::live = 0;

TEST(ObjectArray, ObjectsAreDestroyedOnRemovalAndDestruction)
{
    {
        CKT_ObjectArray<Tracked> array;
        for (int i = 0; i < 3; i++)
            array.Add()->text[0] = static_cast<char>('a' + i);
        EXPECT_EQ(3, Tracked::live);
        array.RemoveAt(1);
        EXPECT_EQ(2, Tracked::live);
        EXPECT_STREQ("c", array[1].text);
        array.Add(array[0]);
        EXPECT_STREQ("a", array[2].text);
        array.RemoveAll();
        EXPECT_EQ(0, Tracked::live);
        EXPECT_EQ(0, array.GetSize());
        array.Add();
    }
    EXPECT_EQ(0, Tracked::live);
}

#ifndef NDEBUG
TEST(ObjectArrayDeathTest, IndexOutOfRangeAsserts)
{
    CKT_ObjectArray<Tracked> array;
    array.Add();
    EXPECT_DEATH(array[1], "index < m_nSize");
    EXPECT_DEATH(array.RemoveAt(3), "index < m_nSize");
    CKT_ArrayTemplate<int> ints;
    EXPECT_DEATH(ints[0], "nIndex < m_nSize");
}
#endif

} // namespace
