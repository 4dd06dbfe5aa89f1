// Memory manager: checked entry points, out-of-memory reports, the debugger record, managers on
// their own system layer and the allocator routing of objects.
#include "kt_basic.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <functional>
#include <string>

namespace {

struct OOMCounter
{
    int calls = 0;
    _KTMEM_ZandroMgr *lastMgr = nullptr;
};

void CountOOM(_KTMEM_ZandroMgr *pMgr, void *param)
{
    OOMCounter *counter = static_cast<OOMCounter *>(param);
    counter->calls++;
    counter->lastMgr = pMgr;
}

// Installs a counting out-of-memory handler on the default manager for one test.
class DefaultMgrOOM : public ::testing::Test
{
protected:
    void SetUp() override { KTMEM_SetOOMHandler(KTMEM_GetDefaultMgr(), CountOOM, &counter); }
    void TearDown() override { KTMEM_SetOOMHandler(KTMEM_GetDefaultMgr(), nullptr, nullptr); }
    OOMCounter counter;
};

TEST_F(DefaultMgrOOM, Alloc2ZeroOverflowAndQuietRules)
{
    struct Row
    {
        const char *name;
        size_t size;
        size_t unit;
        int flags;
        bool expectBlock;
        int expectReports;
    } rows[] = {
        {"zero size is a quiet failure", 0, 1, 0, false, 0},
        {"zero unit is a quiet failure", 16, 0, 0, false, 0},
        {"product above 0x7FFFFFFF is reported", 0x40000000, 2, 0, false, 1},
        {"overflowing product is reported", SIZE_MAX / 2, 3, 0, false, 1},
        {"flag bit 0 silences the report", 0x40000000, 2, KTMEM_NONLEAVE, false, 0},
        {"ordinary request succeeds", 16, 4, 0, true, 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        counter.calls = 0;
        void *p = KTMEM_DefaultAlloc2(row.size, row.unit, row.flags);
        EXPECT_EQ(row.expectBlock, p != nullptr);
        EXPECT_EQ(row.expectReports, counter.calls);
        if (row.expectReports) {
            EXPECT_EQ(KTMEM_GetDefaultMgr(), counter.lastMgr);
        }
        KTMEM_DefaultFree(p, 0);
    }
}

TEST_F(DefaultMgrOOM, Realloc2OfNullAllocatesAndChecksSize)
{
    void *p = KTMEM_DefaultRealloc2(nullptr, 16, 1, 0);
    ASSERT_NE(nullptr, p);
    memset(p, 0xAB, 16);
    EXPECT_EQ(nullptr, KTMEM_DefaultRealloc2(p, 0x80000000u, 1, 0));
    EXPECT_EQ(1, counter.calls);
    void *q = KTMEM_DefaultRealloc2(p, 8, 4, 0);
    ASSERT_NE(nullptr, q);
    EXPECT_EQ(0xAB, static_cast<unsigned char *>(q)[15]);
    KTMEM_DefaultFree(q, 0);
}

// A system layer that fails on demand and counts what it does.
struct FailingLayer
{
    _KTMEM_SystemMgr layer;
    bool fail = false;
    int allocs = 0;
    int frees = 0;
    int collects = 0;
    int purges = 0;
};

FailingLayer *LayerOf(_KTMEM_SystemMgr *p)
{
    return static_cast<FailingLayer *>(p->user);
}

void *FLAlloc(_KTMEM_SystemMgr *p, size_t size, int)
{
    if (LayerOf(p)->fail)
        return nullptr;
    LayerOf(p)->allocs++;
    return malloc(size);
}

void *FLAllocDebug(_KTMEM_SystemMgr *p, size_t size, int flags, const char *, int)
{
    return FLAlloc(p, size, flags);
}

void *FLRealloc(_KTMEM_SystemMgr *p, void *block, size_t size, int)
{
    return LayerOf(p)->fail ? nullptr : realloc(block, size);
}

void *FLReallocDebug(_KTMEM_SystemMgr *p, void *block, size_t size, int flags, const char *, int)
{
    return FLRealloc(p, block, size, flags);
}

void FLFree(_KTMEM_SystemMgr *p, void *block, int)
{
    LayerOf(p)->frees++;
    free(block);
}

int FLPurge(_KTMEM_SystemMgr *p)
{
    return ++LayerOf(p)->purges;
}

int FLCollect(_KTMEM_SystemMgr *p)
{
    return ++LayerOf(p)->collects;
}

class OwnManager : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fl.layer = {FLAlloc, FLAllocDebug, FLRealloc, FLReallocDebug, nullptr,
                    nullptr, FLFree,       FLPurge,   FLCollect,      &fl};
        mgr = KTMEM_CreateZandroMgr(&fl.layer);
        ASSERT_NE(nullptr, mgr);
        KTMEM_SetOOMHandler(mgr, CountOOM, &counter);
    }
    void TearDown() override
    {
        if (mgr)
            KTMEM_DestroyZandroMgr(mgr);
    }
    FailingLayer fl;
    _KTMEM_ZandroMgr *mgr = nullptr;
    OOMCounter counter;
};

