// The request decoder: the steps of the pipeline described in rukform.h,
// each a few small functions that follow one rule of the grammar, then
// the CRukForm members that run them and build the fields.
#include "rukform.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <sys/time.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "rukglobal.h"
#include "rukstrpath.h"

namespace {

typedef CRukForm::Refusal Refusal;

// Longest extension kept in a stored file name, dot excluded.
const int s_nMaxExt = 16;
// Longest boundary parameter (RFC 2046).
const size_t s_nMaxBoundary = 70;
// Most parameters one header value may have; real ones have two or three,
// and the bound keeps the test for repeated names cheap.
const size_t s_nMaxParams = 16;
// Bytes of a field value shown in the trace log.
const unsigned s_nTraceValue = 60;

// A run of bytes inside the body or the query string.
struct Span {
    const char* p;
    size_t n;
};

// ---- Step 1: the body -------------------------------------------------

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

// Reads up to n bytes from the file descriptor; returns how many came
// before the end of input or an error.
size_t ReadFully(int fd, char* pData, size_t n)
{
    size_t nGot = 0;
    while (nGot < n) {
        ssize_t r = read(fd, pData + nGot, n - nGot);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        nGot += static_cast<size_t>(r);
    }
    return nGot;
}

// The body of a POST request: exactly CONTENT_LENGTH bytes of standard
// input. A request without a length, or not a POST, has no body.
Refusal ReadBody(const CRukEnv& env, CRukBuffer& body)
{
    if (strcasecmp(env.REQUEST_METHOD.GetText(), "POST") != 0 || env.CONTENT_LENGTH.IsEmpty())
        return Refusal::None;
    long nLength = ParseContentLength(env.CONTENT_LENGTH.GetText());
    if (nLength < 0)
        return Refusal::BadLength;
    if (nLength > CRukForm::s_nMaxBody)
        return Refusal::TooLarge;
    if (nLength == 0)
        return Refusal::None;
    body.Alloc(static_cast<unsigned>(nLength));
    if (ReadFully(STDIN_FILENO, body.GetData(), static_cast<size_t>(nLength)) < static_cast<size_t>(nLength)) {
        body.Free();
        return Refusal::Truncated;
    }
    return Refusal::None;
}

// ---- Header values: media types and Content-Disposition ----------------

// A header value "head *( OWS ";" OWS name "=" value ) OWS": the head in
// lower case (a token, or type "/" subtype), parameter names in lower
// case, values unquoted.
struct HeaderValue {
    std::string head;
    std::vector<std::pair<std::string, std::string>> params;

