// CRukBBSFormMain: the input form for a new post, a reply or an edit,
// preset from the visitor's cookie or the stored message, with the icon
// selector, the file fields and, for an edit, the stored attachments.
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
// only the first field of a name). Empty for other forms and for a
// message without attachments.
static CRukString EditAttachList(const CRukString& block, const CRukBBSData& rec)
{
    if (rec.attach.GetSize() == 0)
        return CRukString();
    CRukString item = block.GetToken("<!--EDIT_ATTACH_ITEM-->", "<!--/EDIT_ATTACH_ITEM-->");
    CRukString items;
    for (int i = 0; i < rec.attach.GetSize(); i++) {
        CRukString one = item;
        Tag(one, "%ATTACH_NAME%", EscapeField(rec.attach[i].m_strTag).GetText(), true);
        Tag(one, "%ATTACH_INDEX%", Decimal(i).GetText(), true);
        items += one;
    }
    CRukString list = block;
    list.Replace("<!--EDIT_ATTACH_ITEM-->", "<!--/EDIT_ATTACH_ITEM-->", items.GetText(), true);
    return list;
}

// One choice of the icon selector, escaped: the names are the
// administrator's text.
static CRukString IconOption(const char* pValue, bool bSelected, const CRukString& label)
{
    return CRukString("<option value=\"") + pValue + "\"" + (bSelected ? " selected" : "") + ">" +
           EscapeField(label) + "</option>\n";
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
    int nMax = atoi(bbs.m_cfSystem.Value("icon_max").GetText());
    CRukString options;
    bool bHeld = false;
    auto offer = [&](int nIcon) {
        CRukString number = Decimal(nIcon);
        if (bbs.m_cfBBS.Value(("ico_url" + number).GetText()).IsEmpty())
            return;
        bool bSelected = chosen == number;
        bHeld = bHeld || bSelected;
        CRukString name = bbs.m_cfBBS.Value(("ico_name" + number).GetText());
        options += IconOption(number.GetText(), bSelected, name.IsEmpty() ? number : name);
    };
    for (int i = 1; i <= nMax; i++)
        offer(i);
    if (chosen == "0")
        offer(0);
    return "<select name=icon id=in_icon>\n" + IconOption("", !bHeld, s_pNoIcon) + options +
           "</select>\n";
}

