// CRukForm and CRukFormItem: the decoded request. The posted body comes
// first, then the query string; the first field of a name wins. Values
// keep the bytes the browser sent.
//
// Decoding is a pipeline of small steps, each one rule of the request's
// grammar (CGI, RFC 3875; multipart/form-data, RFC 7578 with RFC 2046):
//   1. read the body whole: exactly CONTENT_LENGTH bytes, or refuse;
//   2. pick the body's syntax by the media type of CONTENT_TYPE:
//      multipart/form-data (its boundary parameter required),
//      application/x-www-form-urlencoded, anything else plain text;
//   3. cut the body and the query string into fields (pieces between "&",
//      or parts between delimiter lines) without copying them, counting
//      them against s_nMaxFields as it goes;
//   4. build the fields: percent-decoding of URL-encoded pieces ("+" a
//      blank, a "%" without two hex digits kept as typed, CR LF in values
//      made LF); for a part, its header lines and the parameters of its
//      Content-Disposition by name. A part without a name is skipped; a
//      part with a filename parameter, even an empty one, is a file field.
// A request that breaks a rule is refused as a whole: the form is left
// empty and GetRefusal() says why. Nothing is decoded from a body that was
// not read whole.
//
// The trace log gets the field names and sizes, never the body or the
// query string as sent; the values of password-like fields are masked.
#ifndef RUKFORM_H
#define RUKFORM_H

#include <cstddef>
#include <string>
#include <unordered_set>

#include "rukbuffer.h"
#include "rukstring.h"
#include "ruktagmap.h"

class CRukFormItem {
public:
    CRukString m_strValue;     // the value; for a file field its base name
    CRukString m_strFileName;  // file fields: unique stored name made at decoding
    CRukString m_strType;      // file fields: the part's Content-Type text
    CRukBuffer m_data;         // file fields: the file's bytes
};

typedef CRukTagDat<CRukFormItem> CRukFormPair;

class CRukForm : public CRukTagMap<CRukFormItem> {
public:
    // Bodies larger than this are not read at all.
    static const long s_nMaxBody = 64L * 1024 * 1024;
    // Most fields one request may carry, body and query string together.
    static const int s_nMaxFields = 1000;

    // Why a request was refused.
    enum class Refusal {
        None,
        BadLength,      // CONTENT_LENGTH is not a plain decimal number
        TooLarge,       // CONTENT_LENGTH is above s_nMaxBody
        Truncated,      // the body ended, or reading failed, before CONTENT_LENGTH bytes
        TooManyFields,  // more than s_nMaxFields fields
        BadBoundary,    // multipart/form-data without a valid boundary parameter
        BadMultipart,   // a multipart body that breaks its grammar
    };

    CRukForm();
    ~CRukForm() override = default;

    // Clears the form and decodes the CGI request (the environment and
    // standard input); returns the fields added, 0 when refused.
    int QueryString();
    // Clears the form and decodes a request given by its parts: the
    // CONTENT_TYPE text, the body as read (empty: none) and the query
    // string. Returns the fields added, 0 when refused.
    int DecodeRequest(const char* pContentType, const CRukBuffer& body, const char* pQuery);

    CRukFormPair* Data(int i);
    CRukFormPair* Data(const char* pName);
    const CRukFormPair* Data(const char* pName) const;
    CRukString Value(int i) const;
    CRukString Value(const char* pName) const;
    int Add(const char* pName, const char* pValue);
    int SetAt(const char* pName, const char* pValue);
    // Removes the field when present.
    void Remove(const char* pName);

    // Sum of the byte sizes of every file body decoded so far.
    int GetUploadTotal() const { return m_nUploadTotal; }
    // True when the request was refused (see Refusal); the form is empty
    // then, and the programs answer with the catalogue message "msg24".
    bool IsBodyRefused() const { return m_refusal != Refusal::None; }
    Refusal GetRefusal() const { return m_refusal; }
    // A short English name of the refusal for the trace log.
    static const char* RefusalName(Refusal refusal);

private:
    // Names already present, so that decoding looks each field up once
    // instead of scanning the whole form.
    typedef std::unordered_set<std::string> NameSet;

    void Reset();
    void Refuse(Refusal refusal);
    int AddItem(NameSet& names, const char* pName, CRukFormItem&& item);
    void AddPiece(NameSet& names, const char* pPiece, size_t nPiece, bool bDecode);
    [[nodiscard]] bool AddPart(NameSet& names, const char* pPart, size_t nPart);
    CRukString MakeStoredName(const CRukString& ext);
    void TraceFields() const;

    int m_nUploadTotal;
    Refusal m_refusal;
    long long m_nLastStamp;  // milliseconds of the last stored name made
};

#endif
