#include "rukconfig.h"

#include <cstring>
#include <utility>

#include "rukatomicfile.h"
#include "rukfile.h"

CRukConfig::CRukConfig(bool bEncoded, int nGrowBy) : CRukStrMap(0, nGrowBy), m_bEncoded(bEncoded) {}

// Adds the entry of one line (its line feed included or not).
void CRukConfig::AddLine(CRukString& line)
{
    const char* p = line.GetText();
    if (p[0] == '#' || p[0] == '\n' || p[0] == 0)
        return;
    const char* pEq = strchr(p, '=');
    if (!pEq)
        return;
    CRukString name;
    name.Append(p, static_cast<int>(pEq - p));
    CRukString value;
    for (const char* q = pEq + 1; *q;) {
        size_t n = strcspn(q, "\r\n");
        value.Append(q, static_cast<int>(n));
        q += n;
        while (*q == '\r' || *q == '\n')
            q++;
    }
    if (m_bEncoded) {
        name = name.PerHexToChar();
        value = value.PerHexToChar();
    }
    Add(std::move(name), std::move(value));
}

int CRukConfig::ReadFile(const char* pPath, bool bLock, const char* pLockPath)
{
    RemoveAll();
    CRukFile file;
    int r = file.Open(pPath, "rb", bLock, pLockPath);
    if (r != 0)
        return r;
    CRukString line;
    while (file.ReadString(line) == 1)
        AddLine(line);
    file.Close();
    return GetSize();
}

int CRukConfig::Parse(const char* pText, unsigned nSize)
{
    const char* p = pText;
    const char* pEnd = pText + nSize;
    int nBefore = GetSize();
    while (p && p < pEnd) {
        const char* q = static_cast<const char*>(memchr(p, '\n', pEnd - p));
        const char* pLineEnd = q ? q + 1 : pEnd;
        CRukString line;
        // a NUL byte ends the line's text, as it would for fgets
        line.Append(p, static_cast<int>(strnlen(p, pLineEnd - p)));
        AddLine(line);
        p = pLineEnd;
    }
    return GetSize() - nBefore;
}

CRukString CRukConfig::Serialize() const
{
    CRukString text;
    for (int i = 0; i < GetSize(); i++) {
        const CRukStrPair& pair = (*this)[i];
        if (m_bEncoded) {
            text += pair.m_strTag.CharToPerHex();
            text += "=";
            text += pair.m_data.CharToPerHex();
        } else {
            text += pair.m_strTag;
            text += "=";
            text += pair.m_data;
        }
        text += "\n";
    }
    return text;
}

int CRukConfig::WriteFile(const char* pPath, bool bLock, const char* pLockPath)
{
    CRukFlock lock;
    if (bLock) {
        int r = lock.Lock(pLockPath, false);
        if (r != 0)
            return r;
    }
    CRukString text = Serialize();
    if (CRukFile::ReplaceFile(pPath, text.GetText(), text.GetLength()) < 0)
        return -1;
    return text.GetLength();
}
