// CRukString: what the text is and other forms of it: the Japanese
// encoding it is written in, the expansion of a format, and hex and
// percent coding.
#include "rukstring.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "rukstring_block.h"

using rukstring::kMaxLength;
using rukstring::NewBlock;
using rukstring::TextLength;

// Classifies the encoding: 0 ASCII, 1 EUC-JP, 2 Shift_JIS, 3 ISO-2022-JP.
int CRukString::IsCode(const char* pText)
{
    if (!pText)
        return 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(pText);
    int nPairs = 0;
    while (*p) {
        unsigned char c = p[0];
        unsigned char d = p[1];
        if (c == 0x1B && d == '$')
            return 3;
        if (c < 0x80) {
            p++;
        } else if (c == 0x8E && d >= 0xA1 && d <= 0xDF) {
            nPairs++;
            p += 2;
        } else if (c <= 0x9F) {
            return 2;
        } else if (c <= 0xDF) {  // 0xA0-0xDF
            return (d == 0 || d < 0xA1) ? 2 : 1;
        } else if (c <= 0xFC && d != 0) {
            if (d <= 0xA0)
                return 2;
            nPairs++;
            p += 2;
        } else if (c >= 0xFD) {
            return 1;
        } else {
            p++;
        }
    }
    return nPairs > 0 ? 2 : 0;
}

CRukString& CRukString::Nkf(const char* pOption)
{
    *this = Nkf(pOption, GetText());
    return *this;
}

CRukString& CRukString::Format(const char* pFormat, ...)
{
    va_list args;
    va_start(args, pFormat);
    FormatV(pFormat, args);
    va_end(args);
    return *this;
}

// Expands the format once into a stack buffer; an expansion that does not
// fit is measured by that pass and expanded again into a block of its
// size, so nothing is ever cut. The arguments may point into this string:
// its text is replaced only after the expansion.
CRukString& CRukString::FormatV(const char* pFormat, va_list args)
{
    if (!pFormat) {
        Free();
        return *this;
    }
    char sz[1024];
    va_list again;
    va_copy(again, args);
    int n = vsnprintf(sz, sizeof(sz), pFormat, args);
    if (n < 0) {
        Free();  // an encoding error: nothing sound to keep
    } else if (static_cast<size_t>(n) < sizeof(sz)) {
        Assign(sz, TextLength(sz, static_cast<size_t>(n)));
    } else {
        char* p = NewBlock(static_cast<size_t>(n));
        vsnprintf(p, static_cast<size_t>(n) + 1, pFormat, again);
        AttachText(p, TextLength(p, static_cast<size_t>(n)), static_cast<size_t>(n));
    }
    va_end(again);
    return *this;
}

static int HexValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 0;
}

static const char s_szHex[] = "0123456789ABCDEF";

// Every two hex digits become one byte (a missing last digit counts 0).
CRukString CRukString::HexToChar() const
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(GetText());
    CRukString result;
    result.Reserve((GetLength() + 1) / 2);
    while (*p) {
        int hi = HexValue(*p++);
        int lo = *p ? HexValue(*p++) : 0;
        char c = static_cast<char>((hi << 4) | lo);
        if (c == 0)
            break;  // a string cannot hold a NUL byte
        result.AppendText(&c, 1);
    }
    if (result.IsEmpty())
        result.Free();
    return result;
}

CRukString CRukString::CharToHex() const
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(GetText());
    CRukString result;
    result.Reserve(static_cast<int>(std::min(2 * static_cast<size_t>(GetLength()), kMaxLength)));
    for (; *p; p++) {
        char sz[2] = {s_szHex[*p >> 4], s_szHex[*p & 15]};
        result.AppendText(sz, 2);
    }
    return result;
}

// "%" and two hex digits become a byte, "+" a blank. A "%" not followed
// by two hex digits is no escape and stays as typed, with what follows it.
// A decoded NUL ends the text, since a string holds no NUL byte. Runs of
// plain bytes are copied whole, so that a long value decodes quickly.
CRukString CRukString::PerHexToChar() const
{
    const char* p = GetText();
    size_t nIn = GetLength();
    char* pOut = NewBlock(nIn);
    size_t k = 0;
    for (;;) {
        size_t nRun = strcspn(p, "%+");
        memcpy(pOut + k, p, nRun);
        k += nRun;
        p += nRun;
        if (!*p)
            break;
        const unsigned char* q = reinterpret_cast<const unsigned char*>(p);
        char c = *p++;
        if (c == '+') {
            c = ' ';
        } else if (isxdigit(q[1]) && isxdigit(q[2])) {
            c = static_cast<char>((HexValue(q[1]) << 4) | HexValue(q[2]));
            p += 2;
            if (c == 0)
                break;
        }
        pOut[k++] = c;
    }
    pOut[k] = 0;
    CRukString result;
    if (k > 0)
        result.AttachText(pOut, k, nIn);
    else
        free(pOut);
    return result;
}

// Percent-encodes every byte but letters, digits and pKeep; a blank
// becomes "+". With bAll even letters and digits are encoded.
CRukString CRukString::PerHexImpl(const char* pKeep, bool bAll) const
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(GetText());
    CRukString result;
    result.Reserve(static_cast<int>(std::min(3 * static_cast<size_t>(GetLength()), kMaxLength)));
    for (; *p; p++) {
        if (*p == ' ') {
            result.AppendText("+", 1);
        } else if (!bAll && (isalnum(*p) && *p < 0x80)) {
            result.AppendText(reinterpret_cast<const char*>(p), 1);
        } else if (!bAll && strchr(pKeep, *p)) {
            result.AppendText(reinterpret_cast<const char*>(p), 1);
        } else {
            char sz[3] = {'%', s_szHex[*p >> 4], s_szHex[*p & 15]};
            result.AppendText(sz, 3);
        }
    }
    return result;
}

CRukString CRukString::CharToPerHex() const { return PerHexImpl("*-._", false); }
CRukString CRukString::CharToPerHexWithoutSlash() const { return PerHexImpl("*-._/", false); }
CRukString CRukString::CharToPerHexAll() const { return PerHexImpl("", true); }
