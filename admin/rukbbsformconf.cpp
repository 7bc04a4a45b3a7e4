// CRukBBSFormConf: the parts every page and action shares: the permission
// modes, reading and updating settings files under the site lock, writing
// an administration page, and the helpers of rukbbsformconf_shared.h.
#include "rukbbsformconf.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "rukbbsformconf_shared.h"
#include "rukbuffer.h"
#include "rukconfig.h"
#include "rukdir.h"
#include "rukfile.h"
#include "rukglobal.h"
#include "rukstrary.h"
#include "rukstrpath.h"

// ---------------------------------------------------------------------------
// Helpers

// The text a buffer holds, taken over without a copy.
CRukString BufferText(CRukBuffer& buf)
{
    CRukString text;
    text.Attach(buf.Detach());
    return text;
}

// Fills the tags of a page in one pass, so that inserted text is never
// scanned for tags again.
CRukString FillTags(const CRukString& page, const TagList& tags)
{
    std::vector<bool> done(tags.size(), false);
    std::vector<size_t> lengths;
    lengths.reserve(tags.size());
    for (const TagText& t : tags)
        lengths.push_back(strlen(t.pTag));
    CRukBuffer out;
    out.Reserve(static_cast<unsigned>(page.GetLength()));
    const char* p = page.GetText();
    const char* pRun = p;
    while (*p) {
        bool bMatched = false;
        if (*p == '%') {
            for (size_t i = 0; i < tags.size(); i++) {
                if ((done[i] && !tags[i].bAll) || strncmp(p, tags[i].pTag, lengths[i]) != 0)
                    continue;
                out.Append(pRun, static_cast<unsigned>(p - pRun));
                out.Append(tags[i].text.GetText(), static_cast<unsigned>(tags[i].text.GetLength()));
                p += lengths[i];
                pRun = p;
                done[i] = true;
                bMatched = true;
                break;
            }
        }
        if (!bMatched)
            p++;
    }
    out.Append(pRun, static_cast<unsigned>(strlen(pRun)));
    return BufferText(out);
}

// Adds the escaped settings values of a tag table.
void AddValueTags(TagList& tags, const TagKey* pTable, size_t n, const CRukConfig& cf)
{
    for (size_t i = 0; i < n; i++)
        tags.push_back({pTable[i].pTag, CRukBBSFormBase::EscapeHtml(cf.Value(pTable[i].pKey).GetText()),
                        false});
}

// Adds switch tags: "checked" when the value is exactly "1".
void AddCheckTags(TagList& tags, const TagKey* pTable, size_t n, const CRukConfig& cf)
{
    for (size_t i = 0; i < n; i++)
        tags.push_back({pTable[i].pTag, cf.Value(pTable[i].pKey) == "1" ? "checked" : "", false});
}

// The integer value of a text; non-numbers are 0, large values saturate.
int ToInt(const CRukString& text)
{
    errno = 0;
    long n = strtol(text.GetText(), nullptr, 10);
    if (n > INT_MAX)
        return INT_MAX;
    if (n < INT_MIN)
        return INT_MIN;
    return static_cast<int>(n);
}

// The clamped decimal text of a number field. A system bound that is not
// set (below the low bound) does not apply.
CRukString ClampField(const CRukString& value, const NumField& field,
                             const CRukConfig& system)
{
    if (field.bEmptyOff && CRukString(value).Trim().IsEmpty())
        return CRukString();
    int n = ToInt(value);
    if (n < field.nLow)
        n = field.nLow;
    int nHigh = field.pHighKey ? ToInt(system.Value(field.pHighKey)) : field.nHigh;
    if (nHigh >= field.nLow && n > nHigh)
        n = nHigh;
    return CRukString(n);
}

// The form value of a field, trimmed.
CRukString Trimmed(const CRukForm& form, const char* pName)
{
    CRukString value = form.Value(pName);
    value.Trim();
    return value;
}

// True when a path names something on disk.
bool Exists(const CRukString& path)
{
    return CRukFile::GetFileAttr(path.GetText()) != -1;
}

// True when a path is a directory (or a link to one).
bool IsDirectory(const CRukString& path)
{
    struct stat st;
    return stat(path.GetText(), &st) == 0 && S_ISDIR(st.st_mode);
}

// What a page says of a stored password: whether there is one.
CRukString PasswordState(const CRukString& stored)
{
    return stored.IsEmpty()
               ? "\x90\xdd\x92\xe8\x82\xb3\x82\xea\x82\xc4\x82\xa2\x82\xdc\x82\xb9\x82\xf1"  // 設定されていません
               : "\x90\xdd\x92\xe8\x82\xb3\x82\xea\x82\xc4\x82\xa2\x82\xdc\x82\xb7";  // 設定されています
}

// The resolved absolute form of an existing path.
bool RealPath(const char* pPath, CRukString& out)
{
    char* p = realpath(pPath && *pPath ? pPath : ".", nullptr);
    if (!p)
        return false;
    out.Attach(p);
    return true;
}

// True when the resolved path equals dir or lies below it.
bool IsInside(const CRukString& path, const CRukString& dir)
{
    if (dir == "/")
        return true;
    int n = dir.GetLength();
    return path == dir ||
           (strncmp(path.GetText(), dir.GetText(), n) == 0 && path.GetText()[n] == '/');
}

// Creates a directory and gives it go's directory mode (mkdir applies the
// umask); a mode that cannot be set is traced, the directory stays.
bool MakeDir(const CRukString& dir)
{
    if (CRukDir::MkDir(dir.GetText()) != 0)
        return false;
    if (chmod(dir.GetText(), static_cast<mode_t>(go.m_nDirMode)) != 0)
        go.m_log.Trace("-- chmod(%s) failed", dir.GetText());
    return true;
}

