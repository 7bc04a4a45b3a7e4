// The body renderers, the link maker and the quote marking, on a reply
// and on a thread root. Besides the tags of the result, the cost is
// checked, since every page view renders a stored body again: the bytes
// allocated must stay a small multiple of input and output (a text grown
// a piece at a time by exact reallocation asks for the square of its
// length, which shows on inputs of a few kilobytes), and the CPU time
// within a generous linear budget (scripts/fuzz lets this target's inputs
// grow to 256 KB, and its seeds are attack shapes of 100 KB, where a
// quadratic scan shows).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <strings.h>
#include <unistd.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/allocator_interface.h>
#define RUK_FUZZ_MALLOC_HOOKS 1
#endif
#endif

#include "fuzzutil.h"
#include "rukbbsformmain.h"

// The tags a rendered body may hold: the allowed ones, and those the
// renderer writes itself.
static bool IsRenderedTag(const char* p)
{
    static const char* const s_rgTags[] = {"a", "/a", "font", "/font", "img", "/img",
                                           "span", "/span", "br", "pre", "/pre"};
    for (const char* pTag : s_rgTags) {
        size_t n = strlen(pTag);
        if (strncasecmp(p, pTag, n) == 0 && (p[n] == ' ' || p[n] == '>' || p[n] == '/' ||
                                             p[n] == '\t' || p[n] == '\n' || p[n] == '\r'))
            return true;
    }
    return false;
}

// Aborts when a tag other than the rendered ones appears.
static void CheckTags(const CRukString& html)
{
    for (const char* p = strchr(html.GetText(), '<'); p; p = strchr(p + 1, '<')) {
        if (!IsRenderedTag(p + 1))
            abort();
    }
}

// The bytes allocated while s_bCounting is set, told by the sanitizer's
// malloc hook (a reallocation is a new block there). Past s_nCap, far
// above any linear render, the hook stops the run at once: a quadratic
// step would otherwise churn through gigabytes before it ends.
static std::atomic<bool> s_bCounting{false};
static std::atomic<size_t> s_nAllocated{0};
static size_t s_nCap = 0;
static bool s_bHooked = false;

#ifdef RUK_FUZZ_MALLOC_HOOKS
static void OnMalloc(const volatile void*, size_t n)
{
    if (!s_bCounting.load(std::memory_order_relaxed))
        return;
    if (s_nAllocated.fetch_add(n, std::memory_order_relaxed) + n > s_nCap) {
        s_bCounting = false;
        static const char s_szMessage[] =
            "rendering allocated over 2048 times the input: a quadratic step\n";
        ssize_t nWritten = write(2, s_szMessage, sizeof(s_szMessage) - 1);
        (void)nWritten;
        abort();
    }
}

static void OnFree(const volatile void*) {}
#endif

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
#ifdef RUK_FUZZ_MALLOC_HOOKS
    s_bHooked = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree) != 0;
#endif
    if (!s_bHooked)
        fprintf(stderr, "fuzz_render: no malloc hook here, allocations are not checked\n");
    return 0;
}

// The CPU time this thread has used, in seconds, the kernel's included:
// other processes on a busy machine do not count, but the mapping of
// fresh memory does, which is where the sanitizer's allocator spends a
// quadratic step's time.
static double ThreadSeconds()
{
    struct timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Aborts when rendering nIn bytes into nOut bytes of results (all four
// together) allocated more than a small multiple of them: each renderer
// asks for at most five times its body and its result.
static void CheckAllocated(size_t nAllocated, size_t nIn, size_t nOut)
{
    size_t nBudget = 65536 + 16 * (4 * nIn + nOut);
    if (nAllocated > nBudget) {
        fprintf(stderr, "rendering %zu bytes into %zu allocated %zu bytes, over the budget of %zu\n",
                nIn, nOut, nAllocated, nBudget);
        abort();
    }
}

// Aborts when rendering nIn bytes took more CPU time than a fixed
// allowance plus a cost per byte. The cost per byte is six times that of
// the slowest linear shape in this build (sanitizers, no optimisation:
// about 0.7 us a byte, for bodies of angle brackets or short quote lines,
// whose pages are many times their size).
static void CheckTime(double seconds, size_t nIn)
{
    double budget = 0.1 + 4e-6 * static_cast<double>(nIn);
    if (seconds > budget) {
        fprintf(stderr, "rendering %zu bytes took %.3f s, over the linear budget of %.3f s\n", nIn,
                seconds, budget);
        abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CRukBBSFormMain* pBbs = new CRukBBSFormMain;
    CRukBBSData rec;
    rec.pid = (size > 0 && data[0] & 1) ? "1" : "";
    CRukString text = FuzzText(data, size);
    CRukString html = text;
    CRukString pre = text;
    CRukString links = text;
    CRukString quoted = text;

    s_nAllocated = 0;
    s_nCap = 65536 + 2048 * size;
    s_bCounting = true;
    double start = ThreadSeconds();
    pBbs->ReplaceText2Html(html, rec);
    pBbs->ReplacePreFormat(pre, rec);
    pBbs->ReplaceUrlLink(links, "http");
    pBbs->ReplaceResQuot(quoted, rec);
    double seconds = ThreadSeconds() - start;
    s_bCounting = false;

    CheckTags(html);
    if (s_bHooked)
        CheckAllocated(s_nAllocated, size,
                       static_cast<size_t>(html.GetLength()) + pre.GetLength() +
                           links.GetLength() + quoted.GetLength());
    CheckTime(seconds, size);
    return 0;
}
