#include "rukform.h"

#include <cstdio>
#include <cstring>
#include <strings.h>
#include <sys/time.h>
#include <utility>

#include "rukglobal.h"
#include "rukstrary.h"
#include "rukstrpath.h"

namespace {

// Longest extension kept in a stored file name, dot excluded.
const int s_nMaxExt = 16;

// CONTENT_LENGTH as a number: -1 when it is not a plain decimal number,
// else its value, capped just above the largest body accepted.
long ParseContentLength(const char* pText)
{
    if (!*pText)
        return -1;
    long n = 0;
    for (const char* p = pText; *p; p++) {
        if (*p < '0' || *p > '9')
            return -1;
        if (n <= CRukForm::s_nMaxBody)
            n = n * 10 + (*p - '0');
    }
    return n;
}

// The extension of an uploaded file's name reduced to a dot and letters and
// digits, so that the name made from it is safe on disk and in pages.
CRukString SafeExtension(const CRukString& ext)
{
    CRukString out;
    const char* p = ext.GetText();
    if (*p != '.')
        return out;
    char sz[s_nMaxExt + 2];
    int n = 0;
    sz[n++] = '.';
    for (p++; *p && n <= s_nMaxExt; p++) {
        unsigned char c = static_cast<unsigned char>(*p);
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
            sz[n++] = static_cast<char>(c);
    }
    if (n > 1)
        out.Append(sz, n);
    return out;
}

}  // namespace

CRukForm::CRukForm()
    : CRukTagMap<CRukFormItem>(0, 10), m_nUploadTotal(0), m_bBodyRefused(false), m_nLastStamp(0)
{
}

// The names of the fields present, for the decoders' duplicate test.
CRukForm::NameSet CRukForm::CurrentNames() const
{
    NameSet names;
    for (int i = 0; i < m_nSize; i++)
        names.insert(m_pData[i].m_strTag.GetText());
    return names;
}

// Appends a decoded field unless its name is already present (the first
// field of a name wins). Returns 1 when added, 0 when dropped.
int CRukForm::AddItem(NameSet& names, const char* pName, CRukFormItem&& item)
{
    if (!names.insert(pName).second)
        return 0;
    CRukFormPair pair;
    pair.m_strTag = pName;
    pair.m_data = std::move(item);
    CRukAry<CRukFormPair>::Add(std::move(pair));
    return 1;
}

// A file name for an upload: seconds, three digits of milliseconds and the
// extension. Names made by one form never repeat, even within the same
// millisecond, so that two files of one post cannot overwrite each other.
CRukString CRukForm::MakeStoredName(const CRukString& ext)
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    long long nStamp = static_cast<long long>(tv.tv_sec) * 1000 + tv.tv_usec / 1000;
    if (nStamp <= m_nLastStamp)
        nStamp = m_nLastStamp + 1;
    m_nLastStamp = nStamp;
    CRukString name;
    name.Format("%ld%03d%s", static_cast<long>(nStamp / 1000), static_cast<int>(nStamp % 1000),
                SafeExtension(ext).GetText());
    return name;
}

// Clears the form and decodes the request: the POSTed body (by its content
// type) first, then the query string. A body whose length is not a plain
// number or exceeds s_nMaxBody is refused unread.
int CRukForm::QueryString()
{
    RemoveAll();
    m_nUploadTotal = 0;
    m_bBodyRefused = false;
    const CRukEnv& env = go.m_env;
    int nAdded = 0;
    if (strcasecmp(env.REQUEST_METHOD.GetText(), "POST") == 0 && !env.CONTENT_LENGTH.IsEmpty()) {
        long nLength = ParseContentLength(env.CONTENT_LENGTH.GetText());
        if (nLength < 0 || nLength > s_nMaxBody) {
            m_bBodyRefused = true;
            go.m_log.Trace("-- QueryString body refused, CONTENT_LENGTH=[%s]",
                           env.CONTENT_LENGTH.GetText());
        } else if (nLength > 0) {
            CRukBuffer body(static_cast<unsigned>(nLength));
            size_t nGot = 0;
            while (nGot < static_cast<size_t>(nLength)) {
                size_t n = fread(body.GetData() + nGot, 1, nLength - nGot, stdin);
                if (n == 0)
                    break;
                nGot += n;
            }
            const char* pType = env.CONTENT_TYPE.GetText();
            if (strstr(pType, "multipart/form-data"))
                nAdded += QueryMultipart(body);
            else if (strstr(pType, "application/x-www-form-urlencoded"))
                nAdded += QueryUrlEncoded(body.GetData());
            else
                nAdded += QueryTextPlain(body.GetData());
        }
    }
    nAdded += QueryUrlEncoded(env.QUERY_STRING.GetText());
    return nAdded;
}

// Adds the fields of "name=value&..." text, percent-decoded with CR LF
// turned into LF.
int CRukForm::QueryUrlEncoded(const char* pText)
{
    go.m_log.Trace("QueryUrlEncoded START\n --- QueryString dump start ---\n[%s]\n"
                   " --- QueryString dump  end ---",
                   pText ? pText : "");
    NameSet names = CurrentNames();
    CRukStrAry pieces;
    pieces.SetToken(pText, "&");
    int nAdded = 0;
    for (const CRukString& piece : pieces) {
        if (piece.IsEmpty())
            continue;
        CRukFormItem item;
        CRukString name;
        int nEq = piece.Find("=");
        if (nEq >= 0) {
            name = piece.Left(nEq).PerHexToChar();
            item.m_strValue = piece.Mid(nEq + 1).PerHexToChar();
        } else {
            item.m_strValue = piece.PerHexToChar();
        }
        item.m_strValue.Replace("\r\n", "\n", true);
        nAdded += AddItem(names, name.GetText(), std::move(item));
    }
    go.m_log.Trace("QueryUrlEncoded END item num=%d", GetSize());
    return nAdded;
}

