// CRukBBSFormConf: writing an administration page. Every page is filled by
// the base's one filler: text escaped, only the markup this program built
// (selects, rows, the notice line) marked as such. Here are the tags every
// page shares, the line that says what the last action did, the blocks a
// page keeps or drops, and the tags of the settings rows a page shows.
#include "rukbbsformconf.h"

#include <cstdio>

#include "rukbbsformconf_shared.h"
#include "rukglobal.h"

// Every page shares the form token, the notice and the password tags,
// which stay empty: no password or code is ever written into a page.
void CRukBBSFormConf::WriteAdminPage(const CRukString& page, CRukTagList& tags)
{
    CRukString notice;
    if (!m_strNotice.IsEmpty())
        notice = "<p class=\"notice\" role=\"status\">" + m_strNotice + "</p>";
    tags.push_back({"%NOTICE%", notice, false, true});
    tags.push_back({"%TOKEN%", m_strFormToken, true});
    tags.push_back({"%BOARD_ID%", m_strBBSID, true});
    tags.push_back({"%PASSWD%", "", true});
    tags.push_back({"%PASSWD2%", "", true});
    // What only the administrator may open is left out of a board's
    // session pages.
    CRukString shown = page;
    KeepBlock(shown, "ADMIN_ONLY", IsAdmin());
    CRukString text = FillWithCommon(shown, tags);
    m_html.WriteHttpCookie(m_strCookieLines.GetText(), "text/html");
    WritePage(text);
}

// The catalogue text is text like its values: the line is escaped whole,
// so that neither a value nor the text can add markup.
CRukString CRukBBSFormConf::CatalogueLine(const char* pKey,
                                          std::initializer_list<SRukFill> fills) const
{
    CRukTagList tags;
    for (const SRukFill& fill : fills)
        tags.push_back({fill.pTag, fill.value, true});
    return FillTags(EscapeHtml(m_cfMessage.Value(pKey).GetText()), tags);
}

void CRukBBSFormConf::Notice(const char* pKey, std::initializer_list<SRukFill> fills)
{
    m_strNotice = CatalogueLine(pKey, fills);
}

void CRukBBSFormConf::KeepBlock(CRukString& page, const char* pName, bool bKeep)
{
    CRukString begin = CRukString("<!--") + pName + "-->";
    CRukString end = CRukString("<!--/") + pName + "-->";
    if (bKeep) {
        page.Replace(begin.GetText(), "", false);
        page.Replace(end.GetText(), "", false);
    } else {
        page.Replace(begin.GetText(), end.GetText(), "", false);
    }
}

CRukString CRukBBSFormConf::CutPattern(CRukString& page, const char* pName, const char* pTag)
{
    CRukString begin = CRukString("<!--") + pName + "-->";
    CRukString end = CRukString("<!--/") + pName + "-->";
    CRukString pattern = page.GetToken(begin.GetText(), end.GetText());
    page.Replace(begin.GetText(), end.GetText(), pTag, false);
    return pattern;
}

// ---------------------------------------------------------------------------
// Settings rows on a page

SRukTag RowTag(const SRukSettingKey& row, const CRukConfig& cf)
{
    CRukString value = cf.Value(row.pName);
    switch (row.nKind) {
    case ERukSettingKind::Switch: return {row.pPageTag, value == "1" ? "checked" : ""};
    case ERukSettingKind::Code:
    case ERukSettingKind::Login: return {row.pPageTag, PasswordState(value), true};
    default: return {row.pPageTag, value};
    }
}

void AddRowTags(CRukTagList& tags, const SRukSettingTable& table, const CRukConfig& cf)
{
    for (const SRukSettingKey& row : table)
        if (row.pPageTag && row.nKind != ERukSettingKind::Mode)
            tags.push_back(RowTag(row, cf));
}

// What a page says of a stored password: whether there is one.
CRukString PasswordState(const CRukString& stored)
{
    return stored.IsEmpty()
               ? "\x90\xdd\x92\xe8\x82\xb3\x82\xea\x82\xc4\x82\xa2\x82\xdc\x82\xb9\x82\xf1"  // 設定されていません
               : "\x90\xdd\x92\xe8\x82\xb3\x82\xea\x82\xc4\x82\xa2\x82\xdc\x82\xb7";  // 設定されています
}

// ---------------------------------------------------------------------------
// Pieces of a page

CRukString BuildSelect(const char* pName, const CRukStrAry& names, const CRukString& selected,
                       const char* pId, const char* pNone)
{
    CRukString out;
    if (pId)
        out.Format("<select id=\"%s\" name=%s>\n", pId, pName);
    else
        out.Format("<select name=%s>\n", pName);
    CRukString line;
    for (int i = 0; i < names.GetSize(); i++) {
        CRukString name = CRukBBSFormBase::EscapeHtml(names[i].GetText());
        line.Format("<option value=\"%s\" %s>%s</option>\n", name.GetText(),
                    names[i] == selected ? "selected" : "", name.GetText());
        out += line;
    }
    if (names.GetSize() == 0 && pNone) {
        line.Format("<option value=\"\" disabled selected>%s</option>\n", pNone);
        out += line;
    }
    return out + "</select>\n";
}

CRukString Trimmed(const CRukForm& form, const char* pName)
{
    CRukString value = form.Value(pName);
    value.Trim();
    return value;
}
