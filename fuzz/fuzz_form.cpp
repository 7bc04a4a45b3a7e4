// The form decoder: the first byte chooses URL-encoded, plain-text or
// multipart decoding of the rest.
#include <cstddef>
#include <cstdint>

#include "fuzzutil.h"
#include "rukbuffer.h"
#include "rukform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    CRukForm form;
    const uint8_t* body = data + 1;
    size_t n = size - 1;
    switch (data[0] % 3) {
    case 0:
        form.QueryUrlEncoded(FuzzText(body, n).GetText());
        break;
    case 1:
        form.QueryTextPlain(FuzzText(body, n).GetText());
        break;
    default:
        form.QueryMultipart(CRukBuffer(reinterpret_cast<const char*>(body), static_cast<unsigned>(n)));
        break;
    }
    for (int i = 0; i < form.GetSize(); i++)
        form.Value(i);
    return 0;
}