// Adds the fields of "name=value&..." text taken as it is.
int CRukForm::QueryTextPlain(const char* pText)
{
    go.m_log.Trace("QueryTextPlain START\n --- QueryString dump start ---\n[%s]\n"
                   " --- QueryString dump  end ---",
                   pText ? pText : "");
    NameSet names = CurrentNames();
    CRukStrAry pieces;
    pieces.SetToken(pText, "&");
    int nAdded = 0;
    for (const CRukString& piece : pieces) {
        if (piece.IsEmpty())
            continue;
        CRukFormItem item;
        CRukString name;
        int nEq = piece.Find("=");
        if (nEq >= 0) {
            name = piece.Left(nEq);
            item.m_strValue = piece.Mid(nEq + 1);
        } else {
            item.m_strValue = piece;
        }
        nAdded += AddItem(names, name.GetText(), std::move(item));
    }
    go.m_log.Trace("QueryTextPlain END item num=%d", GetSize());
    return nAdded;
}

// Adds the fields of a multipart body. The boundary is the body's first
// line; each part is a header (whose quoted strings give the field name
// and, for a file, the file's path) and its content up to the CR LF before
// the next boundary.
int CRukForm::QueryMultipart(const CRukBuffer& body)
{
    const char* pData = body.GetData();
    go.m_log.Trace("QueryMultipart START\n --- QueryString dump start ---\n[%s]\n"
                   " --- QueryString dump  end ---",
                   pData ? pData : "");
    NameSet names = CurrentNames();
    int nAdded = 0;
    int nBoundary = body.Find("\r\n", 2, 0);
    unsigned nSize = body.GetSize();
    unsigned nPos = 0;
    while (nBoundary > 0) {
        int nNext = body.Find(pData, static_cast<unsigned>(nBoundary), nPos);
        unsigned nEnd = nNext >= 0 ? static_cast<unsigned>(nNext) : nSize;
        const char* pPart = pData + nPos;
        unsigned nPart = nEnd - nPos;
        const void* pHeaderEnd = memmem(pPart, nPart, "\r\n\r\n", 4);
        if (pHeaderEnd) {
            unsigned nHeader = static_cast<unsigned>(static_cast<const char*>(pHeaderEnd) - pPart);
            const char* pContent = pPart + nHeader + 4;
            unsigned nContent = nPart - nHeader - 4;
            nContent = nContent >= 2 ? nContent - 2 : 0;
            CRukString header;
            header.Append(pPart, static_cast<int>(strnlen(pPart, nHeader)));
            CRukStrAry quoted;
            quoted.SetToken(header.GetText(), "\"", "\"");
            CRukFormItem item;
            if (quoted.GetSize() == 1) {
                item.m_strValue.Append(pContent, static_cast<int>(strnlen(pContent, nContent)));
                item.m_strValue.Replace("\r\n", "\n", true);
                nAdded += AddItem(names, quoted[0].GetText(), std::move(item));
            } else if (quoted.GetSize() >= 2) {
                CRukStrPath path;
                path.Split(quoted[1].GetText());
                item.m_strValue = path.GetName();
                if (!item.m_strValue.IsEmpty())
                    item.m_strFileName = MakeStoredName(path.GetExt());
                int nType = header.Find("Content-Type: ");
                if (nType >= 0) {
                    item.m_strType = header.Mid(nType + 14);
                    int nEol = item.m_strType.FindOneOf("\r\n");
                    if (nEol >= 0)
                        item.m_strType.Delete(nEol);
                }
                item.m_data = CRukBuffer(pContent, nContent);
                m_nUploadTotal += static_cast<int>(nContent);
                nAdded += AddItem(names, quoted[0].GetText(), std::move(item));
            }
        }
        if (nNext < 0)
            break;
        nPos = static_cast<unsigned>(nNext) + static_cast<unsigned>(nBoundary);
    }
    go.m_log.Trace("QueryMultipart END item num=%d", GetSize());
    return nAdded;
}

CRukFormPair* CRukForm::Data(int i)
{
    return GetAt(i);
}

CRukFormPair* CRukForm::Data(const char* pName)
{
    return GetAt(GetIndex(pName));
}

const CRukFormPair* CRukForm::Data(const char* pName) const
{
    return GetAt(GetIndex(pName));
}

CRukString CRukForm::Value(int i) const
{
    const CRukFormPair* p = GetAt(i);
    return p ? p->m_data.m_strValue : CRukString();
}

CRukString CRukForm::Value(const char* pName) const
{
    const CRukFormPair* p = Data(pName);
    return p ? p->m_data.m_strValue : CRukString();
}

// Appends a plain field; -1 and no change when the name exists.
int CRukForm::Add(const char* pName, const char* pValue)
{
    if (GetIndex(pName) >= 0)
        return -1;
    CRukFormPair pair;
    pair.m_strTag = pName;
    pair.m_data.m_strValue = pValue;
    return CRukAry<CRukFormPair>::Add(std::move(pair));
}

// Sets a field to a plain value, dropping any file it held, or appends it.
int CRukForm::SetAt(const char* pName, const char* pValue)
{
    int i = GetIndex(pName);
    if (i < 0)
        return Add(pName, pValue);
    CRukFormItem item;
    item.m_strValue = pValue;
    m_pData[i].m_data = std::move(item);
    return i;
}

void CRukForm::Remove(const char* pName)
{
    int i = GetIndex(pName);
    if (i >= 0)
        RemoveAt(i);
}
