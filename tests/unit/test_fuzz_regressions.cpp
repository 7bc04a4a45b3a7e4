// Inputs the fuzz targets found, kept so that their faults stay fixed.
#include <gtest/gtest.h>

#include <cstring>
#include <strings.h>

#include "rukbbsformmain.h"

namespace {

// Every tag of a rendered body is one the renderer may write.
bool OnlyRenderedTags(const CRukString& html)
{
    static const char* const s_rgTags[] = {"a ", "a>", "/a>", "font", "/font>", "img",
                                           "span ", "/span>", "br />"};
    for (const char* p = strchr(html.GetText(), '<'); p; p = strchr(p + 1, '<')) {
        bool bOk = false;
        for (const char* pTag : s_rgTags)
            if (strncasecmp(p + 1, pTag, strlen(pTag)) == 0)
                bOk = true;
        if (!bOk)
            return false;
    }
    return true;
}

TEST(FuzzRegressions, BodyRenderer)
{
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        // An address inside an address of another scheme: the http pass
        // linked the inner one, and the ftp pass took the link's "<a" for
        // part of its own address.
        {"ftp://d.jp/?u=http://e",
         "<a href=\"ftp://d.jp/?u=\" target=_blank>ftp://d.jp/?u=</a>"
         "<a href=\"http://e\" target=_blank>http://e</a>"},
        // Text after a dropped attribute ran into the tag name.
        {"<a href=\"http\xff\xff://x.jp/\"<a 7h<a hrefcolor=red>r</a>",
         "<a hrefcolor=\"red\">r</a>"},
        // An unquoted value holding a quote is quoted again, not split.
        {"<img src=a.gif\"onerror=alert(1)>", "<img src=\"a.gif&quot;onerror=alert(1)\">"},
    };
    CRukBBSFormMain bbs;
    CRukBBSData rec;
    rec.pid = "1";
    for (const Case& c : cases) {
        CRukString body(c.in);
        bbs.ReplaceText2Html(body, rec);
        EXPECT_STREQ(body.GetText(), c.out) << c.in;
        EXPECT_TRUE(OnlyRenderedTags(body)) << body.GetText();
    }
}

}  // namespace
