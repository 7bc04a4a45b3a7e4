// What the files of CRukMail share about the text of a mail: the limits
// of a line, bytes without control characters, the characters of
// Shift_JIS text that no fold may cut and what each costs once converted,
// Base64, and plain or encoded header values. (What a mail is made of is
// described in rukmail.h.)
#ifndef RUKMAIL_TEXT_H
#define RUKMAIL_TEXT_H

#include <cstddef>
#include <string>

#include "rukbuffer.h"

namespace rukmail {

// The longest line written where a line can be chosen (RFC 2047 and 5322
// recommend 76 and 78), and the longest run of ASCII without blank kept
// whole in a body line; every line stays below the 998 bytes of RFC 5322.
inline constexpr size_t kLineMax = 76;
inline constexpr size_t kUnbrokenMax = 900;

// The characters of an address besides letters and digits.
inline constexpr char kAtext[] = "!#$%&'*+/=?^_`{|}~-.";

inline bool IsAlnum(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

inline bool IsHalfKana(unsigned char c)
{
    return c >= 0xA1 && c <= 0xDF;
}

// Length of the character at p that no fold may cut: 2 for a Shift_JIS
// lead byte with a trail byte after it, and for a half-width katakana with
// the voiced or semi-voiced mark that joins it; else 1.
inline size_t UnitLen(const unsigned char* p, size_t n)
{
    bool bLead = (p[0] >= 0x81 && p[0] <= 0x9F) || (p[0] >= 0xE0 && p[0] <= 0xFC);
    if (bLead)
        return (n > 1 && p[1] >= 0x40 && p[1] != 0x7F) ? 2 : 1;
    return (IsHalfKana(p[0]) && n > 1 && (p[1] == 0xDE || p[1] == 0xDF)) ? 2 : 1;
}

// True for a character sent as a two-byte JIS character: a Shift_JIS pair
// or a half-width katakana.
inline bool IsWide(const unsigned char* p, size_t nLen)
{
    return nLen == 2 || IsHalfKana(p[0]);
}

// Bytes one character (UnitLen) adds to a text at most: its JIS bytes
// with a mode change, or its UTF-8 bytes.
inline size_t WordCharCost(const unsigned char* p, size_t nLen, bool bJis, bool& bKanji)
{
    bool bWide = IsWide(p, nLen);
    if (!bJis)
        return p[0] < 0x80 ? 1 : (IsHalfKana(p[0]) ? 3 * nLen : 3);
    size_t n = (bWide ? 2 : 1) + (bWide != bKanji ? 3 : 0);
    bKanji = bWide;
    return n;
}

inline std::string Base64(const std::string& bytes, int nWidth)
{
    CRukBuffer b64(bytes.data(), static_cast<unsigned>(bytes.size()));
    b64.Base64Encode(nWidth);
    return b64.GetData() ? std::string(b64.GetData(), b64.GetSize()) : std::string();
}

// The text without control bytes: line feeds and tabs are kept when
// bKeepLines (a body), else they become blanks (one header line); every
// other byte below 0x20 and DEL are dropped. Shift_JIS trail bytes are
// never in that range, so no character is cut.
std::string WithoutControls(const char* pText, bool bKeepLines);
// The text without blanks at either end.
std::string Trimmed(const std::string& text);

// A plain value folded before blanks, every line at most kLineMax long
// (rukmail_header.cpp). For text (bText) false when a word would not fit
// on a line or the value could be taken for an encoded word; a list of
// addresses or ids puts a word too long for a line on a line of its own
// (it is at most 254 bytes).
bool FoldPlain(const std::string& prefix, const std::string& text, std::string& out,
               bool bText = true);
// The value as encoded words, ISO-2022-JP when it fits JIS X 0208, else
// UTF-8; each word holds whole characters, and each line (the first after
// the prefix) is at most kLineMax long (rukmail_header.cpp).
std::string EncodeWords(const std::string& prefix, const std::string& text);

}  // namespace rukmail

#endif