TEST_F(OwnManager, FailureReportsUnlessFlagBitZero)
{
    struct Row
    {
        const char *name;
        bool realloc;
        bool debug;
        int flags;
        int expectReports;
    } rows[] = {
        {"Alloc reports", false, false, 0, 1},
        {"AllocDebug reports", false, true, 0, 1},
        {"Realloc reports", true, false, 0, 1},
        {"ReallocDebug reports", true, true, 0, 1},
        {"Alloc with flag bit 0 is silent", false, false, KTMEM_NONLEAVE, 0},
        {"Realloc with flag bit 0 is silent", true, false, KTMEM_NONLEAVE | 2, 0},
    };
    void *block = KTMEM_Alloc(mgr, 8, 0);
    ASSERT_NE(nullptr, block);
    fl.fail = true;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        counter.calls = 0;
        void *p;
        if (row.realloc)
            p = row.debug ? KTMEM_ReallocDebug(mgr, block, 64, row.flags, __FILE__, __LINE__)
                          : KTMEM_Realloc(mgr, block, 64, row.flags);
        else
            p = row.debug ? KTMEM_AllocDebug(mgr, 64, row.flags, __FILE__, __LINE__)
                          : KTMEM_Alloc(mgr, 64, row.flags);
        EXPECT_EQ(nullptr, p);
        EXPECT_EQ(row.expectReports, counter.calls);
    }
    fl.fail = false;
    KTMEM_Free(mgr, block, 0);
}

TEST_F(OwnManager, AllocatorRecordRoutesToItsManager)
{
    _IKT_Allocator *pAllocator = &mgr->m_Allocator.m_Allocator;
    int before = fl.allocs;
    void *p = pAllocator->Alloc(pAllocator, 10);
    ASSERT_NE(nullptr, p);
    p = pAllocator->Realloc(pAllocator, p, 100);
    ASSERT_NE(nullptr, p);
    pAllocator->Free(pAllocator, p);
    EXPECT_EQ(before + 1, fl.allocs);
    EXPECT_EQ(1, fl.frees);
}

struct CountingCache
{
    _KTMEM_Cache cache;
    int purged = 0;
    int released = 0;
};

int CachePurge(_KTMEM_Cache *p)
{
    reinterpret_cast<CountingCache *>(p)->purged++;
    return 0;
}

void CacheRelease(_KTMEM_Cache *p)
{
    reinterpret_cast<CountingCache *>(p)->released++;
}

TEST_F(OwnManager, PurgeCollectAndDestroyReachCachesAndLayer)
{
    CountingCache a, b;
    a.cache = {CachePurge, CacheRelease, nullptr};
    b.cache = {CachePurge, CacheRelease, nullptr};
    ASSERT_TRUE(KTMEM_RegisterCache(mgr, &a.cache));
    ASSERT_TRUE(KTMEM_RegisterCache(mgr, &b.cache));
    EXPECT_EQ(1, KTMEM_PurgeMgr(mgr));
    EXPECT_EQ(1, a.purged);
    EXPECT_EQ(1, b.purged);
    KTMEM_UnregisterCache(mgr, &b.cache);
    EXPECT_EQ(1, KTMEM_CollectAll(mgr));
    mgr->m_pExtBlock = malloc(32); // released with free() by the destroy call
    int freesBefore = fl.frees;
    KTMEM_DestroyZandroMgr(mgr);
    mgr = nullptr;
    EXPECT_EQ(1, a.released);
    EXPECT_EQ(0, b.released);
    EXPECT_EQ(2, fl.collects);
    EXPECT_EQ(freesBefore + 2, fl.frees); // the cache manager and the manager record
}

TEST(MemoryManager, CreateOnNullOrFailingLayerGivesNull)
{
    EXPECT_EQ(nullptr, KTMEM_CreateZandroMgr(nullptr));
    FailingLayer fl;
    fl.layer = {FLAlloc, FLAllocDebug, FLRealloc, FLReallocDebug, nullptr,
                nullptr, FLFree,       nullptr,   nullptr,        &fl};
    fl.fail = true;
    EXPECT_EQ(nullptr, KTMEM_CreateZandroMgr(&fl.layer));
}

