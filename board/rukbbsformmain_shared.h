// Helpers shared by the files that implement CRukBBSFormMain: filling a
// tag, escaping visitor text for a pattern, joining the pieces of a page,
// the size shown for an attachment and the header and footer of a board
// page. Internal to the board program.
#ifndef RUKBBSFORMMAIN_SHARED_H
#define RUKBBSFORMMAIN_SHARED_H

#include <climits>

#include "rukbbsformmain.h"
#include "rukbuffer.h"
#include "rukfile.h"
#include "rukstring.h"

// The ideographic space.
inline const char* const s_pFiller = "\x81\x40";  // 　

// Replaces the first (or every) pTag in text by the value.
inline void Tag(CRukString& text, const char* pTag, const char* pValue, bool bAll = false)
{
    text.Replace(pTag, pValue ? pValue : "", bAll);
}

inline CRukString Decimal(int n)
{
    return CRukString(n);
}


// Visitor text for a message pattern or the input form: HTML-escaped, and
// with "%" written as a character reference, so that a value holding a tag
// name ("%MESSAGE%") is not filled by a later tag of the same pattern. The
// browser shows and submits the reference as "%", so nothing typed is lost.
inline CRukString EscapeField(const CRukString& value)
{
    CRukString text = CRukBBSFormBase::EscapeHtml(value.GetText());
    if (text.Find("%") >= 0)
        text.Replace("%", "&#37;", true);
    return text;
}

// Keeps every block pName of text, without its markers, when bKeep;
// else drops them whole.
inline void KeepBlock(CRukString& text, const char* pName, bool bKeep)
{
    CRukString open = CRukString("<!--") + pName + "-->";
    CRukString close = CRukString("<!--/") + pName + "-->";
    if (bKeep) {
        text.Replace(open.GetText(), "", true);
        text.Replace(close.GetText(), "", true);
    } else {
        text.Replace(open.GetText(), close.GetText(), "", true);
    }
}

// Threads per page: page numbers far beyond the board must not overflow
// the count of threads to skip.
inline int PageSkip(int nPage, int nPer)
{
    long long n = static_cast<long long>(nPage) * nPer;
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

// Appends one rendered message or thread to a part of the page. The buffer
// grows geometrically, so a page of many messages is joined in linear time.
inline void AddPiece(CRukBuffer& out, const CRukString& piece)
{
    out.Append(piece.GetText(), static_cast<unsigned>(piece.GetLength()));
}

// The joined pieces as text; the buffer is left empty.
inline CRukString Joined(CRukBuffer& out)
{
    CRukString text;
    text.Attach(out.Detach());
    return text;
}

// The size of an attachment in whole KB, at least 1 (also when missing).
inline int AttachKB(const CRukString& path)
{
    long n = CRukFile::GetFileSize(path.GetText()) / 1024;
    return n > 0 ? static_cast<int>(n) : 1;
}

// Fills the header and footer tags shared by the board and search pages:
// the old-log heading, the board's header and footer, the board id, the
// list of old logs.
void FillHeaderFooter(CRukBBSFormMain& bbs, CRukString& page);

// The site as the system setting site_url names it
// ("https://bbs.example.jp/bbs/"), in rukbbsformmain_link.cpp.
struct SSiteUrl {
    CRukString host;    // the host name, lower case
    CRukString origin;  // "scheme://host[:port]"
    CRukString base;    // the URL of the programs' directory, ends with "/"
};
// Splits "http(s)://host[:port][/path/]" into its parts; false for
// anything else (a query, a fragment, user information, characters a URL
// does not hold).
bool ParseSiteUrl(const CRukString& url, SSiteUrl& site);
// A host name of letters, digits, "-" and dots, in lower case; empty when
// the n bytes at p are not one.
CRukString HostName(const char* p, size_t n);
// True for a URL path of unreserved and sub-delimiter characters, "/",
// "%", ":" and "@": nothing that ends an attribute, a line or a link.
bool IsUrlPath(const char* p);

#endif