CRukString CRukBBSFormMain::CreateInputForm(CRukCookie& cookie, CRukForm& form,
                                            const CRukString& block, const CRukBBSData& rec,
                                            const CRukString& ppid, const CRukString& pid,
                                            const CRukString& id)
{
    CRukString text = block;
    CRukString home = cookie.Value("home");
    if (home.IsEmpty())
        home = "http://";
    CRukString icon = cookie.Value("icon");
    Tag(text, "%STYLE%", Decimal(m_nStyle).GetText(), true);
    Tag(text, "%PAGE%", Decimal(m_nPage).GetText(), true);
    // A form holding the remembered password is private: never framed by
    // another site, never kept by a cache.
    CRukString remembered = cookie.Value("passwd");
    if (!remembered.IsEmpty() && text.Find("%PASSWD%") >= 0)
        CRukHtml::SetPrivate();
    // So is one holding a remembered name with its trip key ("#", "＃").
    CRukString name = cookie.Value("name");
    if ((name.Find("#") >= 0 || name.Find("\x81\x94") >= 0) && text.Find("%NAME%") >= 0)
        CRukHtml::SetPrivate();
    Tag(text, "%PASSWD%", EscapeField(remembered).GetText(), true);
    Tag(text, "%PPID%", EscapeField(ppid).GetText(), true);
    Tag(text, "%PID%", EscapeField(pid).GetText(), true);
    Tag(text, "%ID%", EscapeField(id).GetText(), true);

    auto checked = [](const CRukString& flag) { return atoi(flag.GetText()) != 0 ? "checked" : ""; };
    const char* pVariant;
    if (!id.IsEmpty()) {
        pVariant = "INPUT_HEAD_UPD";
        Tag(text, "%NAME%", EscapeField(rec.name).GetText());
        Tag(text, "%MAIL%", EscapeField(rec.mail).GetText());
        Tag(text, "%HOME%", EscapeField(rec.home.IsEmpty() ? home : rec.home).GetText());
        Tag(text, "%TITLE%", EscapeField(rec.title).GetText());
        Tag(text, "%MESSAGE%", EscapeField(rec.mess).GetText());
        Tag(text, "%RESMAIL_CHECKED%", checked(rec.resmail));
        Tag(text, "%PREFORM_CHECKED%", checked(rec.preform));
        icon = rec.icon;
    } else if (!pid.IsEmpty()) {
        pVariant = "INPUT_HEAD_RES";
        Tag(text, "%NAME%", EscapeField(cookie.Value("name")).GetText());
        Tag(text, "%MAIL%", EscapeField(cookie.Value("mail")).GetText());
        Tag(text, "%HOME%", EscapeField(home).GetText());
        Tag(text, "%TITLE%", EscapeField("Re: " + rec.title).GetText());
        CRukString quote = "> " + rec.mess;
        quote.Replace("\n", "\n> ", true);
        int nLen = quote.GetLength();
        if (nLen > 2 && quote.GetText()[nLen - 3] == '\n')
            quote.Delete(nLen - 2);
        Tag(text, "%MESSAGE%", EscapeField(quote).GetText());
        Tag(text, "%RESMAIL_CHECKED%", checked(cookie.Value("resmail")));
        Tag(text, "%PREFORM_CHECKED%", "");
    } else {
        pVariant = "INPUT_HEAD_NEW";
        Tag(text, "%NAME%", EscapeField(cookie.Value("name")).GetText());
        Tag(text, "%MAIL%", EscapeField(cookie.Value("mail")).GetText());
        Tag(text, "%HOME%", EscapeField(home).GetText());
        Tag(text, "%TITLE%", "");
        Tag(text, "%MESSAGE%", "");
        Tag(text, "%RESMAIL_CHECKED%", checked(cookie.Value("resmail")));
        Tag(text, "%PREFORM_CHECKED%", "");
    }
    CRukString editAttach = text.GetToken("<!--EDIT_ATTACH-->", "<!--/EDIT_ATTACH-->");
    text.Replace("<!--EDIT_ATTACH-->", "<!--/EDIT_ATTACH-->",
                 id.IsEmpty() ? "" : EditAttachList(editAttach, rec).GetText(), true);
    CRukString headline = block.GetToken((CRukString("<!--") + pVariant + "-->").GetText(),
                                         (CRukString("<!--/") + pVariant + "-->").GetText());
    text.Replace("<!--INPUT_HEADLINE-->", "<!--/INPUT_HEADLINE-->", headline.GetText(), true);

    // Icon selector.
    if (atoi(m_cfBBS.Value("use_icon").GetText()) == 1) {
        CRukString iconBlock = text.GetToken("<!--SELECT_ICON-->", "<!--/SELECT_ICON-->");
        if (id.IsEmpty() && form.Value("icon") == "0")
            icon = "0";
        iconBlock.Replace("%SELECT_ICON%", IconSelector(*this, icon).GetText(), false);
        text.Replace("<!--SELECT_ICON-->", "<!--/SELECT_ICON-->", iconBlock.GetText(), true);
    } else {
        text.Replace("<!--SELECT_ICON-->", "<!--/SELECT_ICON-->", "", true);
    }

    // File fields.
    if (atoi(m_cfBBS.Value("use_attach").GetText()) == 1) {
        CRukString fileBlock = text.GetToken("<!--INPUT_FILE-->", "<!--/INPUT_FILE-->");
        int nFiles = atoi(m_cfBBS.Value("attach_num").GetText());
        int nWidth = atoi(fileBlock.GetToken("%WIDTH=", "%").GetText());
        if (nWidth == 0)
            nWidth = 60;
        CRukString fields;
        for (int i = 0; i < nFiles; i++) {
            CRukString field;
            // Each field is named for a screen reader: 添付ファイル1, 2...
            field.Format("<input type=file name=file%d size=%d aria-label=\"%s%d\" /><br />\n", i,
                         nWidth, s_pFileLabel, i + 1);
            fields += field;
        }
        fileBlock.Replace("%INPUT_FILE%%", "%", fields.GetText(), false);
        text.Replace("<!--INPUT_FILE-->", "<!--/INPUT_FILE-->", fileBlock.GetText(), true);
    } else {
        text.Replace("<!--INPUT_FILE-->", "<!--/INPUT_FILE-->", "", true);
    }
    return text;
}
