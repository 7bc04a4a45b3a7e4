// CRukBBSFormMain: the listing views. One message in full or as a title
// line, and a whole thread in full or as a tree of title lines, each
// written by filling the patterns cut from the board template.
#include "rukbbsformmain.h"

#include <cstdlib>
#include <cstring>

#include "rukbbsformmain_shared.h"
#include "rukglobal.h"
#include "rukstrpath.h"

// The extensions of pictures that may be shown inline.
static const char* const s_rgInlineExt[] = {".jpeg", ".jpg", ".gif", ".png"};

// The attachment block of a message pattern and the attachment tag of a
// title pattern, dropped for a message without attachments.
static const char s_szAttachOpen[] = "<!--ATTACH-->";
static const char s_szAttachClose[] = "<!--/ATTACH-->";
static const char s_szAttachLink[] = "%ATTACH_LINK%%";

// The words of the mail and home-page links of a message.
static const char* const s_pMailLabel = "\x83\x81\x81\x5b\x83\x8b";  // メール
static const char* const s_pHomeLabel = "\x83\x7a\x81\x5b\x83\x80";  // ホーム

// The home link is offered for web addresses only.
static bool IsWebAddress(const CRukString& home)
{
    return home.Find("http://") == 0 || home.Find("https://") == 0;
}

// The parts of an attachment link shared by the full and the title view.
struct AttachLinks {
    CRukString button;   // image of the attachment button
    CRukString dirPath;  // directory on disk
    CRukString dirUrl;   // its URL
};

static AttachLinks MakeAttachLinks(CRukBBSFormMain& bbs, const CRukString& part,
                                   const CRukBBSData& rec)
{
    AttachLinks links;
    links.button = bbs.m_strSkinUrl + part.GetToken("%ATTACH_LINK%%BUTTON=", "%");
    CRukString key = rec.attach.Value(0);
    links.dirPath = bbs.m_bbsFile.CreateAttachPath(bbs.m_strDataDir.GetText(), key.GetText());
    links.dirUrl = bbs.ServerPath2UrlPath((bbs.m_strDataDir + key).GetText(), 0);
    return links;
}

// True when the attachment is a picture a browser shows inline.
static bool IsPicture(const CRukString& name)
{
    CRukStrPath path;
    path.Split(name.GetText());
    for (const char* pExt : s_rgInlineExt)
        if (path.GetExt().Compare(pExt, 1) == 0)
            return true;
    return false;
}

// The control that opens the viewer (ruk-view.cgi) on one attachment: a
// real link, so that Tab reaches it and Enter opens it, in a tab of its
// own that the viewer closes again. The attachment button inside it says
// in words what it does.
static CRukString ViewerLink(const AttachLinks& links, const CRukString& name,
                             const CRukString& url)
{
    const char* pAction = IsPicture(name) ? "\x82\xf0\x8a\x67\x91\xe5\x95\x5c\x8e\xa6"  // を拡大表示
                                          : "\x82\xf0\x8a\x4a\x82\xad";  // を開く
    return CRukString("<a class=\"attachView\" href=\"ruk-view.cgi?url=") +
           EscapeField(url.CharToPerHexWithoutSlash()) + "\" target=\"_blank\"><img src=\"" +
           EscapeField(links.button) + "\" alt=\"" + EscapeField(name) + pAction + "\"></a>";
}

// The icon a message was posted with, when the board shows icons and the
// icon has a picture: its name is the picture's text.
static CRukString IconImage(CRukBBSFormMain& bbs, const CRukString& icon)
{
    CRukString url = bbs.m_cfBBS.Value(("ico_url" + icon).GetText());
    if (url.IsEmpty() || atoi(bbs.m_cfBBS.Value("use_icon").GetText()) == 0)
        return CRukString();
    return CRukString("<img class=\"icon\" src=\"") + EscapeField(url) + "\" alt=\"" +
           EscapeField(bbs.m_cfBBS.Value(("ico_name" + icon).GetText())) + "\">";
}

