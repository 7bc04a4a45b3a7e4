// CRukBBSFormMain: the listing views. One message in full or as a title
// line, and a whole thread in full or as a tree of title lines, each
// written by filling the patterns cut from the board template.
#include "rukbbsformmain.h"

#include <cstdlib>
#include <cstring>
#include <utility>

#include "rukbbsformmain_shared.h"
#include "rukglobal.h"
#include "rukstrpath.h"

// The extensions of pictures that may be shown inline.
static const char* const s_rgInlineExt[] = {".jpeg", ".jpg", ".gif", ".png"};

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

static AttachLinks MakeAttachLinks(CRukBBSFormMain& bbs, const CRukString& button,
                                   const CRukBBSData& rec)
{
    AttachLinks links;
    links.button = bbs.m_strSkinUrl + button;
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

// Text written into markup the program builds.
static CRukString Html(const CRukString& text)
{
    return CRukBBSFormBase::EscapeHtml(text);
}

// The control that opens the viewer (ruk-view.cgi) on one attachment: a
// real link, so that Tab reaches it and Enter opens it, in a tab of its
// own that the viewer closes again. The attachment button inside it says
// in words what it does.
static CRukString ViewerLink(const AttachLinks& links, const CRukString& name,
                             const CRukString& url)
{
    const char* pAction = IsPicture(name)
                              ? "\x82\xf0\x8a\x67\x91\xe5\x95\x5c\x8e\xa6"  // を拡大表示
                              : "\x82\xf0\x8a\x4a\x82\xad";  // を開く
    return CRukString("<a class=\"attachView\" href=\"ruk-view.cgi?url=") +
           Html(url.CharToPerHexWithoutSlash()) + "\" target=\"_blank\"><img src=\"" +
           Html(links.button) + "\" alt=\"" + Html(name) + pAction + "\"></a>";
}

// The icon a message was posted with, when the board shows icons and the
// icon has a picture: its name is the picture's text.
static CRukString IconImage(CRukBBSFormMain& bbs, const CRukString& icon)
{
    CRukString url = bbs.m_cfBBS.Value((kBoardIconUrl + icon).GetText());
    if (url.IsEmpty() || bbs.SettingNumber(kBoardUseIcon) == 0)
        return CRukString();
    return CRukString("<img class=\"icon\" src=\"") + Html(url) + "\" alt=\"" +
           Html(bbs.m_cfBBS.Value((kBoardIconName + icon).GetText())) + "\">";
}

// The mail link of a message that gives an address.
static CRukString MailLink(const CRukBBSData& rec)
{
    if (rec.mail.IsEmpty())
        return CRukString();
    return CRukString("<a href=\"mailto:") + Html(rec.mail) + "\"><span class=\"" +
           (rec.pid.IsEmpty() ? "pMail" : "cMail") + "\">" + s_pMailLabel + "</span></a>";
}

// The home-page link of a message that gives a web address.
static CRukString HomeLink(const CRukBBSData& rec)
{
    if (!IsWebAddress(rec.home))
        return CRukString();
    return CRukString("<a href=\"") + Html(rec.home) + "\" target=_blank><span class=\"" +
           (rec.pid.IsEmpty() ? "pHome" : "cHome") + "\">" + s_pHomeLabel + "</span></a>";
}

// The body of a message as the page shows it.
CRukString CRukBBSFormMain::RenderedBody(const CRukBBSData& rec)
{
    CRukString body = rec.mess;
    if (atoi(rec.preform.GetText()) == 0)
        ReplaceText2Html(body, rec);
    else
        ReplacePreFormat(body, rec);
    return body;
}

// The attachments of a message in full: a link (with the viewer's) for
// each, and the pictures small enough to show in the message when the
// board shows them.
static void AttachmentLists(CRukBBSFormMain& bbs, const CRukString& button,
                            const CRukBBSData& rec, CRukString& linkList,
                            CRukString& inlineList)
{
    AttachLinks links = MakeAttachLinks(bbs, button, rec);
    const char* pClass = rec.pid.IsEmpty() ? "pAttach" : "cAttach";
    bool bEmbed = bbs.SettingNumber(kBoardAttachEmbed) != 0;
    int nEmbed = bbs.SettingNumber(kBoardEmbedSize);
    for (int i = 0; i < rec.attach.GetSize(); i++) {
        const CRukString& name = rec.attach[i].m_strTag;
        int nKB = AttachKB(links.dirPath + "/" + name);
        CRukString url = links.dirUrl + "/" + name;
        CRukString safeUrl = Html(url);
        CRukString safeName = Html(name);
        linkList += CRukString(" <span class=\"attachItem\">") + ViewerLink(links, name, url) +
                    " <a href=\"" + safeUrl + "\"><span class=\"" + pClass + "\">" + safeName +
                    "</span></a>(" + Decimal(nKB) + "KB)</span>";
        // A picture shown in the message is scaled to the column by any
        // skin, even one without a style sheet: never wider than a phone.
        if (bEmbed && nKB <= nEmbed && IsPicture(name))
            inlineList += CRukString(" <img src=\"") + safeUrl + "\" alt=\"" + safeName +
                          "\" style=\"max-width:100%;height:auto\">";
    }
}

// A tag written at the places of text, or no tag when text is empty.
static const char* TagOrNone(const CRukString& text)
{
    return text.IsEmpty() ? nullptr : text.GetText();
}

CRukString CRukBBSFormMain::CreateTable1(CRukCookie&, CRukForm&, const CRukString& pattern,
                                         const CRukBBSData& rec)
{
    bool bAttach = rec.attach.GetSize() > 0;
    SMessagePattern& cut = MessagePattern(pattern, bAttach ? kTableAttach : kTable);
    CRukTagList tags;
    tags.reserve(16);
    tags.push_back({"%ICON_IMAGE%", IconImage(*this, rec.icon), false, true});
    tags.push_back({"%NEW_IMAGE%", CreateNewImage(rec), false, true});
    tags.push_back({"%TITLE%", rec.title});
    tags.push_back({"%NAME%", rec.name});
    tags.push_back({"%DATE%", rec.date});
    tags.push_back({"%MAIL%", MailLink(rec), false, true});
    tags.push_back({"%HOME%", HomeLink(rec), false, true});
    tags.push_back({"%ID%", rec.id, true});
    tags.push_back({"%PID%", rec.pid});
    tags.push_back({"%PPID%", rec.ppid});
    tags.push_back({"%PAGE%", Decimal(m_nPage), true});
    tags.push_back({"%STYLE%", Decimal(m_nStyle), true});
    tags.push_back({"%PASSWD%", CRukString(), true});
    tags.push_back({"%MESSAGE%", RenderedBody(rec), false, true});
    if (bAttach) {
        CRukString linkList, inlineList;
        AttachmentLists(*this, cut.button, rec, linkList, inlineList);
        tags.push_back({TagOrNone(cut.linkTag), std::move(linkList), false, true});
        tags.push_back({TagOrNone(cut.viewTag), std::move(inlineList), false, true});
    }
    return FillMessage(cut, tags);
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
                                      bbs.SettingNumber(kBoardNewOrder)) < 0)
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

