// CRukBBSFormConf: the parts every page and action shares: the permission
// modes, the current board's settings file, the password checks, the test
// that a data directory holds no part of the site, and the helpers of
// rukbbsformconf_shared.h.
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
#include "rukcrypt.h"
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

// Hashes a newly chosen password with a fresh salt. Unlike CryptEx it also
// codes a password that holds text between asterisks, which CryptEx would
// store unchanged and which would then never match again.
CRukString HashNew(const CRukString& password)
{
    if (password.IsEmpty())
        return CRukString();
    CRukString code = CRukCrypt::Crypt(password.GetText(), CRukCrypt::MakeSalt().GetText());
    return "*" + code + "*";
}

// True when a path names something on disk.
bool Exists(const CRukString& path)
{
    return CRukFile::GetFileAttr(path.GetText()) != -1;
}

// The resolved absolute form of an existing path.
static bool RealPath(const char* pPath, CRukString& out)
{
    char* p = realpath(pPath && *pPath ? pPath : ".", nullptr);
    if (!p)
        return false;
    out.Attach(p);
    return true;
}

// True when the resolved path equals dir or lies below it.
static bool IsInside(const CRukString& path, const CRukString& dir)
{
    if (dir == "/")
        return true;
    int n = dir.GetLength();
    return path == dir ||
           (strncmp(path.GetText(), dir.GetText(), n) == 0 && path.GetText()[n] == '/');
}

// Sets a directory's mode to go's directory mode after creating it.
void MakeDir(const CRukString& dir)
{
    if (CRukDir::MkDir(dir.GetText()) == 0)
        chmod(dir.GetText(), go.m_nDirMode);
}

// Removes a directory with everything below it; a symbolic link is
// removed itself, never followed. Whatever could not be removed is traced.
void RemoveTree(const CRukString& dir)
{
    struct stat st;
    if (lstat(dir.GetText(), &st) != 0)
        return;
    bool bOk;
    if (!S_ISDIR(st.st_mode))
        bOk = unlink(dir.GetText()) == 0;
    else
        bOk = CRukDir::RemoveFiles(dir.GetText(), true, false) == 0 && rmdir(dir.GetText()) == 0;
    if (!bOk)
        go.m_log.Trace("-- %s could not be removed whole", dir.GetText());
}

// Builds "<select name=NAME>" with one option per name, the one equal to
// selected marked; names are escaped.
CRukString BuildSelect(const char* pName, const CRukStrAry& names, const CRukString& selected)
{
    CRukBuffer out;
    CRukString line;
    line.Format("<select name=%s>\n", pName);
    out.Append(line.GetText(), static_cast<unsigned>(line.GetLength()));
    for (int i = 0; i < names.GetSize(); i++) {
        CRukString name = CRukBBSFormBase::EscapeHtml(names[i].GetText());
        line.Format("<option value=\"%s\" %s>%s</option>\n", name.GetText(),
                    names[i] == selected ? "selected" : "", name.GetText());
        out.Append(line.GetText(), static_cast<unsigned>(line.GetLength()));
    }
    out.Append("</select>\n", 10);
    return BufferText(out);
}

// ---------------------------------------------------------------------------
// Common parts

bool CRukBBSFormConf::ParseMode(const char* pText, int& nMode)
{
    if (!pText || !*pText || strlen(pText) > 4 || strspn(pText, "01234567") != strlen(pText))
        return false;
    long n = strtol(pText, nullptr, 8);
    if (n > 0777)
        return false;
    nMode = static_cast<int>(n);
    return true;
}

// Applies the stored permission modes; empty or malformed ones are
// ignored so that files never get a mode nobody can read.
void CRukBBSFormConf::ApplySystemModes()
{
    ParseMode(m_cfSystem.Value("fmode666").GetText(), go.m_nFileMode);
    ParseMode(m_cfSystem.Value("fmode777").GetText(), go.m_nDirMode);
}

CRukString CRukBBSFormConf::BoardSettingsPath() const
{
    return CRukString(s_pRegistry) + "/" + m_strBBSID + ".conf";
}

// Loads the current board's settings; a held lock or a missing file ends
// the request.
void CRukBBSFormConf::ReadBoardSettings()
{
    int r = m_cfBBS.ReadFile(BoardSettingsPath().GetText(), true);
    if (r == -2)
        MessageKey("msg90");
    if (r == -1)
        MessageKey("msg11");
}

// Changes of the system settings and the registry need the administrator's
// password in the field admin_passwd.
void CRukBBSFormConf::CheckAdminPasswd(CRukForm& form)
{
    CRukString pw = form.Value("admin_passwd");
    if (pw.IsEmpty())
        MessageKey("msg01");
    if (!CRukCrypt::IsMatchEx(pw.GetText(), m_cfSystem.Value("admin").GetText()))
        MessageKey("msg03");
}

// Saves of a board need the board's password in the field passwd.
void CRukBBSFormConf::CheckBoardPasswd(CRukForm& form)
{
    CRukString pw = form.Value("passwd");
    if (pw.IsEmpty())
        MessageKey("msg01");
    if (!CRukCrypt::IsMatchEx(pw.GetText(), m_cfBBS.Value("passwd").GetText()))
        MessageKey("msg03");
}

// A data directory must not hold the site: the working directory, the
// board registry, the skins (the board's own and the skin tree) or the
// administration templates. Paths are compared resolved, so "..", "."
// and symbolic links cannot hide them.
bool CRukBBSFormConf::IsSiteInside(const char* pDataDir, const char* pSkinDir) const
{
    CRukString data;
    if (!pDataDir || !*pDataDir || !RealPath(pDataDir, data))
        return false;
    CRukString cwd;
    if (!RealPath(".", cwd) || IsInside(cwd, data))
        return true;
    const char* rgInner[] = {s_pRegistry, pSkinDir, "skin", m_strConfDir.GetText()};
    for (const char* pInner : rgInner) {
        CRukString inner;
        if (pInner && *pInner && RealPath(pInner, inner) && IsInside(inner, data))
            return true;
    }
    return false;
}