    // The value of a parameter, or null when it is absent.
    const std::string* Find(const char* pName) const
    {
        for (const auto& p : params)
            if (p.first == pName)
                return &p.second;
        return nullptr;
    }
};

bool IsOws(char c)
{
    return c == ' ' || c == '\t';
}

size_t SkipOws(const char* p, size_t n, size_t i)
{
    while (i < n && IsOws(p[i]))
        i++;
    return i;
}

// A token character (RFC 9110 tchar).
bool IsTokenChar(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           (c && strchr("!#$%&'*+-.^_`|~", c));
}

std::string Lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// Reads a token at i into out (lower case); false when there is none.
bool ReadToken(const char* p, size_t n, size_t& i, std::string& out)
{
    size_t nStart = i;
    while (i < n && IsTokenChar(static_cast<unsigned char>(p[i])))
        i++;
    out = Lower(std::string(p + nStart, i - nStart));
    return i > nStart;
}

// Reads a quoted string whose opening quote is at i. With bEscapes a
// backslash before a quote or a backslash stands for that character (any
// other backslash is itself, as in the Windows paths some browsers send);
// without, the string simply ends at the next quote. False when it never
// ends.
bool ReadQuoted(const char* p, size_t n, size_t& i, bool bEscapes, std::string& out)
{
    for (i++; i < n; i++) {
        if (p[i] == '"') {
            i++;
            return true;
        }
        if (bEscapes && p[i] == '\\' && i + 1 < n && (p[i + 1] == '"' || p[i + 1] == '\\'))
            i++;
        out += p[i];
    }
    return false;
}

// Reads a parameter value: a quoted string, or a run of visible bytes up
// to ";" (more lenient than a token, so that unquoted boundaries holding
// "/", ":" or "=" still read).
bool ReadValue(const char* p, size_t n, size_t& i, bool bEscapes, std::string& out)
{
    out.clear();
    if (i < n && p[i] == '"')
        return ReadQuoted(p, n, i, bEscapes, out);
    size_t nStart = i;
    while (i < n && static_cast<unsigned char>(p[i]) > ' ' && p[i] != ';' && p[i] != '"' &&
           p[i] != 0x7F)
        i++;
    out.assign(p + nStart, i - nStart);
    return i > nStart;
}

// Parses a header value; false when it breaks the grammar (the head is
// still filled when it read). A parameter named twice breaks it too, since
// two readers could then take different ones, and so do more than
// s_nMaxParams parameters.
bool ParseHeaderValue(const char* p, size_t n, bool bEscapes, HeaderValue& out)
{
    out = HeaderValue();
    size_t i = SkipOws(p, n, 0);
    if (!ReadToken(p, n, i, out.head))
        return false;
    if (i < n && p[i] == '/') {
        std::string sub;
        i++;
        if (!ReadToken(p, n, i, sub))
            return false;
        out.head += "/" + sub;
    }
    for (i = SkipOws(p, n, i); i < n; i = SkipOws(p, n, i)) {
        if (p[i] != ';')
            return false;
        i = SkipOws(p, n, i + 1);
        if (i == n || p[i] == ';')
            continue;  // an empty parameter
        std::string name, value;
        if (!ReadToken(p, n, i, name))
            return false;
        i = SkipOws(p, n, i);
        if (i == n || p[i] != '=')
            return false;
        i = SkipOws(p, n, i + 1);
        if (!ReadValue(p, n, i, bEscapes, value) || out.Find(name.c_str()) ||
            out.params.size() >= s_nMaxParams)
            return false;
        out.params.emplace_back(std::move(name), std::move(value));
    }
    return true;
}

// A boundary as RFC 2046 allows it: 1 to 70 of its characters, not
// ending in a blank.
bool IsValidBoundary(const std::string& b)
{
    if (b.empty() || b.size() > s_nMaxBoundary || b.back() == ' ')
        return false;
    for (unsigned char c : b)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
              (c && strchr("'()+_,-./:=? ", c))))
            return false;
    return true;
}

// ---- Step 2: the body's syntax ------------------------------------------

enum class Syntax { Plain, UrlEncoded, Multipart };

// The syntax named by CONTENT_TYPE and, for multipart, its boundary.
// Text that is no media type at all reads as plain text, as before.
Refusal PickSyntax(const char* pContentType, Syntax& syntax, std::string& boundary)
{
    HeaderValue type;
    bool bParsed = ParseHeaderValue(pContentType, strlen(pContentType), true, type);
    syntax = Syntax::Plain;
    if (type.head == "application/x-www-form-urlencoded")
        syntax = Syntax::UrlEncoded;
    if (type.head != "multipart/form-data")
        return Refusal::None;
    syntax = Syntax::Multipart;
    const std::string* pBoundary = type.Find("boundary");
    if (!bParsed || !pBoundary || !IsValidBoundary(*pBoundary))
        return Refusal::BadBoundary;
    boundary = *pBoundary;
    return Refusal::None;
}

// ---- Step 3: cutting into fields ----------------------------------------

// The fields of a request as runs of its bytes, in decoding order.
struct RequestPieces {
    std::vector<Span> parts;        // multipart body: the body parts
    std::vector<Span> bodyPieces;   // other bodies: the "&"-separated pieces
    bool bDecodeBody = false;       // the body pieces are URL-encoded
    std::vector<Span> queryPieces;  // the query string's pieces
};

