// Benchmarks of the password codes: making a new code (what a post with a
// password or a changed board password costs) and checking one (what each
// login, delete or edit costs), against the 10-50 ms aimed at. Checking an
// old table code is shown for comparison: it is what a guess costs an
// attacker who holds a leaked settings file of the old kind.
#include <benchmark/benchmark.h>

#include "rukcrypt.h"

namespace {

void BM_CryptHash(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(CRukCrypt::Hash("correct horse battery"));
}
BENCHMARK(BM_CryptHash)->Unit(benchmark::kMillisecond);

void BM_CryptVerify(benchmark::State& state)
{
    const CRukString stored = CRukCrypt::Hash("correct horse battery");
    for (auto _ : state)
        benchmark::DoNotOptimize(CRukCrypt::Verify("correct horse battery", stored.GetText()));
}
BENCHMARK(BM_CryptVerify)->Unit(benchmark::kMillisecond);

void BM_CryptVerifyOldCode(benchmark::State& state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(CRukCrypt::Verify("Secret77", "*QpC1kc1bRR*"));
}
BENCHMARK(BM_CryptVerifyOldCode)->Unit(benchmark::kMicrosecond);

}  // namespace
