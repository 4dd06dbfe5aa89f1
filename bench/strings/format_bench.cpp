// Format's walk over long formats: the time per character should stay flat as the format
// grows (google benchmark fits the complexity). Literal text once made it quadratic.
#include "kt_basic.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

void BM_FormatLongLiteral(benchmark::State &state)
{
    std::string format(static_cast<size_t>(state.range(0)), 'x');
    format += "%d %s";
    for (auto _ : state) {
        CKT_ByteString s;
        s.Format(format.c_str(), 42, "end");
        benchmark::DoNotOptimize(s.GetPtr());
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_FormatLongLiteral)->RangeMultiplier(2)->Range(20000, 320000)->Complexity();

} // namespace

BENCHMARK_MAIN();
