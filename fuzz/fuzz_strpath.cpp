// Path splitting: the parts always join back into a path of the text's
// own bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzzutil.h"
#include "rukstrpath.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CRukString text = FuzzText(data, size);
    CRukStrPath path;
    path.Split(text.GetText());
    path.Directory("/");
    path.FullPath("/");
    if (path.GetTitle().GetLength() + path.GetExt().GetLength() != path.GetName().GetLength())
        abort();
    CRukStrPath::Normalize(text.GetText());
    return 0;
}
