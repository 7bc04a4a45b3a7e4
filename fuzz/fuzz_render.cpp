// The body renderers, the link maker and the quote marking, on a reply
// and on a thread root.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <strings.h>

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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CRukBBSFormMain* pBbs = new CRukBBSFormMain;
    CRukBBSData rec;
    rec.pid = (size > 0 && data[0] & 1) ? "1" : "";
    CRukString text = FuzzText(data, size);

    CRukString html = text;
    pBbs->ReplaceText2Html(html, rec);
    CheckTags(html);
    CRukString pre = text;
    pBbs->ReplacePreFormat(pre, rec);
    CRukString links = text;
    pBbs->ReplaceUrlLink(links, "http");
    CRukString quoted = text;
    pBbs->ReplaceResQuot(quoted, rec);
    return 0;
}
