// CRukBBSFormConf: where a board's files may be. The administration program
// saves only a data directory below the registry directory "data/" that is
// no other board's and holds no part of the site, and an NG-word file below
// "data/"; removing a board with its data removes only a directory that
// resolves below "data/" and is the board's own. Paths are compared after
// resolving ".", ".." and symbolic links.
#include "rukbbsformconf.h"

#include <string>
#include <sys/stat.h>
#include <vector>

#include "rukbbsformconf_shared.h"
#include "rukconfig.h"
#include "rukdir.h"
#include "rukstrpath.h"

// True for one path component the registry accepts: letters, digits, "_",
// "-" and "." (not first, so neither "." nor ".." nor a hidden name).
static bool IsPathComponent(const std::string& part)
{
    if (part.empty() || part[0] == '.')
        return false;
    for (char c : part)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '_' || c == '-' || c == '.'))
            return false;
    return true;
}

CRukString CRukBBSFormConf::DataRelativePath(const char* pText)
{
    CRukString trimmed(pText);
    trimmed.Trim();
    std::string text = trimmed.GetText();
    for (char& c : text)
        if (c == '\\')
            c = '/';
    if (text.empty() || text[0] == '/')
        return CRukString();
    std::vector<std::string> parts;
    size_t nStart = 0;
    while (nStart <= text.size()) {
        size_t nEnd = text.find('/', nStart);
        if (nEnd == std::string::npos)
            nEnd = text.size();
        std::string part = text.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        if (part.empty() || part == ".")
            continue;
        if (!IsPathComponent(part))
            return CRukString();
        parts.push_back(part);
    }
    if (parts.size() < 2 || parts[0] != s_pRegistry)
        return CRukString();
    std::string out;
    for (const std::string& part : parts)
        out += part + "/";
    return CRukString(out.c_str());
}

bool CRukBBSFormConf::IsOtherBoardsDir(const CRukString& resolved) const
{
    CRukStrAry files;
    (void)CRukDir::GetFileNameList(files, s_pRegistry, false, true);
    for (int i = 0; i < files.GetSize(); i++) {
        CRukStrPath name;
        name.Split(files[i].GetText());
        if (name.GetExt() != ".conf")
            continue;
        if (name.GetTitle() == m_strBBSID)
            continue;
        CRukConfig other(true);
        CRukString path = CRukString(s_pRegistry) + "/" + files[i];
        if (other.ReadFile(path.GetText(), true) < 0)
            continue;
        CRukString dir;
        const CRukString datadir = CRukSettingKeys::Text(other, kBoardDataDir);
        if (datadir.IsEmpty() || !RealPath(datadir.GetText(), dir))
            continue;
        if (IsInside(resolved, dir) || IsInside(dir, resolved))
            return true;
    }
    return false;
}

CRukString CRukBBSFormConf::CheckDataDir(const CRukString& text, const CRukString& skindir)
{
    CRukString trimmed = text;
    if (trimmed.Trim().IsEmpty())
        MessageKey(kMsgNoDataDir);
    CRukString rel = DataRelativePath(trimmed.GetText());
    if (rel.IsEmpty())
        MessageKey(kMsgDataDirRefused);
    CRukString path = rel.Left(rel.GetLength() - 1);  // a file of that name counts too
    if (!Exists(path))
        MessageKey(kMsgDataDirMissing);
    CRukString resolved = ResolvedBelowRegistry(path);
    if (resolved.IsEmpty() || !IsDirectory(resolved) || IsOtherBoardsDir(resolved) ||
        IsSiteInside(resolved.GetText(), skindir.GetText()))
        MessageKey(kMsgDataDirRefused);
    return rel;
}

CRukString CRukBBSFormConf::CheckNgFile(const CRukString& text)
{
    return CheckListFile(text, {".ng", ".txt"}, kMsgBadNgFile);
}

CRukString CRukBBSFormConf::CheckListFile(const CRukString& text,
                                          std::initializer_list<const char*> exts,
                                          const char* pRefusal)
{
    CRukString trimmed = text;
    if (trimmed.Trim().IsEmpty())
        return CRukString();
    CRukString rel = DataRelativePath(trimmed.GetText());
    if (rel.IsEmpty())
        MessageKey(pRefusal);
    rel = rel.Left(rel.GetLength() - 1);  // a file: no closing "/"
    CRukStrPath name;
    name.Split(rel.GetText());
    bool bKnownExt = false;
    for (const char* pExt : exts)
        bKnownExt = bKnownExt || name.GetExt() == pExt;
    if (!bKnownExt)
        MessageKey(pRefusal);
    // Its directory must resolve into data/, and the file, when it is
    // there, must be a plain file that does too.
    CRukString dir, registry;
    if (!RealPath(name.Directory("/").GetText(), dir) || !RealPath(s_pRegistry, registry) ||
        !IsInside(dir, registry))
        MessageKey(pRefusal);
    struct stat st;
    if (lstat(rel.GetText(), &st) == 0) {
        CRukString resolved = ResolvedBelowRegistry(rel);
        if (resolved.IsEmpty() || stat(resolved.GetText(), &st) != 0 || !S_ISREG(st.st_mode))
            MessageKey(pRefusal);
    }
    return rel;
}

CRukString CRukBBSFormConf::OwnDataDir(const CRukString& datadir)
{
    if (datadir.IsEmpty())
        return CRukString();
    CRukString resolved = ResolvedBelowRegistry(datadir);
    if (resolved.IsEmpty() || !IsDirectory(resolved) || IsOtherBoardsDir(resolved) ||
        IsSiteInside(resolved.GetText(), CRukSettingKeys::Text(m_cfBBS, kBoardSkinDir).GetText()))
        return CRukString();
    return resolved;
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