CRukString CRukBBSFormMain::WithReplies(CRukString root, const char* pBlock,
                                        const CRukBBSDataAry& ordered, FWriteMessage pWrite,
                                        CRukCookie& cookie, CRukForm& form,
                                        const CRukString& replyPattern)
{
    CRukString replies;
    for (int i = 0; i < ordered.GetSize(); i++)
        replies += (this->*pWrite)(cookie, form, replyPattern, ordered[i]);
    ReplaceBlocks(root, pBlock, replies);
    return root;
}

CRukString CRukBBSFormMain::CreateTableThread(CRukCookie& cookie, CRukForm& form,
                                              const CRukString& rootPattern,
                                              const CRukString& replyPattern,
                                              const CRukBBSData& root)
{
    CRukString text = CreateTable1(cookie, form, rootPattern, root);
    CRukBBSDataAry ordered;
    ThreadReplies(*this, root, ordered, false);
    return WithReplies(std::move(text), "TABLE_CHILD", ordered, &CRukBBSFormMain::CreateTable1,
                       cookie, form, replyPattern);
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

// The viewer links of a message's attachments on its title line.
static CRukString AttachmentIcons(CRukBBSFormMain& bbs, const CRukString& button,
                                  const CRukBBSData& rec)
{
    AttachLinks links = MakeAttachLinks(bbs, button, rec);
    CRukString icons;
    for (int i = 0; i < rec.attach.GetSize(); i++) {
        const CRukString& name = rec.attach[i].m_strTag;
        icons += ViewerLink(links, name, links.dirUrl + "/" + name);
    }
    return icons;
}

CRukTagList CRukBBSFormMain::LineTags(const CRukBBSData& rec, int nMore)
{
    CRukTagList tags;
    tags.reserve(static_cast<size_t>(9 + nMore));
    tags.push_back({"%NEW_IMAGE%", CreateNewImage(rec), false, true});
    tags.push_back({"%TITLE%", rec.title});
    tags.push_back({"%NAME%", rec.name});
    tags.push_back({"%DATE%", rec.date});
    tags.push_back({"%ID%", rec.id, true});
    tags.push_back({"%PID%", rec.pid});
    tags.push_back({"%PPID%", rec.ppid.IsEmpty() ? rec.id : rec.ppid});
    tags.push_back({"%PAGE%", Decimal(m_nPage), true});
    tags.push_back({"%STYLE%", Decimal(m_nStyle), true});
    return tags;
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
    bool bAttach = rec.attach.GetSize() > 0;
    SMessagePattern& cut = MessagePattern(pattern, bAttach ? kTitleAttach : kTitle);
    CRukTagList tags = LineTags(rec, 2);
    tags.push_back({"%BRANCH%", std::move(branch), true, true});
    if (bAttach)
        tags.push_back(
            {TagOrNone(cut.linkTag), AttachmentIcons(*this, cut.button, rec), false, true});
    return FillMessage(cut, tags);
}

CRukString CRukBBSFormMain::CreateTitleThread(CRukCookie& cookie, CRukForm& form,
                                              const CRukString& rootPattern,
                                              const CRukString& replyPattern,
                                              const CRukBBSData& root)
{
    CRukBBSDataAry ordered;
    ThreadReplies(*this, root, ordered, true);
    CRukString text = CreateTitle1(cookie, form, rootPattern, root);
    return WithReplies(std::move(text), "TITLE_CHILD", ordered, &CRukBBSFormMain::CreateTitle1,
                       cookie, form, replyPattern);
}
