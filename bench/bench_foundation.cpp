// Benchmarks of the foundation library on large inputs: filling a string
// array one element at a time, building a text by appending small pieces,
// measuring a long text, and replacing a tag in a large page as the page
// assembly does (once per tag over the whole text).
#include <benchmark/benchmark.h>

#include <string>

#include "rukstrary.h"
#include "rukstring.h"

namespace {

// Adds state.range(0) short strings one by one; the cost must grow
// linearly with the count.
void BM_StrAryAdd(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    char sz[32];
    for (auto _ : state) {
        CRukStrAry ary;
        for (int i = 0; i < n; i++) {
            snprintf(sz, sizeof(sz), "message %d", i);
            ary.Add(sz);
        }
        benchmark::DoNotOptimize(ary.GetSize());
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_StrAryAdd)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Appends state.range(0) pieces of 8 bytes with +=, as code that builds a
// page piece by piece does; the cost must grow linearly with the count.
void BM_StringAppend(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    for (auto _ : state) {
        CRukString text;
        for (int i = 0; i < n; i++)
            text += "<td>a</>";
        benchmark::DoNotOptimize(text.GetText());
        if (text.GetLength() != 8 * n)
            state.SkipWithError("wrong length");
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_StringAppend)->Arg(10000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// Asks a text of state.range(0) bytes for its length; the cost must not
// depend on the length.
void BM_StringGetLength(benchmark::State& state)
{
    const std::string text(static_cast<size_t>(state.range(0)), 'x');
    const CRukString str(text.c_str());
    for (auto _ : state) {
        benchmark::DoNotOptimize(&str);
        benchmark::DoNotOptimize(str.GetLength());
    }
}
BENCHMARK(BM_StringGetLength)->Arg(16)->Arg(1024 * 1024)->Unit(benchmark::kNanosecond);

// A page of about nBytes with 1000 occurrences of the tag spread evenly.
std::string MakePage(size_t nBytes)
{
    const std::string tag = "%MSG_TITLE%";
    const size_t nTags = 1000;
    const size_t nGap = nBytes / nTags - tag.size();
    std::string filler;
    while (filler.size() < nGap)
        filler += "<td class=\"msg\">\x82\xa0 text</td>\n";  // あ
    filler.resize(nGap);
    std::string page;
    page.reserve(nBytes);
    for (size_t i = 0; i < nTags; i++)
        page += filler + tag;
    return page;
}

// Replaces the tag by itself, so the page stays the same between rounds
// while every call still rebuilds the whole text; range(1) chooses the
// first occurrence (0) or all of them (1).
void BM_Replace(benchmark::State& state)
{
    const std::string text = MakePage(static_cast<size_t>(state.range(0)));
    const bool bAll = state.range(1) != 0;
    CRukString page(text.c_str());
    int nCount = 0;
    for (auto _ : state) {
        nCount = page.Replace("%MSG_TITLE%", "%MSG_TITLE%", bAll);
        benchmark::DoNotOptimize(page.GetText());
    }
    if (nCount != (bAll ? 1000 : 1))
        state.SkipWithError("wrong replacement count");
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_Replace)
    ->Args({100 * 1024, 0})
    ->Args({100 * 1024, 1})
    ->Args({1024 * 1024, 0})
    ->Args({1024 * 1024, 1})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
