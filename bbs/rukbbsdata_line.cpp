// CRukBBSData on a line of the message file: the layout of the fields
// (see rukbbsdata.h), reading a record or only its keys from a line,
// writing a record as a line, telling whether a stored line is already
// what would be written, and looking for words in the fields a visitor
// sees.
#include <cstring>

#include "rukbbsdata_impl.h"

namespace rukbbsdata {

static const char s_cFieldSep = '\x1e';  // between fields
static const char s_cBodyBreak = '\x1d';  // a line feed of the body

// Positions 0-11 of a line, in order.
static CRukString CRukBBSData::*const s_aTextFields[] = {
    &CRukBBSData::id,    &CRukBBSData::pid,    &CRukBBSData::ppid,    &CRukBBSData::date,
    &CRukBBSData::name,  &CRukBBSData::mail,   &CRukBBSData::home,    &CRukBBSData::title,
    &CRukBBSData::mess,  &CRukBBSData::passwd, &CRukBBSData::resmail, &CRukBBSData::preform,
};
static const int s_nTextFields = sizeof(s_aTextFields) / sizeof(s_aTextFields[0]);
static const int s_nDateField = 3;
static const int s_nMessField = 8;
static const int s_nRemoteField = 12;  // the poster's address
static const int s_nIconField = 20;    // 13-19 are reserved and always empty
static const int s_nAttachField = 21;  // then name, thread id, name, ...

// The separator after the address, the seven empty reserved fields and the
// separator before the icon: eight separators in a row.
static const char s_szReserved[] = "\x1e\x1e\x1e\x1e\x1e\x1e\x1e\x1e";

// Sets an empty string to n bytes of p.
static void SetText(CRukString& str, const char* p, size_t n)
{
    if (n > 0)
        str.Append(p, static_cast<int>(n));
}

// Sets an empty string to the stored body: each 0x1D becomes a line feed.
static void SetBody(CRukString& str, const char* p, size_t n)
{
    if (n == 0)
        return;
    char* q = str.Alloc(static_cast<int>(n));
    memcpy(q, p, n);
    char* pEnd = q + n;
    while ((q = static_cast<char*>(memchr(q, s_cBodyBreak, pEnd - q))) != nullptr)
        *q++ = '\n';
}

// See rukbbsdata_impl.h.
bool ParseRecord(const char* p, size_t n, CRukBBSData& rec)
{
    const char* pEnd = p + n;
    if (!memchr(p, s_cFieldSep, n))
        return false;
    CRukStrPair pair;
    bool bPending = false;
    for (int nField = 0;; nField++) {
        const char* q = static_cast<const char*>(memchr(p, s_cFieldSep, pEnd - p));
        if (!q)
            q = pEnd;
        size_t nLen = static_cast<size_t>(q - p);
        if (nField == s_nMessField) {
            SetBody(rec.mess, p, nLen);
        } else if (nField < s_nTextFields) {
            SetText(rec.*s_aTextFields[nField], p, nLen);
        } else if (nField == s_nRemoteField) {
            SetText(rec.remote, p, nLen);
        } else if (nField == s_nIconField) {
            SetText(rec.icon, p, nLen);
        } else if (nField >= s_nAttachField) {
            if ((nField - s_nAttachField) % 2 == 0) {
                SetText(pair.m_strTag, p, nLen);
                bPending = true;
            } else {
                SetText(pair.m_data, p, nLen);
                // Appended as stored: lookups find the first pair of a name.
                rec.attach.CRukAry<CRukStrPair>::Add(std::move(pair));
                pair = CRukStrPair();
                bPending = false;
            }
        }
        if (q == pEnd)
            break;
        p = q + 1;
    }
    if (bPending)
        rec.attach.CRukAry<CRukStrPair>::Add(std::move(pair));
    return true;
}

bool ParseKeys(const char* p, size_t n, CRukBBSData& rec)
{
    const char* pEnd = p + n;
    if (!memchr(p, s_cFieldSep, n))
        return false;
    CRukString CRukBBSData::*const keys[] = {&CRukBBSData::id, &CRukBBSData::pid,
                                             &CRukBBSData::ppid};
    for (CRukString CRukBBSData::*pKey : keys) {
        const char* q = static_cast<const char*>(memchr(p, s_cFieldSep, pEnd - p));
        if (!q)
            q = pEnd;
        SetText(rec.*pKey, p, static_cast<size_t>(q - p));
        if (q == pEnd)
            break;
        p = q + 1;
    }
    return true;
}

// Writes one field in a form the line can hold: separators and stored
// line breaks are dropped; in the body a line feed becomes 0x1D and a
// carriage return is dropped, elsewhere both become a blank.
static void PutField(SFileWriter& out, const char* p, bool bBody)
{
    static const char s_szSpecial[] = "\x1e\x1d\r\n";
    while (*p) {
        size_t n = strcspn(p, s_szSpecial);
        if (n > 0)
            out.Put(p, n);
        p += n;
        if (!*p)
            break;
        char c = *p++;
        if (c == '\n')
            out.Put(bBody ? s_cBodyBreak : ' ');
        else if (c == '\r' && !bBody)
            out.Put(' ');
    }
}

// True when a stored line is exactly what PutRecord writes for the record
// ParseRecord reads from it, so that it can be copied as it is: no NUL or
// carriage return, 0x1D only in the body, the seven reserved fields after
// the address empty, and attachments in whole pairs. Every test is a
// memchr over the line or one field, so a long body costs a few vector
// passes.
bool IsCanonicalLine(const char* p, size_t n)
{
    if (memchr(p, 0, n) || memchr(p, '\r', n))
        return false;
    const char* pEnd = p + n;
    int nField = 0;
    for (;;) {
        const char* q = static_cast<const char*>(memchr(p, s_cFieldSep, pEnd - p));
        const char* pFieldEnd = q ? q : pEnd;
        if (nField != s_nMessField && memchr(p, s_cBodyBreak, pFieldEnd - p))
            return false;
        if (nField > s_nRemoteField && nField < s_nIconField && pFieldEnd != p)
            return false;  // a reserved field holds something
        if (!q)
            break;
        nField++;
        p = q + 1;
    }
    return nField >= s_nIconField && (nField - s_nIconField) % 2 == 0;
}

void PutRecord(SFileWriter& out, const CRukBBSData& rec)
{
    for (int i = 0; i < s_nTextFields; i++) {
        if (i > 0)
            out.Put(s_cFieldSep);
        PutField(out, (rec.*s_aTextFields[i]).GetText(), i == s_nMessField);
    }
    out.Put(s_cFieldSep);
    PutField(out, rec.remote.GetText(), false);
    out.Put(s_szReserved, sizeof(s_szReserved) - 1);
    PutField(out, rec.icon.GetText(), false);
    for (const CRukStrPair& pair : rec.attach) {
        out.Put(s_cFieldSep);
        PutField(out, pair.m_strTag.GetText(), false);
        out.Put(s_cFieldSep);
        PutField(out, pair.m_data.GetText(), false);
    }
    out.Put('\n');
}

// True for the fields a visitor sees of a message: the date, name, mail,
// home page, title and body, and the file names of the attachments. The
// keys, the password code, the switches, the address, the reserved
// fields, the icon and the thread ids of attachments are never searched.
static bool IsVisibleField(int nField)
{
    if (nField >= s_nAttachField)
        return (nField - s_nAttachField) % 2 == 0;
    return nField >= s_nDateField && nField <= s_nMessField;
}

// True when the word lies inside one visible field of the line.
static bool InVisibleField(const char* p, size_t n, const CRukString& word)
{
    const char* pWord = word.GetText();
    size_t nWord = static_cast<size_t>(word.GetLength());
    const char* pEnd = p + n;
    for (int nField = 0;; nField++) {
        const char* q = static_cast<const char*>(memchr(p, s_cFieldSep, pEnd - p));
        const char* pFieldEnd = q ? q : pEnd;
        if (IsVisibleField(nField) && memmem(p, pFieldEnd - p, pWord, nWord))
            return true;
        if (!q)
            return false;
        p = q + 1;
    }
}

// True when every word occurs in a field a visitor sees (an empty list
// matches everything). Most lines hold not all the words anywhere: the
// whole line (terminated in place) is looked at first, and only a line
// that holds them all is gone through field by field.
bool MatchesVisible(const char* p, size_t n, const CRukStrAry& words)
{
    for (const CRukString& word : words)
        if (!strstr(p, word.GetText()))
            return false;
    for (const CRukString& word : words)
        if (!InVisibleField(p, n, word))
            return false;
    return true;
}

bool FieldIs(const char* p, size_t n, int nField, const char* pKey, size_t nKey)
{
    const char* pEnd = p + n;
    for (int i = 0; i < nField; i++) {
        const char* q = static_cast<const char*>(memchr(p, s_cFieldSep, pEnd - p));
        if (!q)
            return false;
        p = q + 1;
    }
    const char* q = static_cast<const char*>(memchr(p, s_cFieldSep, pEnd - p));
    if (!q)
        return false;  // a line without a separator holds no record
    return static_cast<size_t>(q - p) == nKey && memcmp(p, pKey, nKey) == 0;
}

}  // namespace rukbbsdata