TEST(MemoryManager, DefaultManagerIsStaticOnCrtLayer)
{
    EXPECT_EQ(&g_DefZandroMgr, KTMEM_GetDefaultMgr());
    EXPECT_EQ(&g_CRTSystemMgr, g_DefZandroMgr.m_pSystemMgr);
    EXPECT_EQ(0, g_DefZandroMgr.m_bOwned);
    EXPECT_EQ(nullptr, g_CRTSystemMgr.Lock);
    EXPECT_EQ(nullptr, g_CRTSystemMgr.Purge);
    EXPECT_EQ(0, KTMEM_PurgeMgr(&g_DefZandroMgr));
    EXPECT_EQ(&g_DefZandroMgr.m_Allocator.m_Allocator, KTMEM_GetDefAllocator());
}

// Records every request a manager sees, and the tags it is given.
struct Tracker
{
    _KTMEM_Debugger debugger;
    int allocs = 0;
    int reallocs = 0;
    int frees = 0;
    int failed = 0;
    void *lastOld = nullptr;
    const char *lastFile = nullptr;
    const char *lastTag = nullptr;
};

Tracker *TrackerOf(_KTMEM_ZandroMgr *pMgr)
{
    return static_cast<Tracker *>(pMgr->m_pDebugger->user);
}

void TOnAlloc(_KTMEM_ZandroMgr *m, void *p, size_t, int)
{
    TrackerOf(m)->allocs++;
    TrackerOf(m)->failed += p == nullptr;
}

void TOnAllocDebug(_KTMEM_ZandroMgr *m, void *p, size_t size, int flags, const char *file, int)
{
    TOnAlloc(m, p, size, flags);
    TrackerOf(m)->lastFile = file;
}

void TOnRealloc(_KTMEM_ZandroMgr *m, void *pOld, void *, size_t, int)
{
    TrackerOf(m)->reallocs++;
    TrackerOf(m)->lastOld = pOld;
}

void TOnReallocDebug(_KTMEM_ZandroMgr *m, void *pOld, void *p, size_t size, int flags,
                     const char *file, int)
{
    TOnRealloc(m, pOld, p, size, flags);
    TrackerOf(m)->lastFile = file;
}

void TOnFree(_KTMEM_ZandroMgr *m, void *, int)
{
    TrackerOf(m)->frees++;
}

void TOnTag(_KTMEM_ZandroMgr *m, const char *tag)
{
    TrackerOf(m)->lastTag = tag;
}

TEST(MemoryManager, DebuggerSeesEveryRequestAndObjectsUseTheDefaultManager)
{
    Tracker t;
    t.debugger = {TOnAlloc, TOnAllocDebug, TOnRealloc, TOnReallocDebug, TOnFree, TOnTag, &t};
    EXPECT_EQ(nullptr, KTMEM_UseDebugger(&g_DefZandroMgr, &t.debugger));

    struct Thing : CKT_Object
    {
        int value[4];
    };
    Thing *thing = new Thing;
    Thing *many = new Thing[3];
    void *p = KTMEM_DefaultAllocDebug(4, 0, "here.cpp", 7);
    void *q = KTMEM_DefaultReallocDebug(p, 40, 0, "there.cpp", 9);
    EXPECT_EQ(p, t.lastOld);
    EXPECT_STREQ("there.cpp", t.lastFile);
    KTMEM_DefaultFree(q, 0);
    KTMEM_DefaultFree(nullptr, 0); // null is not reported
    delete[] many;
    delete thing;
    KTMEM_OutputDebugTag(&g_DefZandroMgr, "checkpoint");

    EXPECT_EQ(&t.debugger, KTMEM_UseDebugger(&g_DefZandroMgr, nullptr));
    EXPECT_EQ(3, t.allocs);
    EXPECT_EQ(1, t.reallocs);
    EXPECT_EQ(3, t.frees);
    EXPECT_EQ(0, t.failed);
    EXPECT_STREQ("checkpoint", t.lastTag);
}

// An allocator that counts and tags its blocks, for the allocator-bound objects.
struct CountingAllocator
{
    _IKT_Allocator base;
    int allocs = 0;
    int frees = 0;
};

CountingAllocator *CountingOf(_IKT_Allocator *p)
{
    return reinterpret_cast<CountingAllocator *>(p);
}

void *CAAlloc(_IKT_Allocator *p, size_t size)
{
    CountingOf(p)->allocs++;
    return malloc(size);
}

void *CAAllocDebug(_IKT_Allocator *p, size_t size, const char *, int)
{
    return CAAlloc(p, size);
}

void *CARealloc(_IKT_Allocator *, void *block, size_t size)
{
    return realloc(block, size);
}

void *CAReallocDebug(_IKT_Allocator *p, void *block, size_t size, const char *, int)
{
    return CARealloc(p, block, size);
}

void CAFree(_IKT_Allocator *p, void *block)
{
    CountingOf(p)->frees++;
    free(block);
}

struct Node : CKT_AllocObject
{
    Node(_IKT_Allocator *pAllocator, int v) : CKT_AllocObject(pAllocator), value(v) {}
    int value;
};

