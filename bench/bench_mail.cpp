// Benchmarks of the mail sender on large messages: a notice's body is the
// visitor's text, so building the mail (folding, converting, encoding) must
// cost time linear in it, for ISO-2022-JP and for UTF-8 bodies, and for a
// long subject.
#include <benchmark/benchmark.h>

#include <string>

#include "rukmail.h"

namespace {

// 掲示板への書き込みは、いつでも歓迎します。
const char s_szSentence[] =
    "\x8c\x66\x8e\xa6\x94\xc2\x82\xd6\x82\xcc\x8f\x91\x82\xab\x8d\x9e\x82\xdd\x82\xcd\x81\x41"
    "\x82\xa2\x82\xc2\x82\xc5\x82\xe0\x8a\xbd\x8c\x7d\x82\xb5\x82\xdc\x82\xb7\x81\x42";

// About state.range(0) bytes of Japanese paragraphs of 500 characters, with
// "①" (outside JIS X 0208, so the body goes out as UTF-8) when bOutside.
std::string Text(size_t nBytes, bool bOutside)
{
    std::string text;
    while (text.size() < nBytes) {
        for (int i = 0; i < 24; i++)
            text += s_szSentence;
        text += bOutside ? "\x87\x40\n" : "\n";
    }
    return text;
}

void BuildBody(benchmark::State& state, bool bOutside)
{
    std::string text = Text(static_cast<size_t>(state.range(0)), bOutside);
    SRukMailHeader head;
    head.to = "owner@example.jp";
    head.from = "CGI@bbs.example.jp";
    head.subject = "notice";
    for (auto _ : state)
        benchmark::DoNotOptimize(CRukMail::Build(head, text.c_str()).size());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}

void BM_MailBodyJis(benchmark::State& state)
{
    BuildBody(state, false);
}
BENCHMARK(BM_MailBodyJis)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

void BM_MailBodyUtf8(benchmark::State& state)
{
    BuildBody(state, true);
}
BENCHMARK(BM_MailBodyUtf8)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

void BM_MailSubject(benchmark::State& state)
{
    std::string text = Text(static_cast<size_t>(state.range(0)), false);
    for (char& c : text)
        if (c == '\n')
            c = ' ';
    for (auto _ : state)
        benchmark::DoNotOptimize(CRukMail::EncodeHeader("Subject", text.c_str()).size());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_MailSubject)->Arg(4 << 10)->Arg(64 << 10)->Unit(benchmark::kMillisecond);

}  // namespace
