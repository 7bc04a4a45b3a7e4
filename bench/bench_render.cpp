// Message body rendering: an ordinary body of about 2 KB of Japanese text
// with a few links, tags and quote lines, as a page view renders it for
// every message; and hostile bodies of about 6 MB (a million character
// references in an address, a long address, many attributes, links,
// quote lines and line feeds), whose cost must grow linearly with their
// length.
#include <benchmark/benchmark.h>

#include <string>

#include "rukbbsformmain.h"

namespace {

std::string Repeat(const std::string& s, size_t nBytes)
{
    std::string text;
    text.reserve(nBytes + s.size());
    while (text.size() < nBytes)
        text += s;
    return text;
}

// One paragraph of an ordinary message: a quote of the message replied
// to, plain Japanese lines, a typed link, an address to be linked and a
// coloured word; repeated to about 2 KB.
std::string OrdinaryBody()
{
    const std::string paragraph =
        "> \x8d\xa1\x93\xfa\x82\xcd\x8c\x66\x8e\xa6\x94\xc2\x82\xcc\x8f\x57\x82\xdc\x82\xe8"
        "\x82\xc9\x82\xc2\x82\xa2\x82\xc4\x82\xa8\x92\x6d\x82\xe7\x82\xb9\x82\xb5\x82\xdc"
        "\x82\xb7\x81\x42\n"  // 今日は掲示板の集まりについてお知らせします。
        "\x8a\x46\x82\xb3\x82\xdc\x82\xcc\x82\xb2\x8e\x51\x89\xc1\x82\xf0\x82\xa8\x91\xd2"
        "\x82\xbf\x82\xb5\x82\xc4\x82\xa8\x82\xe8\x82\xdc\x82\xb7\x81\x42\n"  // 皆さまのご参加をお待ちしております。
        "\x8f\xda\x82\xb5\x82\xad\x82\xcd"  // 詳しくは
        " http://example.jp/event/2026.html "
        "\x82\xf0\x82\xb2\x97\x97\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81\x42\n"  // をご覧ください。
        "<a href=\"https://example.jp/photo/\">"
        "\x91\x4f\x89\xf1\x82\xcc\x8e\xca\x90\x5e</a>"  // 前回の写真
        "<font color=\"red\">\x97\x5c\x92\xe8</font>\n"  // 予定
        "\n";
    return Repeat(paragraph, 2048);
}

// Renders the body once per iteration, from a fresh copy as a page view
// does.
void RenderLoop(benchmark::State& state, const std::string& text, bool bPre = false)
{
    CRukBBSFormMain bbs;
    CRukBBSData rec;
    for (auto _ : state) {
        CRukString body = text.c_str();
        if (bPre)
            bbs.ReplacePreFormat(body, rec);
        else
            bbs.ReplaceText2Html(body, rec);
        benchmark::DoNotOptimize(body.GetText());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BM_RenderOrdinary(benchmark::State& state)
{
    RenderLoop(state, OrdinaryBody());
}
BENCHMARK(BM_RenderOrdinary)->Unit(benchmark::kMicrosecond);

void BM_RenderOrdinaryPreformatted(benchmark::State& state)
{
    RenderLoop(state, OrdinaryBody(), true);
}
BENCHMARK(BM_RenderOrdinaryPreformatted)->Unit(benchmark::kMicrosecond);

// "<a href=\"" + "&#106;" x N + "\">x</a>": N references in one address.
void BM_RenderReferences(benchmark::State& state)
{
    const size_t n = static_cast<size_t>(state.range(0));
    RenderLoop(state, "<a href=\"" + Repeat("&#106;", 6 * n) + "\">x</a>");
}
BENCHMARK(BM_RenderReferences)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// Other hostile bodies of about 6 MB, one per argument.
void BM_RenderHostile(benchmark::State& state)
{
    static const struct {
        const char* pLabel;
        const char* pHead;
        const char* pUnit;
        const char* pTail;
        bool bPre;
    } s_cases[] = {
        {"long address", "<a href=\"", "a", "\">x</a>", false},
        {"many attributes", "<font ", "c=d ", ">x</font>", false},
        {"many links", "", "http://a.jp/x.zip ", "", false},
        {"many tags", "", "<a href=x>", "", false},
        {"many quote lines", "", ">x\n", "", false},
        {"many line feeds", "", "\n", "", false},
        {"preformatted quote lines", "", "<>\n>x", "", true},
    };
    const auto& c = s_cases[state.range(0)];
    state.SetLabel(c.pLabel);
    RenderLoop(state, c.pHead + Repeat(c.pUnit, 6000000) + c.pTail, c.bPre);
}
BENCHMARK(BM_RenderHostile)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);

}  // namespace
