// The kanji converter under both option texts the system uses.
#include <cstddef>
#include <cstdint>

#include "ruknkf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* p = reinterpret_cast<const char*>(data);
    nkf_main("-j", p, static_cast<int>(size));
    nkf_main("-jM", p, static_cast<int>(size));
    return 0;
}
