// The If-None-Match list and the HTTP-date of If-Modified-Since: the
// board reads both from every GET before it opens the message file.
#include <cstddef>
#include <cstdint>

#include "fuzzutil.h"
#include "rukhttpcache.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CRukString text = FuzzText(data, size);
    size_t nTags = 0;
    (void)CRukHttpCache::IfNoneMatch(text.GetText(), [&](const char* p, size_t n) {
        // Every tag handed over lies inside the field.
        if (p < text.GetText() || p + n > text.GetText() + text.GetLength())
            __builtin_trap();
        return ++nTags % 7 == 0;
    });
    time_t t = 0;
    if (CRukHttpCache::ParseHttpDate(text.GetText(), t) &&
        CRukHttpCache::HttpDate(t) != text.GetText())
        __builtin_trap();  // a date read back is written the same
    return 0;
}
