// Copying a base-library string shares its block: no allocation per copy. The counters report
// allocations per iteration, counted through the memory manager's debugger record; a
// std::string copy of the same text is measured beside it for scale.
#include "kt_basic.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

struct Counts
{
    long allocs = 0;
};
Counts g_counts;

void OnAlloc(_KTMEM_ZandroMgr *, void *, size_t, int)
{
    g_counts.allocs++;
}
void OnAllocDebug(_KTMEM_ZandroMgr *, void *, size_t, int, const char *, int)
{
    g_counts.allocs++;
}
void OnRealloc(_KTMEM_ZandroMgr *, void *, void *, size_t, int)
{
    g_counts.allocs++;
}
void OnReallocDebug(_KTMEM_ZandroMgr *, void *, void *, size_t, int, const char *, int)
{
    g_counts.allocs++;
}
void OnFree(_KTMEM_ZandroMgr *, void *, int) {}

_KTMEM_Debugger g_counter = {OnAlloc, OnAllocDebug, OnRealloc, OnReallocDebug,
                             OnFree,  nullptr,      nullptr};

const char kText[] = "A string long enough that no small-string buffer could hold it inline.";

void BM_ByteStringCopy(benchmark::State &state)
{
    CKT_ByteString source(kText);
    KTMEM_UseDebugger(KTMEM_GetDefaultMgr(), &g_counter);
    g_counts.allocs = 0;
    for (auto _ : state) {
        CKT_ByteString copy(source);
        benchmark::DoNotOptimize(copy.GetPtr());
    }
    KTMEM_UseDebugger(KTMEM_GetDefaultMgr(), nullptr);
    state.counters["allocs_per_copy"] = benchmark::Counter(static_cast<double>(g_counts.allocs),
                                                           benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ByteStringCopy);

void BM_WideStringPassByValue(benchmark::State &state)
{
    CKT_WideString source(L"wide text passed by value through a call chain");
    KTMEM_UseDebugger(KTMEM_GetDefaultMgr(), &g_counter);
    g_counts.allocs = 0;
    auto byValue = [](CKT_WideString s) { return s.GetLength(); };
    for (auto _ : state)
        benchmark::DoNotOptimize(byValue(source));
    KTMEM_UseDebugger(KTMEM_GetDefaultMgr(), nullptr);
    state.counters["allocs_per_copy"] = benchmark::Counter(static_cast<double>(g_counts.allocs),
                                                           benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_WideStringPassByValue);

// For contrast: the first edit of a copy detaches it, which is the one allocation a copy defers.
void BM_ByteStringCopyThenEdit(benchmark::State &state)
{
    CKT_ByteString source(kText);
    KTMEM_UseDebugger(KTMEM_GetDefaultMgr(), &g_counter);
    g_counts.allocs = 0;
    for (auto _ : state) {
        CKT_ByteString copy(source);
        copy.SetAt(0, 'a');
        benchmark::DoNotOptimize(copy.GetPtr());
    }
    KTMEM_UseDebugger(KTMEM_GetDefaultMgr(), nullptr);
    state.counters["allocs_per_copy"] = benchmark::Counter(static_cast<double>(g_counts.allocs),
                                                           benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_ByteStringCopyThenEdit);

void BM_StdStringCopy(benchmark::State &state)
{
    std::string source(kText);
    for (auto _ : state) {
        std::string copy(source);
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_StdStringCopy);

} // namespace

BENCHMARK_MAIN();
