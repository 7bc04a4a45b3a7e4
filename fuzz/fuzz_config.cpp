// The settings reader, plain and percent-encoded, and a write-read round
// trip of the encoded form.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "rukconfig.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* p = reinterpret_cast<const char*>(data);
    CRukConfig plain(false);
    plain.Parse(p, static_cast<unsigned>(size));
    CRukConfig encoded(true);
    encoded.Parse(p, static_cast<unsigned>(size));
    CRukString text = encoded.Serialize();
    CRukConfig again(true);
    again.Parse(text.GetText(), static_cast<unsigned>(text.GetLength()));
    // Every entry survives an encoded write and read.
    if (again.GetSize() != encoded.GetSize())
        abort();
    for (int i = 0; i < encoded.GetSize(); i++)
        if (again.Value(encoded[i].m_strTag.GetText()) != encoded[i].m_data)
            abort();
    return 0;
}
