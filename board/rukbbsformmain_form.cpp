// CRukBBSFormMain: the input form for a new post, a reply or an edit,
// preset from the visitor's cookie or the stored message, with the icon
// selector, the file fields and, for an edit, the stored attachments.
//
// The form's blocks are chosen on the pattern as the skin wrote it (the
// icon selector and the file fields kept or left out), its tags are then
// filled in one pass, and the parts made of the skin's own text (the
// headline of the form and the list of stored attachments) go into their
// blocks last, so that no value is read again.
#include "rukbbsformmain.h"

#include <cstdlib>

#include "rukbbsformmain_shared.h"

static const char* const s_pNoIcon = "\x82\xc8\x82\xb5";  // なし
// 添付ファイル, the name of a file field with its number after it.
static const char* const s_pFileLabel = "\x93\x59\x95\x74\x83\x74\x83\x40\x83\x43\x83\x8b";

// The stored attachments of a message being edited: the block
// EDIT_ATTACH with its part EDIT_ATTACH_ITEM once per file, %ATTACH_NAME%
// its name and %ATTACH_INDEX% its place in the stored list, which names
// its check box "delattachN" (each box a name of its own: the form keeps
// only the first field of a name). Empty for a message without
// attachments.
static CRukString EditAttachList(CRukBBSFormMain& bbs, const CRukString& block,
                                 const CRukBBSData& rec)
{
    if (rec.attach.GetSize() == 0)
        return CRukString();
    CRukString item = BlockText(block, "EDIT_ATTACH_ITEM");
    CRukString items;
    for (int i = 0; i < rec.attach.GetSize(); i++)
        items += bbs.FillWithCommon(item, {{"%ATTACH_NAME%", rec.attach[i].m_strTag, true},
                                           {"%ATTACH_INDEX%", Decimal(i), true}});
    CRukString list = bbs.FillWithCommon(block, CRukTagList());
    ReplaceBlocks(list, "EDIT_ATTACH_ITEM", items);
    return list;
}

// One choice of the icon selector, escaped: the names are the
// administrator's text.
static CRukString IconOption(const char* pValue, bool bSelected, const CRukString& label)
{
    return CRukString("<option value=\"") + pValue + "\"" + (bSelected ? " selected" : "") + ">" +
           CRukBBSFormBase::EscapeHtml(label) + "</option>\n";
}

// The icon selector: "なし" (no icon) first, chosen when the visitor holds
// none of the icons offered, then every icon that has a picture, by its
// name (or its number when it has none). The
// administrator's icon (0) needs the board password when posting, so it is
// offered only to whoever already holds it: the message being edited
// carries it, or the author's cookie does (set only after a post that gave
// the password), or the form was opened with "icon=0". Anyone else would
// learn only after posting that it is refused.
static CRukString IconSelector(CRukBBSFormMain& bbs, const CRukString& chosen)
{
    int nMax = bbs.SettingNumber(kSysIconMax);
    CRukString options;
    bool bHeld = false;
    auto offer = [&](int nIcon) {
        CRukString number = Decimal(nIcon);
        CRukString urlKey = CRukSettingKeys::IconKey(kBoardIconUrl, nIcon);
        if (bbs.m_cfBBS.Value(urlKey.GetText()).IsEmpty())
            return;
        bool bSelected = chosen == number;
        bHeld = bHeld || bSelected;
        CRukString nameKey = CRukSettingKeys::IconKey(kBoardIconName, nIcon);
        CRukString name = bbs.m_cfBBS.Value(nameKey.GetText());
        options += IconOption(number.GetText(), bSelected, name.IsEmpty() ? number : name);
    };
    for (int i = 1; i <= nMax; i++)
        offer(i);
    if (chosen == "0")
        offer(0);
    return "<select name=icon id=in_icon>\n" + IconOption("", !bHeld, s_pNoIcon) + options +
           "</select>\n";
}

// The file fields, each named for a screen reader: 添付ファイル1, 2...
static CRukString FileFields(int nFiles, int nWidth)
{
    CRukString fields;
    for (int i = 0; i < nFiles; i++) {
        CRukString field;
        field.Format("<input type=file name=file%d size=%d aria-label=\"%s%d\" /><br />\n", i,
                     nWidth, s_pFileLabel, i + 1);
        fields += field;
    }
    return fields;
}

// A form holding the remembered password is private: never framed by
// another site, never kept by a cache; so is one holding a remembered
// name with its trip key ("#", "＃").
static void MarkPrivateForm(CRukCookie& cookie, const CRukString& block)
{
    if (!cookie.Value("passwd").IsEmpty() && block.Find("%PASSWD%") >= 0)
        CRukHtml::SetPrivate();
    CRukString name = cookie.Value("name");
    if ((name.Find("#") >= 0 || name.Find("\x81\x94") >= 0) && block.Find("%NAME%") >= 0)
        CRukHtml::SetPrivate();
}

