#include "rukview.h"

#include <cstring>
#include <strings.h>

#include "rukconfig.h"
#include "rukdir.h"
#include "rukform.h"
#include "rukglobal.h"
#include "rukhtml.h"
#include "ruksettingkeys.h"
#include "rukstrary.h"
#include "rukstrpath.h"

// Pictures shown inline.
static const char* const s_rgPictureExt[] = {".jpeg", ".jpg", ".gif", ".png"};

// The page around the viewer's content: a bar with the file's name and a
// close control that is reached first by Tab and has the focus at once,
// light and dark colours by the visitor's setting. The viewer opens in a
// tab of its own: the close control and Escape close it again; where the
// browser keeps it open (the viewer was opened in the board's own tab, as
// a phone may do) they go back to the board instead.
static const char* const s_pHeadOpen =
    "<!DOCTYPE html>\n<html lang=\"ja\"><head><meta charset=\"Shift_JIS\">"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
    "<meta name=\"color-scheme\" content=\"light dark\">"
    "<style>"
    "body{margin:0;font-family:sans-serif;line-height:1.6;background:#f4f6f8;color:#1d2733}"
    ".bar{display:flex;align-items:center;justify-content:space-between;gap:12px;"
    "padding:8px 12px;background:#fff;border-bottom:1px solid #ccd3db}"
    ".bar h1{margin:0;font-size:1rem;overflow-wrap:anywhere}"
    "main{padding:12px;text-align:center}"
    "img{max-width:100%;height:auto}"
    "a{color:#1f5fa8}"
    "button{font:inherit;padding:6px 20px;border:1px solid #1f5fa8;border-radius:6px;"
    "background:#1f5fa8;color:#fff;cursor:pointer;white-space:nowrap}"
    "a:focus-visible,button:focus-visible{outline:3px solid #c77c00;outline-offset:2px}"
    ".hint{font-size:.85em;color:#4d5865}"
    "@media (prefers-color-scheme:dark){body{background:#14181d;color:#e4e8ec}"
    ".bar{background:#1e242b;border-color:#3a434e}a{color:#93c2f5}"
    "button{background:#93c2f5;border-color:#93c2f5;color:#0f151c}.hint{color:#b4bcc6}"
    "a:focus-visible,button:focus-visible{outline-color:#ffc04d}}"
    "</style>";
static const char* const s_pClose =
    "<button type=\"button\" id=\"close\" autofocus>"
    "\x95\xc2\x82\xb6\x82\xe9</button></header>\n";  // 閉じる
static const char* const s_pTail =
    "<p class=\"hint\">\x45\x73\x63\x20\x83\x4c\x81\x5b\x82\xc5\x82\xe0\x95\xc2\x82\xb6\x82\xdc"
    "\x82\xb7</p>\n</main>\n"  // Esc キーでも閉じます
    "<script>(function(){"
    "function shut(){window.close();if(!window.closed&&history.length>1)history.back();}"
    "document.getElementById('close').addEventListener('click',shut);"
    "document.addEventListener('keydown',function(e){if(e.key==='Escape')shut();});"
    "})();</script>\n</body></html>\n";
static const char* const s_pAttachment =
    "\x93\x59\x95\x74\x83\x74\x83\x40\x83\x43\x83\x8b";  // 添付ファイル

// The page up to its content: the title, the bar with the heading and the
// close control, and the opening of the content.
static CRukString PageOpen(const CRukString& heading)
{
    return CRukString(s_pHeadOpen) + "<title>" + heading + " - " + s_pAttachment +
           "</title></head><body>\n<header class=\"bar\"><h1>" + heading + "</h1>" + s_pClose +
           "<main>\n";
}

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
        CRukString datadir = CRukSettingKeys::Text(conf, kBoardDataDir);
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
    // IsAllowedUrl let no character through that means anything in HTML.
    CRukStrPath path;
    path.Split(pUrl);
    bool bPicture = false;
    for (const char* pExt : s_rgPictureExt)
        if (path.GetExt().Compare(pExt, 1) == 0)
            bPicture = true;
    CRukString page = PageOpen(path.GetName());
    if (bPicture)
        page += CRukString("<p><img src=\"") + pUrl + "\" alt=\"" + path.GetName() + "\"></p>\n";
    page += CRukString("<p><a href=\"") + pUrl + "\">" + path.GetName() + "</a></p>\n";
    page += s_pTail;
    return page;
}

CRukString CRukView::RefusePage()
{
    CRukString page = PageOpen(s_pAttachment);
    page += "<p>\x82\xb1\x82\xcc\x93\x59\x95\x74\x83\x74\x83\x40\x83\x43\x83\x8b\x82\xcd\x95\x5c"
            "\x8e\xa6\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x81\x42</p>\n";  // この添付ファイルは表示できません。
    page += s_pTail;
    return page;
}

int main()
{
    CRukForm form;
    form.QueryString();
    CRukString url = form.Value("url");
    CRukHtml html;
    bool bOk = !form.IsBodyRefused() && CRukView::IsAllowedUrl(url.GetText());
    // A refused request is bad input; a refused URL names no attachment.
    if (!bOk) {
        CRukHtml::SetStatus(form.IsBodyRefused() ? "400 Bad Request" : "404 Not Found");
        CRukHtml::SetNoStore();
    }
    html.WriteHttpHeader("text/html; charset=Shift_JIS", "");
    if (html.WriteString(
            (bOk ? CRukView::ViewPage(url.GetText()) : CRukView::RefusePage()).GetText()) < 0)
        return 1;
    return bOk ? 0 : 1;
}
