// The request decoder: the CRukForm members that run the steps of the
// pipeline described in rukform.h and build the fields, and the fields'
// lookups. The steps themselves follow the grammar in rukform_body.cpp
// (steps 1 to 3), rukform_header.cpp (header values) and
// rukform_multipart.cpp (multipart bodies), shared through
// rukform_grammar.h.
#include "rukform.h"

#include <cstdio>
#include <cstring>
#include <sys/time.h>
#include <utility>

#include "rukform_grammar.h"
#include "rukglobal.h"
#include "rukstrpath.h"

using namespace rukform;

namespace {

// Longest extension kept in a stored file name, dot excluded.
const int s_nMaxExt = 16;
// Bytes of a field value shown in the trace log.
const unsigned s_nTraceValue = 60;

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

// Text as the trace log shows it: at most nMax bytes, control bytes escaped.
CRukString Shown(const CRukString& s, unsigned nMax)
{
    return CRukLog::Printable(s.GetText(), static_cast<unsigned>(s.GetLength()), nMax);
}

// A string of n bytes of p up to the first NUL, which a string cannot hold.
CRukString TextOf(const char* p, size_t n)
{
    CRukString s;
    s.Append(p, static_cast<int>(strnlen(p, n)));
    return s;
}

}  // namespace

CRukForm::CRukForm()
    : CRukTagMap<CRukFormItem>(0, 10), m_nUploadTotal(0), m_refusal(Refusal::None), m_nLastStamp(0)
{
}

const char* CRukForm::RefusalName(Refusal refusal)
{
    switch (refusal) {
    case Refusal::None:
        return "none";
    case Refusal::BadLength:
        return "CONTENT_LENGTH is not a number";
    case Refusal::TooLarge:
        return "body too large";
    case Refusal::Truncated:
        return "body shorter than CONTENT_LENGTH";
    case Refusal::TooManyFields:
        return "too many fields";
    case Refusal::BadBoundary:
        return "multipart without a valid boundary";
    case Refusal::BadMultipart:
        return "malformed multipart body";
    }
    return "unknown";
}

void CRukForm::Reset()
{
    RemoveAll();
    m_nUploadTotal = 0;
    m_refusal = Refusal::None;
}