// Adds the non-empty pieces of text separated by "&"; false when that
// would make more than nMax in out.
bool CutPieces(const char* p, size_t n, size_t nMax, size_t nHave, std::vector<Span>& out)
{
    for (size_t i = 0; i < n;) {
        const char* pAmp = static_cast<const char*>(memchr(p + i, '&', n - i));
        size_t nEnd = pAmp ? static_cast<size_t>(pAmp - p) : n;
        if (nEnd > i) {
            if (nHave + out.size() >= nMax)
                return false;
            out.push_back({p + i, nEnd - i});
        }
        i = nEnd + 1;
    }
    return true;
}

// A delimiter line: "--" boundary, then "--" (the closing delimiter) or
// transport padding (blanks) and CR LF.
struct Delimiter {
    size_t nAt;    // where it starts, with the CR LF before it
    size_t nNext;  // the first byte after it
    bool bClose;
};

// True when the text at i is "--" boundary and the rest of a delimiter
// line; fills nNext and bClose.
bool IsDelimiterLine(const char* p, size_t n, size_t i, const std::string& dash, Delimiter& d)
{
    if (n - i < dash.size() || memcmp(p + i, dash.data(), dash.size()) != 0)
        return false;
    size_t j = i + dash.size();
    if (n - j >= 2 && p[j] == '-' && p[j + 1] == '-') {
        d.nNext = j + 2;
        d.bClose = true;
        return true;
    }
    j = SkipOws(p, n, j);
    if (n - j >= 2 && p[j] == '\r' && p[j + 1] == '\n') {
        d.nNext = j + 2;
        d.bClose = false;
        return true;
    }
    return false;
}

// The next delimiter at or after nFrom: CR LF at the start of a delimiter
// line. "--" boundary anywhere else, or followed by other text, is content.
bool FindDelimiter(const char* p, size_t n, size_t nFrom, const std::string& dash, Delimiter& d)
{
    const std::string needle = "\r\n" + dash;
    while (nFrom < n) {
        const char* pHit =
            static_cast<const char*>(memmem(p + nFrom, n - nFrom, needle.data(), needle.size()));
        if (!pHit)
            return false;
        d.nAt = static_cast<size_t>(pHit - p);
        if (IsDelimiterLine(p, n, d.nAt + 2, dash, d))
            return true;
        nFrom = d.nAt + 1;
    }
    return false;
}

// Cuts a multipart body at its delimiter lines into its parts. The first
// delimiter may start the body (else a preamble comes before it); the
// closing delimiter must come. At most nMax parts.
Refusal CutMultipart(const char* p, size_t n, const std::string& boundary, size_t nMax,
                     std::vector<Span>& parts)
{
    const std::string dash = "--" + boundary;
    Delimiter d;
    if (!IsDelimiterLine(p, n, 0, dash, d) && !FindDelimiter(p, n, 0, dash, d))
        return Refusal::BadMultipart;
    while (!d.bClose) {
        size_t nStart = d.nNext;
        if (!FindDelimiter(p, n, nStart, dash, d))
            return Refusal::BadMultipart;
        if (parts.size() >= nMax)
            return Refusal::TooManyFields;
        parts.push_back({p + nStart, d.nAt - nStart});
    }
    return Refusal::None;
}

