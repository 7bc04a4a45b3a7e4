// The form decoder as a request: the first line of the input is
// CONTENT_TYPE, the second the query string, the rest the body, so that
// the multipart path is reached with a boundary the body can match. Checks
// what every decoding must keep: a refused request leaves an empty form,
// an accepted one at most s_nMaxFields fields and no more file bytes than
// the body had.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzzutil.h"
#include "rukbuffer.h"
#include "rukform.h"

namespace {

// The next line of the input from *pPos (its LF, if any, skipped).
CRukString NextLine(const uint8_t* data, size_t size, size_t* pPos)
{
    const uint8_t* p = data + *pPos;
    size_t n = size - *pPos;
    const void* pLf = memchr(p, '\n', n);
    size_t nLine = pLf ? static_cast<size_t>(static_cast<const uint8_t*>(pLf) - p) : n;
    *pPos += nLine + (pLf ? 1 : 0);
    return FuzzText(p, nLine);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    size_t nPos = 0;
    CRukString type = NextLine(data, size, &nPos);
    CRukString query = NextLine(data, size, &nPos);
    CRukBuffer body(reinterpret_cast<const char*>(data + nPos), static_cast<unsigned>(size - nPos));
    CRukForm form;
    int n = form.DecodeRequest(type.GetText(), body, query.GetText());
    if (n != form.GetSize())
        abort();
    if (form.IsBodyRefused() && (form.GetSize() != 0 || form.GetUploadTotal() != 0))
        abort();
    if (form.GetSize() > CRukForm::s_nMaxFields ||
        form.GetUploadTotal() > static_cast<int>(body.GetSize()))
        abort();
    for (int i = 0; i < form.GetSize(); i++)
        form.Value(i);
    return 0;
}
