// nkf_main: in-memory kanji code conversion with nkf-style options; and
// the conversions of Shift_JIS text the mail sender needs, which take the
// text as it is (no code detection, no MIME decoding).
#ifndef RUKNKF_H
#define RUKNKF_H

#include <string>

#include "rukstring.h"

CRukString nkf_main(const char* pOptions, const char* pInput, int nLength);

// True when every character of the Shift_JIS (CP932) text has a place in
// ISO-2022-JP: ASCII, JIS X 0208 (lead bytes 0x81-0x84, 0x88-0x9F,
// 0xE0-0xEA, and the few Windows extension characters that are JIS X 0208
// characters too) and half-width katakana (sent as their full-width
// forms). The rest of NEC's row 13 (①, Ⅲ, ㈱, №), the extension kanji (髙),
// user-defined characters and bytes that are no character make it false.
bool NkfFitsJis(const std::string& sjis);
// The Shift_JIS text as ISO-2022-JP ending in ASCII mode; meant for text
// NkfFitsJis accepts (anything else is converted as nkf_main "-j" does).
std::string NkfSjisToJis(const std::string& sjis);
// The Shift_JIS (CP932) text as UTF-8, through iconv; a byte that starts
// no character becomes "?".
std::string NkfSjisToUtf8(const std::string& sjis);

#endif