CRukString CRukBBSFormMain::CreateTable1(CRukCookie&, CRukForm&, const CRukString& pattern,
                                         const CRukBBSData& rec)
{
    bool bRoot = rec.pid.IsEmpty();
    CRukString mail;
    if (!rec.mail.IsEmpty())
        mail = CRukString("<a href=\"mailto:") + EscapeField(rec.mail) + "\"><span class=\"" +
               (bRoot ? "pMail" : "cMail") + "\">" + s_pMailLabel + "</span></a>";
    CRukString home;
    if (IsWebAddress(rec.home))
        home = CRukString("<a href=\"") + EscapeField(rec.home) +
               "\" target=_blank><span class=\"" + (bRoot ? "pHome" : "cHome") + "\">" +
               s_pHomeLabel + "</span></a>";
    CRukString body = rec.mess;
    if (atoi(rec.preform.GetText()) == 0)
        ReplaceText2Html(body, rec);
    else
        ReplacePreFormat(body, rec);
    static const STagSlot s_rgSlots[] = {
        {"%ICON_IMAGE%", false}, {"%NEW_IMAGE%", false}, {"%TITLE%", false},
        {"%NAME%", false},       {"%DATE%", false},      {"%MAIL%", false},
        {"%HOME%", false},       {"%ID%", true},         {"%PID%", false},
        {"%PPID%", false},       {"%PAGE%", true},       {"%STYLE%", true},
        {"%PASSWD%", true},      {"%MESSAGE%", false}};
    const CRukString values[] = {IconImage(*this, rec.icon),
                                 CreateNewImage(rec),
                                 EscapeField(rec.title),
                                 EscapeField(rec.name),
                                 EscapeField(rec.date),
                                 mail,
                                 home,
                                 EscapeField(rec.id),
                                 EscapeField(rec.pid),
                                 EscapeField(rec.ppid),
                                 Decimal(m_nPage),
                                 Decimal(m_nStyle),
                                 CRukString(),
                                 body};
    static_assert(sizeof(values) / sizeof(values[0]) == sizeof(s_rgSlots) / sizeof(s_rgSlots[0]),
                  "one value per tag");
    bool bNoAttach = rec.attach.GetSize() == 0;
    CRukString text =
        FillPattern(pattern, s_rgSlots, sizeof(s_rgSlots) / sizeof(s_rgSlots[0]), values,
                    bNoAttach ? s_szAttachOpen : nullptr, s_szAttachClose);
    if (bNoAttach)
        return text;
    CRukString part = text.GetToken(s_szAttachOpen, s_szAttachClose);
    AttachLinks links = MakeAttachLinks(*this, part, rec);
    const char* pClass = bRoot ? "pAttach" : "cAttach";
    bool bEmbed = atoi(m_cfBBS.Value("attach_embed").GetText()) != 0;
    int nEmbed = atoi(m_cfBBS.Value("embed_size").GetText());
    CRukString linkList, inlineList;
    for (int i = 0; i < rec.attach.GetSize(); i++) {
        const CRukString& name = rec.attach[i].m_strTag;
        int nKB = AttachKB(links.dirPath + "/" + name);
        CRukString url = links.dirUrl + "/" + name;
        CRukString safeUrl = EscapeField(url);
        CRukString safeName = EscapeField(name);
        linkList += CRukString(" <span class=\"attachItem\">") + ViewerLink(links, name, url) +
                    " <a href=\"" + safeUrl + "\"><span class=\"" + pClass + "\">" + safeName +
                    "</span></a>(" + Decimal(nKB) + "KB)</span>";
        // A picture shown in the message is scaled to the column by any
        // skin, even one without a style sheet: never wider than a phone.
        if (bEmbed && nKB <= nEmbed && IsPicture(name))
            inlineList += CRukString(" <img src=\"") + safeUrl + "\" alt=\"" + safeName +
                          "\" style=\"max-width:100%;height:auto\">";
    }
    part.Replace("%ATTACH_LINK%%", "%", linkList.GetText(), false);
    part.Replace("%ATTACH_VIEW%", inlineList.GetText(), false);
    text.Replace(s_szAttachOpen, s_szAttachClose, part.GetText(), false);
    return text;
}

// The replies of a thread in display order: every message of the thread
// (sorted by new_order), each direct reply followed by its own replies.
static void ThreadReplies(CRukBBSFormMain& bbs, const CRukBBSData& root, CRukBBSDataAry& ordered,
                          bool bWithDepth)
{
    // A message that cannot be read whole is left out here; the store
    // remembers it (HasReadFailed) and the page ends with the busy message.
    CRukBBSDataAry list;
    if (bbs.m_bbsFile.GetDataChildren(list, root.id.GetText(),
                                      atoi(bbs.m_cfBBS.Value("new_order").GetText())) < 0)
        return;
    list.Add(root);
    int n;
    if (bWithDepth) {
        int nPDepth = 0, nDepth = 0;
        n = bbs.m_bbsFile.GetDataRecursWithDepth(list, ordered, root.id.GetText(), nPDepth, nDepth);
    } else {
        n = bbs.m_bbsFile.GetDataRecurs(list, ordered, root.id.GetText());
    }
    if (n < 0)
        ordered.RemoveAll();
}