// The icon selector in its block, when the board shows icons: the icon of
// the message edited, else the visitor's (the administrator's when a new
// form was opened with "icon=0").
static void AddIconSelector(CRukBBSFormMain& bbs, CRukString& text, CRukTagList& tags,
                            CRukForm& form, const CRukString& id, const CRukString& icon)
{
    if (!bbs.SettingIsOne(kBoardUseIcon)) {
        ReplaceBlocks(text, "SELECT_ICON", CRukString());
        return;
    }
    ReplaceBlocks(text, "SELECT_ICON", BlockText(text, "SELECT_ICON"));
    bool bAdmin = id.IsEmpty() && form.Value("icon") == "0";
    tags.push_back({"%SELECT_ICON%", IconSelector(bbs, bAdmin ? CRukString("0") : icon), false,
                    true});
}

// The file fields in their block, when the board takes attachments: the
// block's tag "%INPUT_FILE%%WIDTH=N%", kept as written in fileTag, names
// their width.
static void AddFileFields(CRukBBSFormMain& bbs, CRukString& text, CRukTagList& tags,
                          CRukString& fileTag)
{
    if (!bbs.SettingIsOne(kBoardUseAttach)) {
        ReplaceBlocks(text, "INPUT_FILE", CRukString());
        return;
    }
    CRukString block = BlockText(text, "INPUT_FILE");
    ReplaceBlocks(text, "INPUT_FILE", block);
    int nOpen = block.Find("%INPUT_FILE%%");
    int nClose = nOpen < 0 ? -1 : block.Find("%", nOpen + 13);
    if (nClose < 0)
        return;
    int nWidth = atoi(block.GetToken("%WIDTH=", "%").GetText());
    fileTag = block.Mid(nOpen, nClose + 1 - nOpen);
    int nFiles = bbs.SettingNumber(kBoardAttachNum);
    tags.push_back({fileTag.GetText(), FileFields(nFiles, nWidth ? nWidth : 60), false, true});
}

CRukString CRukBBSFormMain::CreateInputForm(CRukCookie& cookie, CRukForm& form,
                                            const CRukString& block, const CRukBBSData& rec,
                                            const CRukString& ppid, const CRukString& pid,
                                            const CRukString& id)
{
    MarkPrivateForm(cookie, block);
    CRukString home = cookie.Value("home");
    if (home.IsEmpty())
        home = "http://";
    auto checked = [](const CRukString& flag) {
        return CRukString(atoi(flag.GetText()) != 0 ? "checked" : "");
    };
    bool bEdit = !id.IsEmpty();
    bool bReply = !bEdit && !pid.IsEmpty();
    CRukString quote;
    if (bReply) {
        quote = "> " + rec.mess;
        quote.Replace("\n", "\n> ", true);
        int nLen = quote.GetLength();
        if (nLen > 2 && quote.GetText()[nLen - 3] == '\n')
            quote.Delete(nLen - 2);
    }
    CRukTagList tags = {
        {"%STYLE%", Decimal(m_nStyle), true},
        {"%PAGE%", Decimal(m_nPage), true},
        {"%PASSWD%", cookie.Value("passwd"), true},
        {"%PPID%", ppid, true},
        {"%PID%", pid, true},
        {"%ID%", id, true},
        {"%NAME%", bEdit ? rec.name : cookie.Value("name")},
        {"%MAIL%", bEdit ? rec.mail : cookie.Value("mail")},
        {"%HOME%", bEdit && !rec.home.IsEmpty() ? rec.home : home},
        {"%TITLE%", bEdit ? rec.title : bReply ? "Re: " + rec.title : CRukString()},
        {"%MESSAGE%", bEdit ? rec.mess : quote},
        {"%RESMAIL_CHECKED%", checked(bEdit ? rec.resmail : cookie.Value("resmail"))},
        {"%PREFORM_CHECKED%", bEdit ? checked(rec.preform) : CRukString()},
    };
    CRukString text = block;
    CRukString fileTag;
    AddIconSelector(*this, text, tags, form, id, bEdit ? rec.icon : cookie.Value("icon"));
    AddFileFields(*this, text, tags, fileTag);
    text = FillWithCommon(text, tags);

    const char* pVariant = bEdit ? "INPUT_HEAD_UPD" : bReply ? "INPUT_HEAD_RES" : "INPUT_HEAD_NEW";
    CRukString editList = bEdit ? EditAttachList(*this, BlockText(block, "EDIT_ATTACH"), rec)
                                : CRukString();
    ReplaceBlocks(text, "EDIT_ATTACH", editList);
    CRukString headline = FillWithCommon(BlockText(block, pVariant), CRukTagList());
    ReplaceBlocks(text, "INPUT_HEADLINE", headline);
    return text;
}
