// The cookie decoder and encoder.
#include <cstddef>
#include <cstdint>

#include "fuzzutil.h"
#include "rukcookie.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CRukCookie cookie;
    cookie.Decode(FuzzText(data, size).GetText());
    cookie.Encode(30, nullptr, nullptr);
    return 0;
}