CRukString CRukBBSFormMain::CreateTableThread(CRukCookie& cookie, CRukForm& form,
                                              const CRukString& rootPattern,
                                              const CRukString& replyPattern,
                                              const CRukBBSData& root)
{
    CRukString result = CreateTable1(cookie, form, rootPattern, root);
    CRukBBSDataAry ordered;
    ThreadReplies(*this, root, ordered, false);
    CRukBuffer replies;
    for (int i = 0; i < ordered.GetSize(); i++)
        AddPiece(replies, CreateTable1(cookie, form, replyPattern, ordered[i]));
    result.Replace("<!--TABLE_CHILD-->", "<!--/TABLE_CHILD-->", Joined(replies).GetText(), true);
    return result;
}

// The tree columns of a reply as images: blanks widen a spacer, "+", "|"
// and "L" are the branch pictures. They only draw the tree, so their text
// is empty: a screen reader reads the titles of the list alone.
static CRukString BranchImages(const CRukString& skinUrl, const CRukBuffer& depth)
{
    static const struct {
        char c;
        const char* pImage;
    } s_branches[] = {{'+', "branch_join.gif"}, {'|', "branch_vert.gif"}, {'L', "branch_hook.gif"}};
    CRukString out;
    int nWidth = 0;
    for (unsigned i = 0; i < depth.GetSize(); i++) {
        char c = depth.GetData()[i];
        if (c == ' ') {
            nWidth += 12;
            continue;
        }
        for (const auto& b : s_branches) {
            if (b.c != c)
                continue;
            CRukString img;
            if (nWidth > 0) {
                img.Format("<img src=%sspacer.gif width=%d height=1 alt=\"\">", skinUrl.GetText(),
                           nWidth);
                out += img;
                nWidth = 0;
            }
            out += CRukString("<img src=") + skinUrl + b.pImage + " alt=\"\">";
        }
    }
    return out;
}

CRukString CRukBBSFormMain::CreateTitle1(CRukCookie&, CRukForm&, const CRukString& pattern,
                                         const CRukBBSData& rec)
{
    // Without tree columns %BRANCH% stays as it is written.
    CRukString branch = "%BRANCH%";
    if (rec.depth.GetSize() > 0) {
        CRukString depth(rec.depth.GetData());
        go.m_log.Trace("Depth %s", depth.GetText());
        branch = BranchImages(m_strSkinUrl, rec.depth);
    }
    static const STagSlot s_rgSlots[] = {
        {"%NEW_IMAGE%", false}, {"%TITLE%", false}, {"%NAME%", false}, {"%DATE%", false},
        {"%ID%", true},         {"%PID%", false},   {"%PPID%", false}, {"%PAGE%", true},
        {"%STYLE%", true},      {"%BRANCH%", true}};
    const CRukString values[] = {CreateNewImage(rec),
                                 EscapeField(rec.title),
                                 EscapeField(rec.name),
                                 EscapeField(rec.date),
                                 EscapeHtml(rec.id.GetText()),
                                 EscapeField(rec.pid),
                                 EscapeField(rec.ppid.IsEmpty() ? rec.id : rec.ppid),
                                 Decimal(m_nPage),
                                 Decimal(m_nStyle),
                                 branch};
    static_assert(sizeof(values) / sizeof(values[0]) == sizeof(s_rgSlots) / sizeof(s_rgSlots[0]),
                  "one value per tag");
    bool bNoAttach = rec.attach.GetSize() == 0;
    CRukString text =
        FillPattern(pattern, s_rgSlots, sizeof(s_rgSlots) / sizeof(s_rgSlots[0]), values,
                    bNoAttach ? s_szAttachLink : nullptr, "%");
    if (bNoAttach)
        return text;
    AttachLinks links = MakeAttachLinks(*this, text, rec);
    CRukString icons;
    for (int i = 0; i < rec.attach.GetSize(); i++) {
        const CRukString& name = rec.attach[i].m_strTag;
        icons += ViewerLink(links, name, links.dirUrl + "/" + name);
    }
    text.Replace(s_szAttachLink, "%", icons.GetText(), false);
    return text;
}

CRukString CRukBBSFormMain::CreateTitleThread(CRukCookie& cookie, CRukForm& form,
                                              const CRukString& rootPattern,
                                              const CRukString& replyPattern,
                                              const CRukBBSData& root)
{
    CRukBBSDataAry ordered;
    ThreadReplies(*this, root, ordered, true);
    CRukString result = CreateTitle1(cookie, form, rootPattern, root);
    CRukBuffer replies;
    for (int i = 0; i < ordered.GetSize(); i++)
        AddPiece(replies, CreateTitle1(cookie, form, replyPattern, ordered[i]));
    result.Replace("<!--TITLE_CHILD-->", "<!--/TITLE_CHILD-->", Joined(replies).GetText(), true);
    return result;
}
