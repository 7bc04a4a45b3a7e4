#include "rukview.h"

#include <cstring>
#include <strings.h>

#include "rukconfig.h"
#include "rukdir.h"
#include "rukform.h"
#include "rukglobal.h"
#include "rukhtml.h"
#include "rukstrary.h"
#include "rukstrpath.h"

// Pictures shown inline.
static const char* const s_rgPictureExt[] = {".jpeg", ".jpg", ".gif", ".png"};

static const char* const s_pHead =
    "<!DOCTYPE html>\n<html lang=\"ja\"><head><meta charset=\"Shift_JIS\">"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
    "<title>\x93\x59\x95\x74\x83\x74\x83\x40\x83\x43\x83\x8b</title>"  // 添付ファイル
    "<style>body{font-family:sans-serif;margin:8px;text-align:center}"
    "img{max-width:100%;height:auto}button{margin-top:8px;padding:4px 16px}</style>"
    "</head><body>\n";
static const char* const s_pClose =
    "<p><button type=\"button\" onclick=\"window.close()\">"
    "\x95\xc2\x82\xb6\x82\xe9</button></p>\n</body></html>\n";  // 閉じる

bool CRukView::IsAllowedUrl(const char* pUrl)
{
    if (!pUrl || !*pUrl || *pUrl == '/')
        return false;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(pUrl); *p; p++)
        if (*p <= 0x20 || *p >= 0x7F || strchr("\"'<>\\:?#%&`", *p))
            return false;
    CRukStrAry parts;
    parts.SetToken(pUrl, "/");
    for (int i = 0; i < parts.GetSize(); i++)
        if (parts[i].IsEmpty() || parts[i] == "." || parts[i] == "..")
            return false;
    // The file must lie below the data directory of a registered board.
    CRukStrAry boards;
    CRukDir::GetFileNameList(boards, "data", false, true);
    CRukString url(pUrl);
    for (int i = 0; i < boards.GetSize(); i++) {
        CRukStrPath name;
        name.Split(boards[i].GetText());
        if (name.GetExt() != ".conf")
            continue;
        CRukConfig conf(true);
        if (conf.ReadFile(("data/" + boards[i]).GetText(), true) <= 0)
            continue;
        CRukString datadir = conf.Value("datadir");
        if (datadir.IsEmpty() || datadir.GetText()[0] == '/')
            continue;
        CRukString prefix = CRukStrPath::Normalize(datadir.GetText()) + "/";
        if (prefix != "/" && url.Find(prefix.GetText()) == 0 &&
            url.GetLength() > prefix.GetLength())
            return true;
    }
    return false;
}

CRukString CRukView::ViewPage(const char* pUrl)
{
    CRukStrPath path;
    path.Split(pUrl);
    bool bPicture = false;
    for (const char* pExt : s_rgPictureExt)
        if (path.GetExt().Compare(pExt, 1) == 0)
            bPicture = true;
    CRukString page = s_pHead;
    if (bPicture)
        page += CRukString("<p><img src=\"") + pUrl + "\" alt=\"" + path.GetName() + "\"></p>\n";
    page += CRukString("<p><a href=\"") + pUrl + "\">" + path.GetName() + "</a></p>\n";
    page += s_pClose;
    return page;
}

CRukString CRukView::RefusePage()
{
    CRukString page = s_pHead;
    page += "<p>\x82\xb1\x82\xcc\x93\x59\x95\x74\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xcd\x95\x5c"
            "\x8e\xa6\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x81\x42</p>\n";  // この添付ファイルは表示できません。
    page += s_pClose;
    return page;
}

int main()
{
    CRukForm form;
    form.QueryString();
    CRukString url = form.Value("url");
    CRukHtml html;
    html.WriteHttpHeader("text/html; charset=Shift_JIS", "");
    bool bOk = !form.IsBodyRefused() && CRukView::IsAllowedUrl(url.GetText());
    if (html.WriteString(
            (bOk ? CRukView::ViewPage(url.GetText()) : CRukView::RefusePage()).GetText()) < 0)
        return 1;
    return bOk ? 0 : 1;
}
