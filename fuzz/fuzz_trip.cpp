// Signed names and handles of posters (CRukTrip) from any bytes. A signed
// name holds "◆" at most once, at the start of a character, and only
// right before the ten characters of a code that end it; a handle has no
// blank (ASCII or ideographic) at either end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzzutil.h"
#include "rukpostfilter.h"
#include "ruktrip.h"

namespace {

const char s_szDiamond[] = "\x81\x9f";
const char s_szCodeChars[] =
    "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

void CheckSigned(const CRukString& name)
{
    const char* p = name.GetText();
    const char* pDiamond = nullptr;
    for (const char* q = p; *q; q += CRukPostFilter::CharLength(q)) {
        if (strncmp(q, s_szDiamond, 2) == 0) {
            if (pDiamond)
                abort();  // a second one
            pDiamond = q;
        }
    }
    if (pDiamond && (strlen(pDiamond + 2) != 10 || strspn(pDiamond + 2, s_szCodeChars) != 10))
        abort();
}

bool IsBlankAt(const char* p, int n)
{
    return (n == 1 && (*p == ' ' || *p == '\t')) || (n == 2 && strncmp(p, "\x81\x40", 2) == 0);
}

void CheckHandle(const CRukString& handle)
{
    const char* p = handle.GetText();
    if (!*p)
        return;
    const char* pLast = p;
    for (const char* q = p; *q; q += CRukPostFilter::CharLength(q))
        pLast = q;
    if (IsBlankAt(p, CRukPostFilter::CharLength(p)) ||
        IsBlankAt(pLast, CRukPostFilter::CharLength(pLast)))
        abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 4096)
        return 0;
    CRukString text = FuzzText(data, size);
    CheckSigned(CRukTrip::SignedName(text.GetText()));
    CheckHandle(CRukTrip::Handle(text.GetText()));
    return 0;
}
