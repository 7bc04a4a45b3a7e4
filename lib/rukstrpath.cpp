#include "rukstrpath.h"

#include <cstring>
#include <utility>

CRukStrPath::CRukStrPath() {}

CRukStrPath::CRukStrPath(const char* pPath) : CRukString(pPath) {}

CRukStrPath& CRukStrPath::operator=(const char* pPath)
{
    CRukString::operator=(pPath);
    return *this;
}

// Splits the text at "/" and "\" into directories, name, title and
// extension. Two-byte characters are skipped whole: for EUC-JP every byte
// with the high bit set starts one, for Shift_JIS every such byte but
// 0xA1-0xDF. Repeated separators add nothing; a leading separator gives an
// empty first directory.
CRukStrPath& CRukStrPath::Split(const char* pPath)
{
    if (pPath)
        CRukString::operator=(CRukString(pPath));
    m_aryDir.RemoveAll();
    m_strName.Free();
    m_strTitle.Free();
    m_strExt.Free();

    const unsigned char* p = reinterpret_cast<const unsigned char*>(GetText());
    int nLen = GetLength();
    int nCode = IsCode();
    int nStart = 0;
    for (int i = 0; i < nLen;) {
        unsigned char c = p[i];
        if (c >= 0x80 && (nCode == 1 || (nCode == 2 && !(c >= 0xA1 && c <= 0xDF)))) {
            i += (i + 1 < nLen) ? 2 : 1;
            continue;
        }
        if (c == '/' || c == '\\') {
            if (i > nStart || i == 0) {
                CRukString dir;
                dir.Append(GetText() + nStart, i - nStart);
                m_aryDir.Add(std::move(dir));
            }
            nStart = i + 1;
        }
        i++;
    }
    m_strName = GetText() + nStart;
    const char* pDot = strrchr(m_strName.GetText(), '.');
    if (pDot) {
        m_strExt = pDot;
        m_strTitle = m_strName.Left(m_strName.GetLength() - m_strExt.GetLength());
    } else {
        m_strTitle = m_strName;
    }
    return *this;
}

CRukString CRukStrPath::Directory(const char* pSep) const
{
    CRukString result;
    for (int i = 0; i < m_aryDir.GetSize(); i++) {
        if (i > 0)
            result += pSep;
        result += m_aryDir[i];
    }
    return result;
}

CRukString CRukStrPath::FullPath(const char* pSep) const
{
    CRukString result = Directory(pSep);
    result += pSep;
    result += m_strName;
    return result;
}

CRukString CRukStrPath::Normalize(const char* pPath)
{
    CRukStrPath path;
    CRukString text(pPath);
    text += "/";
    path.Split(text.GetText());
    return path.Directory("/");
}