// Removes a directory with everything below it; a symbolic link is
// removed itself, never followed. Whatever could not be removed is traced
// and makes the result false; a path that is not there is no failure.
bool RemoveTree(const CRukString& dir)
{
    struct stat st;
    if (lstat(dir.GetText(), &st) != 0)
        return errno == ENOENT;
    bool bOk;
    if (!S_ISDIR(st.st_mode))
        bOk = unlink(dir.GetText()) == 0;
    else
        bOk = CRukDir::RemoveFiles(dir.GetText(), true, false) == 0 && rmdir(dir.GetText()) == 0;
    if (!bOk)
        go.m_log.Trace("-- %s could not be removed whole", dir.GetText());
    return bOk;
}

// True for an address typed into a URL setting that may go into an
// attribute as it is: printable ASCII without blanks, quotes, angle
// brackets or backslash.
bool IsSafeUrlText(const CRukString& url)
{
    for (const char* p = url.GetText(); *p; p++)
        if (static_cast<unsigned char>(*p) <= 0x20 || static_cast<unsigned char>(*p) >= 0x7F ||
            strchr("\"'<>\\`", *p))
            return false;
    return true;
}

// Builds "<select id=ID name=NAME>" with one option per name, the one
// equal to selected marked; names are escaped. Without names it holds one
// disabled option saying pNone.
CRukString BuildSelect(const char* pName, const CRukStrAry& names, const CRukString& selected,
                       const char* pId, const char* pNone)
{
    CRukBuffer out;
    CRukString line;
    if (pId)
        line.Format("<select id=\"%s\" name=%s>\n", pId, pName);
    else
        line.Format("<select name=%s>\n", pName);
    out.Append(line.GetText(), static_cast<unsigned>(line.GetLength()));
    for (int i = 0; i < names.GetSize(); i++) {
        CRukString name = CRukBBSFormBase::EscapeHtml(names[i].GetText());
        line.Format("<option value=\"%s\" %s>%s</option>\n", name.GetText(),
                    names[i] == selected ? "selected" : "", name.GetText());
        out.Append(line.GetText(), static_cast<unsigned>(line.GetLength()));
    }
    if (names.GetSize() == 0 && pNone) {
        line.Format("<option value=\"\" disabled selected>%s</option>\n", pNone);
        out.Append(line.GetText(), static_cast<unsigned>(line.GetLength()));
    }
    out.Append("</select>\n", 10);
    return BufferText(out);
}

// ---------------------------------------------------------------------------
// Common parts

CRukString CRukBBSFormConf::BoardSettingsPath() const
{
    return CRukString(s_pRegistry) + "/" + m_strBBSID + ".conf";
}

// Reads the file afresh and writes it under one exclusive hold of the site
// lock, so that a save made meanwhile by another request is never lost.
// Nothing below may open the site lock again while it is held.
int CRukBBSFormConf::UpdateSettings(const char* pPath,
                                    const std::function<bool(CRukConfig&)>& change,
                                    CRukConfig* pResult)
{
    CRukFlock lock;
    if (lock.Lock(nullptr) != 0)
        return -2;
    CRukConfig cf(true);
    if (cf.ReadFile(pPath, false) < 0)
        return Exists(pPath) ? -2 : -1;
    if (change(cf) && cf.WriteFile(pPath, false) < 0)
        return -3;
    if (pResult)
        *pResult = std::move(cf);
    return 0;
}

void CRukBBSFormConf::RequireUpdate(const char* pPath, const char* pMissingKey,
                                    const char* pWriteKey,
                                    const std::function<bool(CRukConfig&)>& change,
                                    CRukConfig* pResult)
{
    int r = UpdateSettings(pPath, change, pResult);
    if (r == -1)
        MessageKey(pMissingKey);
    if (r == -3)
        MessageKey(pWriteKey);
    if (r != 0)
        MessageKey("msg90");
}

// Every page shares the form token, the notice and the password tags,
// which stay empty: no password or code is ever written into a page.
void CRukBBSFormConf::WriteAdminPage(const CRukString& page, TagList& tags)
{
    CRukString notice;
    if (!m_strNotice.IsEmpty())
        notice = "<p class=\"notice\" role=\"status\">" + EscapeHtml(m_strNotice.GetText()) +
                 "</p>";
    tags.push_back({"%NOTICE%", notice, false});
    tags.push_back({"%TOKEN%", m_strFormToken, true});
    tags.push_back({"%BOARD_ID%", EscapeHtml(m_strBBSID.GetText()), true});
    tags.push_back({"%PASSWD%", "", true});
    tags.push_back({"%PASSWD2%", "", true});
    // What only the administrator may open is left out of a board's
    // session pages.
    CRukString shown = page;
    KeepBlock(shown, "ADMIN_ONLY", IsAdmin());
    CRukString text = ::FillTags(shown, tags);
    m_html.WriteHttpCookie(m_strCookieLines.GetText(), "text/html");
    WritePage(text);
}

// The catalogue text with its values; it is escaped as a whole when the
// page is written, so neither a value nor the text can add markup.
void CRukBBSFormConf::Notice(const char* pKey, std::initializer_list<SRukFill> fills)
{
    CRukString text = m_cfMessage.Value(pKey);
    for (const SRukFill& fill : fills)
        text.Replace(fill.pTag, fill.value.GetText(), true);
    m_strNotice = text;
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