// Drops whatever was decoded, so that no part of a refused request is
// ever handed on, and records why.
void CRukForm::Refuse(Refusal refusal)
{
    Reset();
    m_refusal = refusal;
    go.m_log.Trace("-- QueryString refused: %s", RefusalName(refusal));
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

// Clears the form and decodes the request: the body is read whole first,
// and a body that cannot be is refused before anything is decoded.
int CRukForm::QueryString()
{
    Reset();
    const CRukEnv& env = go.m_env;
    go.m_log.Trace("-- QueryString %s CONTENT_LENGTH=[%s] CONTENT_TYPE=[%s]",
                   Shown(env.REQUEST_METHOD, 16).GetText(), Shown(env.CONTENT_LENGTH, 32).GetText(),
                   Shown(env.CONTENT_TYPE, 200).GetText());
    CRukBuffer body;
    Refusal r = ReadBody(env, body);
    if (r != Refusal::None) {
        Refuse(r);
        return 0;
    }
    return DecodeRequest(env.CONTENT_TYPE.GetText(), body, env.QUERY_STRING.GetText());
}

// Cuts the request into its fields (refusing too many before any is
// built), then builds the body's fields and the query string's.
int CRukForm::DecodeRequest(const char* pContentType, const CRukBuffer& body,
                            const char* pQuery)
{
    Reset();
    RequestPieces pieces;
    Refusal r = CutRequest(pContentType ? pContentType : "", body, pQuery ? pQuery : "", pieces);
    NameSet names;
    for (size_t i = 0; r == Refusal::None && i < pieces.parts.size(); i++)
        if (!AddPart(names, pieces.parts[i].p, pieces.parts[i].n))
            r = Refusal::BadMultipart;
    if (r != Refusal::None) {
        Refuse(r);
        return 0;
    }
    for (const Span& s : pieces.bodyPieces)
        AddPiece(names, s.p, s.n, pieces.bDecodeBody);
    for (const Span& s : pieces.queryPieces)
        AddPiece(names, s.p, s.n, true);
    TraceFields();
    return GetSize();
}

// Adds the field of a "name=value" piece (no "=": an empty name). With
// bDecode both are percent-decoded and CR LF in the value becomes LF.
void CRukForm::AddPiece(NameSet& names, const char* pPiece, size_t nPiece, bool bDecode)
{
    const char* pEq = static_cast<const char*>(memchr(pPiece, '=', nPiece));
    size_t nName = pEq ? static_cast<size_t>(pEq - pPiece) : 0;
    size_t nValue = pEq ? nName + 1 : 0;
    CRukString name = TextOf(pPiece, nName);
    CRukFormItem item;
    item.m_strValue = TextOf(pPiece + nValue, nPiece - nValue);
    if (bDecode) {
        name = name.PerHexToChar();
        item.m_strValue = item.m_strValue.PerHexToChar();
        item.m_strValue.Replace("\r\n", "\n", true);
    }
    AddItem(names, name.GetText(), std::move(item));
}

// Adds the field of a body part: a plain field's value is its content up
// to a NUL byte with CR LF made LF; a file field keeps the content's bytes,
// the file's base name and the part's Content-Type. A part without a name
// adds nothing. False when the part breaks its grammar.
bool CRukForm::AddPart(NameSet& names, const char* pPart, size_t nPart)
{
    PartHeader h;
    Span content;
    if (!ReadPart(pPart, nPart, h, content))
        return false;
    if (!h.bNamed)
        return true;
    CRukFormItem item;
    if (!h.bFile) {
        item.m_strValue = TextOf(content.p, content.n);
        item.m_strValue.Replace("\r\n", "\n", true);
    } else {
        CRukStrPath path;
        path.Split(h.fileName.c_str());
        item.m_strValue = path.GetName();
        if (!item.m_strValue.IsEmpty())
            item.m_strFileName = MakeStoredName(path.GetExt());
        item.m_strType = h.type.c_str();
        item.m_data = CRukBuffer(content.p, static_cast<unsigned>(content.n));
        m_nUploadTotal += static_cast<int>(content.n);
    }
    AddItem(names, h.name.c_str(), std::move(item));
    return true;
}

// One trace line per field: its name and size, a file field's base name
// and type, the start of a plain value; a password-like field's value is
// masked and its size not shown.
void CRukForm::TraceFields() const
{
    if (!go.m_log.IsActive())
        return;
    go.m_log.Trace("-- QueryString %d fields, %d bytes of files", GetSize(), m_nUploadTotal);
    for (const CRukFormPair& pair : *this) {
        const CRukFormItem& item = pair.m_data;
        CRukString name = Shown(pair.m_strTag, 64);
        if (CRukLog::IsSecretName(pair.m_strTag.GetText())) {
            go.m_log.Trace("   [%s] = [%s]", name.GetText(), CRukLog::s_pMask);
        } else if (!item.m_data.IsEmpty() || !item.m_strType.IsEmpty() ||
                   !item.m_strFileName.IsEmpty()) {
            go.m_log.Trace("   [%s] file [%s] type [%s] %u bytes", name.GetText(),
                           Shown(item.m_strValue, 64).GetText(), Shown(item.m_strType, 64).GetText(),
                           item.m_data.GetSize());
        } else {
            // A poster's name may carry a trip key after "#" or "＃": a
            // secret, left out.
            CRukString value = item.m_strValue;
            if (pair.m_strTag == "name") {
                for (const char* pMark : {"#", "\x81\x94"}) {
                    int n = value.Find(pMark);
                    if (n >= 0)
                        value = value.Left(n) + CRukLog::s_pMask;
                }
            }
            go.m_log.Trace("   [%s] %d bytes [%s]", name.GetText(), item.m_strValue.GetLength(),
                           Shown(value, s_nTraceValue).GetText());
        }
    }
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