// Steps 2 and 3: the body's syntax, then the body and the query string
// cut into at most s_nMaxFields fields in all.
Refusal CutRequest(const char* pContentType, const CRukBuffer& body, const char* pQuery,
                   RequestPieces& out)
{
    const size_t nMax = CRukForm::s_nMaxFields;
    if (!body.IsEmpty()) {
        Syntax syntax;
        std::string boundary;
        Refusal r = PickSyntax(pContentType, syntax, boundary);
        if (r != Refusal::None)
            return r;
        if (syntax == Syntax::Multipart) {
            r = CutMultipart(body.GetData(), body.GetSize(), boundary, nMax, out.parts);
            if (r != Refusal::None)
                return r;
        } else {
            // As text the body ends at its first NUL byte.
            const char* pText = body.GetData();
            out.bDecodeBody = syntax == Syntax::UrlEncoded;
            if (!CutPieces(pText, strnlen(pText, body.GetSize()), nMax, 0, out.bodyPieces))
                return Refusal::TooManyFields;
        }
    }
    size_t nHave = out.parts.size() + out.bodyPieces.size();
    if (!CutPieces(pQuery, strlen(pQuery), nMax, nHave, out.queryPieces))
        return Refusal::TooManyFields;
    return Refusal::None;
}

// ---- Step 4: the fields of a part ---------------------------------------

// What the header lines of a body part say.
struct PartHeader {
    bool bDisposition = false;  // a Content-Disposition line was read
    bool bType = false;         // a Content-Type line was read
    bool bNamed = false;        // form-data with a name parameter
    bool bFile = false;         // a filename parameter was given
    std::string name;
    std::string fileName;
    std::string type;
};

// Reads the Content-Disposition value. Browsers write names as HTML form
// submission does (a quote as %22, no backslash escapes), and in
// Shift_JIS a character's second byte may be a backslash; other clients
// escape with a backslash. So escapes are tried first, and a value that
// does not parse with them is read with quoted strings taken literally.
bool ReadDisposition(const char* p, size_t n, PartHeader& h)
{
    HeaderValue v;
    if (!ParseHeaderValue(p, n, true, v) && !ParseHeaderValue(p, n, false, v))
        return false;
    if (v.head != "form-data")
        return true;  // not a form field: the part is skipped
    if (const std::string* pName = v.Find("name")) {
        h.bNamed = true;
        h.name = *pName;
    }
    if (const std::string* pFile = v.Find("filename")) {
        h.bFile = true;
        h.fileName = *pFile;
    }
    return true;
}

// One header line "Name: value"; a line holding no colon, a name that is
// no token, a control byte that ends lines, or a second line of a header
// that matters breaks the part. Other headers are ignored.
bool ReadHeaderLine(const char* p, size_t n, PartHeader& h)
{
    if (memchr(p, 0, n) || memchr(p, '\r', n) || memchr(p, '\n', n))
        return false;
    const char* pColon = static_cast<const char*>(memchr(p, ':', n));
    if (!pColon)
        return false;
    size_t nName = static_cast<size_t>(pColon - p);
    size_t i = 0;
    std::string name;
    if (!ReadToken(p, nName, i, name) || i != nName)
        return false;
    size_t nValue = nName + 1;
    size_t nEnd = n;
    nValue = SkipOws(p, n, nValue);
    while (nEnd > nValue && IsOws(p[nEnd - 1]))
        nEnd--;
    if (name == "content-disposition") {
        if (h.bDisposition)
            return false;
        h.bDisposition = true;
        return ReadDisposition(p + nValue, nEnd - nValue, h);
    }
    if (name == "content-type") {
        if (h.bType)
            return false;
        h.bType = true;
        h.type.assign(p + nValue, nEnd - nValue);
    }
    return true;
}

// Splits a body part into its header lines (each ended by CR LF) and its
// content after the empty line; a part may end right after its header
// lines (no content). False when a line is unfinished or broken.
bool ReadPart(const char* p, size_t n, PartHeader& h, Span& content)
{
    size_t i = 0;
    for (;;) {
        if (i == n) {
            content = {p + n, 0};
            return true;
        }
        const char* pEol = static_cast<const char*>(memmem(p + i, n - i, "\r\n", 2));
        if (!pEol)
            return false;
        size_t nEol = static_cast<size_t>(pEol - p);
        if (nEol == i) {
            content = {p + i + 2, n - i - 2};
            return true;
        }
        if (!ReadHeaderLine(p + i, nEol - i, h))
            return false;
        i = nEol + 2;
    }
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
