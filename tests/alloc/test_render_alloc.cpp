// Message body rendering allocates memory in proportion to the body and
// the page, whatever the body's shape: the deterministic guard against a
// quadratic step (a text grown a byte at a time).
#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "rukbbsformmain.h"

// The bytes asked of malloc and realloc while s_bCountAllocations is set.
// This program replaces malloc and realloc for itself alone, which is why
// it is a program of its own and not part of the unit tests.
// A text grown a byte at a time by an exact reallocation asks for the
// square of its length, so this total tells a quadratic step from a linear
// one without a clock. The program's own malloc and realloc forward to
// glibc's; under AddressSanitizer, which owns the allocator, nothing is
// counted and the test that needs it is skipped.
#ifndef RUK_SANITIZED
static bool s_bCountAllocations = false;
static size_t s_nAllocatedBytes = 0;

extern "C" void* __libc_malloc(size_t n);
extern "C" void* __libc_realloc(void* p, size_t n);

extern "C" void* malloc(size_t n) noexcept
{
    if (s_bCountAllocations)
        s_nAllocatedBytes += n;
    return __libc_malloc(n);
}

extern "C" void* realloc(void* p, size_t n) noexcept
{
    if (s_bCountAllocations)
        s_nAllocatedBytes += n;
    return __libc_realloc(p, n);
}
#endif

namespace {

// Rendering allocates a small multiple of the body and the page it makes,
// whatever the body's shape: no step grows a text a byte or a piece at a
// time by exact reallocation (character references in an address, a long
// address, many attributes, many links, quote lines or line feeds). Each
// body is about 60 KB: the linear steps ask for 1 to 5 times body and
// page together, a quadratic one for hundreds of times.
TEST(RenderAllocations, StayLinear)
{
#ifdef RUK_SANITIZED
    GTEST_SKIP() << "the sanitizer owns malloc here: allocations cannot be counted";
#else
    auto repeat = [](const std::string& s, size_t nBytes) {
        std::string text;
        while (text.size() < nBytes)
            text += s;
        return text;
    };
    const size_t n = 60000;
    const struct {
        const char* pLabel;
        std::string body;
        bool bPre;
    } cases[] = {
        {"references in an address", "<a href=\"" + repeat("&#106;", n) + "\">x</a>", false},
        {"hexadecimal and named references", "<a href=\"" + repeat("&#x6A;&colon;", n) + "\">",
         false},
        {"ampersands that are no references", "<img src='" + repeat("&x", n) + "'>", false},
        {"long address", "<a href=\"" + repeat("a", n) + "\">x</a>", false},
        {"blanks in an address", "<a href=\"" + repeat(" \t", n) + "\">x</a>", false},
        {"many attributes", "<font " + repeat("c=d ", n) + ">x</font>", false},
        {"many bare attributes", "<a " + repeat("b ", n) + ">x</a>", false},
        {"many dropped attributes", "<a " + repeat("onx=1 ", n) + ">x</a>", false},
        {"quotes in a value", "<font face='" + repeat("\"", n) + "'>", false},
        {"many tags", repeat("<a href=x><img src=y></a>", n), false},
        {"many links", repeat("http://a.jp/x.zip https://b.jp/ ftp://c.jp/ ", n), false},
        {"links in tags", repeat("<a href=\"http://a.jp/\">http://a.jp/</a>", n), false},
        {"many quote lines", repeat(">x\n", n), false},
        {"many line feeds", repeat("\n", n), false},
        {"markers", repeat("\x18\x19<a\x18>", n), false},
        {"preformatted quote lines", repeat("<>\n>x", n), true},
    };
    CRukBBSFormMain bbs;
    bbs.m_strSkinUrl = "/s/";
    for (const auto& c : cases) {
        CRukBBSData rec;
        CRukString body = c.body.c_str();
        s_nAllocatedBytes = 0;
        s_bCountAllocations = true;
        if (c.bPre)
            bbs.ReplacePreFormat(body, rec);
        else
            bbs.ReplaceText2Html(body, rec);
        s_bCountAllocations = false;
        EXPECT_LT(s_nAllocatedBytes, 16 * (c.body.size() + body.GetLength())) << c.pLabel;
    }
#endif
}

}  // namespace