TEST(MemoryManager, AllocObjectReturnsToItsOwnAllocator)
{
    CountingAllocator ca;
    ca.base = {CAAllocDebug, CAAlloc, CAReallocDebug, CARealloc, CAFree};
    Node *a = new (&ca.base) Node(&ca.base, 1);
    Node *b = new (&ca.base, __FILE__, __LINE__) Node(&ca.base, 2);
    Node *c = new (static_cast<_IKT_Allocator *>(nullptr)) Node(nullptr, 3);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(&ca.base, a->GetAllocator());
    EXPECT_EQ(nullptr, c->GetAllocator());
    EXPECT_EQ(2, b->value);
    delete a;
    delete b;
    delete c;
    EXPECT_EQ(2, ca.allocs);
    EXPECT_EQ(2, ca.frees);

    void *raw = operator new(24, &ca.base);
    ASSERT_NE(nullptr, raw);
    KT_AllocatorFree(&ca.base, raw);
    EXPECT_EQ(3, ca.frees);
}

} // namespace

namespace {

// Makes a manager on a layer that fails every request the default one for a test, with a
// counting out-of-memory handler, so that every family's behaviour under exhaustion shows.
class ExhaustedMemory : public ::testing::Test
{
protected:
    void SetUp() override
    {
        layer.layer = {FLAlloc, FLAllocDebug, FLRealloc, FLReallocDebug, nullptr,
                       nullptr, FLFree,       nullptr,   nullptr,        &layer};
        mgr = KTMEM_CreateZandroMgr(&layer.layer);
        ASSERT_NE(nullptr, mgr);
        KTMEM_SetOOMHandler(mgr, CountOOM, &counter);
        previous = KTMEM_GetDefaultMgr();
    }
    void TearDown() override
    {
        KTMEM_SetDefaultMgr(previous);
        KTMEM_DestroyZandroMgr(mgr);
    }
    // Everything allocated from here on fails.
    void Exhaust()
    {
        KTMEM_SetDefaultMgr(mgr);
        layer.fail = true;
    }
    FailingLayer layer;
    _KTMEM_ZandroMgr *mgr = nullptr;
    _KTMEM_ZandroMgr *previous = nullptr;
    OOMCounter counter;
};

TEST_F(ExhaustedMemory, StringsStayWithoutBlockAndReportExhaustion)
{
    CKT_ByteString existing("kept");
    CKT_WideString wideExisting(L"kept");
    CKT_ByteString shared(existing);
    Exhaust();

    struct Row
    {
        const char *name;
        std::function<CKT_ByteString()> make;
    } rows[] = {
        {"constructor", [] { return CKT_ByteString("text"); }},
        {"GetBuffer",
         [] {
             CKT_ByteString s;
             EXPECT_EQ(nullptr, s.GetBuffer(10));
             return s;
         }},
        {"append to a full block",
         [&] {
             CKT_ByteString s(existing);
             s += "more";
             return s;
         }},
        {"Format",
         [] {
             CKT_ByteString s;
             s.Format("%d", 5);
             return s;
         }},
        {"FormatInteger", [] { return CKT_ByteString::FormatInteger(5); }},
        {"UTF8Encode", [] { return CKT_WideString(L"x").UTF8Encode(); }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        counter.calls = 0;
        CKT_ByteString result = row.make();
        EXPECT_EQ(nullptr, result.GetPtr());
        EXPECT_LE(1, counter.calls);
    }
    // Editing a shared string that cannot detach leaves the edited string empty, never the
    // sharer changed.
    shared.SetAt(0, 'K');
    EXPECT_EQ(nullptr, shared.GetPtr());
    EXPECT_STREQ("kept", existing.GetCStr());
    EXPECT_TRUE(CKT_WideString::FromUTF8("abc").IsEmpty());
    EXPECT_STREQ(L"kept", wideExisting.GetCStr());
}

TEST_F(ExhaustedMemory, ContainersFailWithoutLosingContent)
{
    CKT_ArrayTemplate<int> array;
    array.Add(1);
    CKT_BinaryBuf buf;
    buf.AppendByte('a');
    Exhaust();
    for (int i = 1; i < 100 && array.GetSize() < array.GetMaxSize(); i++)
        array.Add(i);
    EXPECT_FALSE(array.Add(7));
    EXPECT_EQ(nullptr, array.InsertSpaceAt(0, 1));
    EXPECT_EQ(1, array[0]);
    std::string big(4096, 'x');
    EXPECT_FALSE(buf.AppendBlock(big.data(), big.size()));
    EXPECT_EQ(1u, buf.GetSize());
    EXPECT_EQ('a', buf.GetBuffer()[0]);
    CKT_ArrayTemplate<int> fresh;
    EXPECT_FALSE(fresh.SetSize(3));
    EXPECT_EQ(0, fresh.GetSize());
}

} // namespace
