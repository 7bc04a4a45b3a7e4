// Helpers shared by the files that implement CRukBBSFormMain: numbers as
// text, keeping or dropping a block of the template, the size shown for an
// attachment, the header and footer of a board page, the stored date of a
// message and the site's URL. Internal to the board program.
#ifndef RUKBBSFORMMAIN_SHARED_H
#define RUKBBSFORMMAIN_SHARED_H

#include <climits>
#include <ctime>

#include "rukbbsformmain.h"
#include "rukfile.h"
#include "rukstring.h"

// The ideographic space.
inline const char* const s_pFiller = "\x81\x40";  // 　

inline CRukString Decimal(int n)
{
    return CRukString(n);
}

// The blocks of a template: the parts between "<!--NAME-->" and
// "<!--/NAME-->". Values never hold their markers (text is escaped, and
// the program's markup has none), so a block is found where the skin put
// it.
inline CRukString BlockOpen(const char* pName)
{
    return CRukString("<!--") + pName + "-->";
}

inline CRukString BlockClose(const char* pName)
{
    return CRukString("<!--/") + pName + "-->";
}

// The text of the first block pName of text; empty without one.
inline CRukString BlockText(const CRukString& text, const char* pName)
{
    return text.GetToken(BlockOpen(pName).GetText(), BlockClose(pName).GetText());
}

// Replaces every (or the first) block pName of text, markers and all, by
// with; the number replaced.
inline int ReplaceBlocks(CRukString& text, const char* pName, const CRukString& with,
                         bool bAll = true)
{
    return text.Replace(BlockOpen(pName).GetText(), BlockClose(pName).GetText(), with.GetText(),
                        bAll);
}

// Keeps every block pName of text, without its markers, when bKeep;
// else drops them whole.
inline void KeepBlock(CRukString& text, const char* pName, bool bKeep)
{
    if (bKeep) {
        text.Replace(BlockOpen(pName).GetText(), "", true);
        text.Replace(BlockClose(pName).GetText(), "", true);
    } else {
        ReplaceBlocks(text, pName, CRukString());
    }
}

// Threads per page: page numbers far beyond the board must not overflow
// the count of threads to skip.
inline int PageSkip(int nPage, int nPer)
{
    long long n = static_cast<long long>(nPage) * nPer;
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

// The size of an attachment in whole KB, at least 1 (also when missing).
inline int AttachKB(const CRukString& path)
{
    long n = CRukFile::GetFileSize(path.GetText()) / 1024;
    return n > 0 ? static_cast<int>(n) : 1;
}

// Reads a date in the exact form the board stores, "YYYY/MM/DD hh:mm:ss"
// (followed by anything); false for any other text. In
// rukbbsformmain_newmark.cpp.
bool ParseStoredDate(const char* p, int& y, int& mo, int& d, int& h, int& mi, int& s);
// Sets the calendar date and the time of day of tm.
void SetDateTime(struct tm& tm, int y, int mo, int d, int h, int mi, int s);

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
