// CRukForm and CRukFormItem: the decoded request. The posted body
// (URL-encoded, multipart with file uploads, or plain text) comes first,
// then the query string; the first field of a name wins. Values keep the
// bytes the browser sent.
#ifndef RUKFORM_H
#define RUKFORM_H

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

    CRukForm();
    ~CRukForm() override = default;

    // Clears the form and decodes the CGI request; returns the items added.
    int QueryString();
    int QueryUrlEncoded(const char* pText);
    int QueryTextPlain(const char* pText);
    int QueryMultipart(const CRukBuffer& body);

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
    // True when the request claimed a body that was too large or whose
    // length was not a number; such a body is never read.
    bool IsBodyRefused() const { return m_bBodyRefused; }

private:
    // Names already present, so that decoding a large body looks each
    // field up once instead of scanning the whole form.
    typedef std::unordered_set<std::string> NameSet;

    NameSet CurrentNames() const;
    int AddItem(NameSet& names, const char* pName, CRukFormItem&& item);
    CRukString MakeStoredName(const CRukString& ext);

    int m_nUploadTotal;
    bool m_bBodyRefused;
    long long m_nLastStamp;  // milliseconds of the last stored name made
};

#endif
