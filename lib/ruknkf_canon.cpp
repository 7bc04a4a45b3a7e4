// The codes of nkf_main and its canonical form (steps 2 and 3 of a
// conversion, see ruknkf.cpp): detecting the code of plain text,
// converting each piece into EUC bytes of ASCII and JIS X 0208 pairs (with
// half-width katakana made full-width and the Windows extension kanji put
// where nkf puts them), and writing that as ISO-2022-JP or Shift_JIS.
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <string>

#include "ruknkf_impl.h"

namespace ruknkf {

namespace {

// JIS X 0208 codes of the half-width katakana 0xA1-0xDF, in that order.
const unsigned short s_kanaToJis[63] = {
    0x2123, 0x2156, 0x2157, 0x2122, 0x2126, 0x2572, 0x2521, 0x2523,  // A1-A8
    0x2525, 0x2527, 0x2529, 0x2563, 0x2565, 0x2567, 0x2543, 0x213C,  // A9-B0
    0x2522, 0x2524, 0x2526, 0x2528, 0x252A, 0x252B, 0x252D, 0x252F,  // B1-B8
    0x2531, 0x2533, 0x2535, 0x2537, 0x2539, 0x253B, 0x253D, 0x253F,  // B9-C0
    0x2541, 0x2544, 0x2546, 0x2548, 0x254A, 0x254B, 0x254C, 0x254D,  // C1-C8
    0x254E, 0x254F, 0x2552, 0x2555, 0x2558, 0x255B, 0x255E, 0x255F,  // C9-D0
    0x2560, 0x2561, 0x2562, 0x2564, 0x2566, 0x2568, 0x2569, 0x256A,  // D1-D8
    0x256B, 0x256C, 0x256D, 0x256F, 0x2573, 0x212B, 0x212C,          // D9-DF
};

// Length of the character at p in EUC-JP.
size_t EucCharLen(const unsigned char* p, size_t n)
{
    if (p[0] == 0x8F && n > 2 && p[1] >= 0xA1 && p[2] >= 0xA1)
        return 3;
    if ((p[0] == 0x8E || p[0] >= 0xA1) && n > 1 && p[1] >= 0xA1)
        return 2;
    return 1;
}

size_t ByteLen(const unsigned char*, size_t)
{
    return 1;
}

}  // namespace

int DetectCode(const std::string& text)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size();
    for (size_t i = 0; i + 2 < n; i++)
        if (p[i] == 0x1B && p[i + 1] == '$' && (p[i + 2] == '@' || p[i + 2] == 'B'))
            return CODE_JIS;
    size_t i = 0;
    while (i < n) {
        unsigned char c = p[i];
        if (c < 0x80) {
            i++;
            continue;
        }
        if (c <= 0x9F)
            return CODE_SJIS;
        if (c <= 0xDF || c >= 0xFD)
            return CODE_EUC;
        // 0xE0-0xFC leads in both codes: the next byte decides.
        if (i + 1 >= n)
            break;
        unsigned char d = p[i + 1];
        if (d >= 0x40 && d <= 0xA0)
            return CODE_SJIS;
        if (d >= 0xFD)
            return CODE_EUC;
        i += (d < 0x40) ? 1 : 2;
    }
    return CODE_SJIS;
}

size_t SjisCharLen(const unsigned char* p, size_t n)
{
    bool bLead = (p[0] >= 0x81 && p[0] <= 0x9F) || (p[0] >= 0xE0 && p[0] <= 0xFC);
    bool bTrail = n > 1 && p[1] >= 0x40 && p[1] <= 0xFC && p[1] != 0x7F;
    return (bLead && bTrail) ? 2 : 1;
}

// Converts n bytes, appending to out. A character that does not convert
// becomes "?" and the conversion goes on after it. When the codes are not
// available every byte at or above 0x80 becomes "?".
void CIconv::Append(const char* p, size_t n, std::string& out)
{
    if (m_cd == reinterpret_cast<iconv_t>(-1)) {
        for (size_t i = 0; i < n; i++)
            out += (static_cast<unsigned char>(p[i]) < 0x80) ? p[i] : '?';
        return;
    }
    char buf[4096];
    char* pIn = const_cast<char*>(p);
    size_t nIn = n;
    while (nIn > 0) {
        char* pOut = buf;
        size_t nOut = sizeof(buf);
        size_t r = iconv(m_cd, &pIn, &nIn, &pOut, &nOut);
        int nErr = errno;
        out.append(buf, static_cast<size_t>(pOut - buf));
        if (r != static_cast<size_t>(-1) || nErr == E2BIG)
            continue;
        // EILSEQ, or EINVAL for a character cut off by the end.
        size_t nSkip = m_pCharLen(reinterpret_cast<const unsigned char*>(pIn), nIn);
        out += '?';
        pIn += nSkip;
        nIn -= nSkip;
    }
    char* pOut = buf;
    size_t nOut = sizeof(buf);
    if (iconv(m_cd, nullptr, nullptr, &pOut, &nOut) != static_cast<size_t>(-1))
        out.append(buf, static_cast<size_t>(pOut - buf));
}

// Decodes ISO-2022-JP into EUC bytes: ESC $ @ and ESC $ B start two-byte
// text, ESC ( B, J and H return to ASCII, ESC ( I starts half-width
// katakana. Control bytes pass in every mode; bytes at or above 0x80 are
// not ISO-2022-JP and become "?".
void JisToEuc(const std::string& text, std::string& out)
{
    enum { MODE_ASCII, MODE_KANJI, MODE_KANA };
    int nMode = MODE_ASCII;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        unsigned char c = p[i];
        if (c == 0x1B && i + 2 < n) {
            unsigned char a = p[i + 1], b = p[i + 2];
            int nNew = -1;
            if (a == '$' && (b == '@' || b == 'B'))
                nNew = MODE_KANJI;
            else if (a == '(' && (b == 'B' || b == 'J' || b == 'H'))
                nNew = MODE_ASCII;
            else if (a == '(' && b == 'I')
                nNew = MODE_KANA;
            if (nNew >= 0) {
                nMode = nNew;
                i += 3;
                continue;
            }
        }
        if (c >= 0x80) {
            out += '?';
            i++;
        } else if (c <= 0x20 || c == 0x7F || nMode == MODE_ASCII) {
            out += static_cast<char>(c);
            i++;
        } else if (nMode == MODE_KANA) {
            if (c <= 0x5F) {
                out += '\x8e';
                out += static_cast<char>(c | 0x80);
            } else {
                out += '?';
            }
            i++;
        } else if (i + 1 < n && p[i + 1] > 0x20 && p[i + 1] < 0x7F) {
            out += static_cast<char>(c | 0x80);
            out += static_cast<char>(p[i + 1] | 0x80);
            i += 2;
        } else {
            out += '?';
            i++;
        }
    }
}

// Appends the JIS X 0208 code as an EUC pair.
void AppendPair(unsigned nJis, std::string& out)
{
    out += static_cast<char>(((nJis >> 8) & 0x7F) | 0x80);
    out += static_cast<char>((nJis & 0x7F) | 0x80);
}

// JIS code of a half-width katakana with the voiced or semi-voiced mark
// that follows it combined, or 0 when the two do not combine.
unsigned CombineKana(unsigned char cKana, unsigned char cMark)
{
    unsigned nJis = s_kanaToJis[cKana - 0xA1];
    if (cMark == 0xDE) {
        if (cKana == 0xB3)
            return 0x2574;  // ヴ
        if ((cKana >= 0xB6 && cKana <= 0xC4) || (cKana >= 0xCA && cKana <= 0xCE))
            return nJis + 1;
    } else if (cMark == 0xDF && cKana >= 0xCA && cKana <= 0xCE) {
        return nJis + 2;
    }
    return 0;
}

// JIS code of a Shift_JIS pair (lead 0x81-0x9F or 0xE0-0xEF).
unsigned SjisToJis(unsigned char cLead, unsigned char cTrail)
{
    unsigned nRow = (cLead <= 0x9F ? cLead - 0x81 : cLead - 0xC1) * 2 + 1;
    unsigned nCol;
    if (cTrail >= 0x9F) {
        nRow++;
        nCol = cTrail - 0x9E;
    } else {
        nCol = cTrail - 0x3F - (cTrail >= 0x80 ? 1 : 0);
    }
    return ((nRow + 0x20) << 8) | (nCol + 0x20);
}

// Shift_JIS pair of a JIS code.
void JisToSjis(unsigned nJis, std::string& out)
{
    unsigned nRow = ((nJis >> 8) & 0x7F) - 0x20;
    unsigned nCol = (nJis & 0x7F) - 0x20;
    unsigned nLead = (nRow + 1) / 2 + (nRow <= 62 ? 0x80 : 0xC0);
    unsigned nTrail = (nRow % 2) ? nCol + 0x3F + (nCol >= 64 ? 1 : 0) : nCol + 0x9E;
    out += static_cast<char>(nLead);
    out += static_cast<char>(nTrail);
}

// Index of a Shift_JIS pair in a lead byte's 188 trail positions.
unsigned TrailIndex(unsigned char cTrail)
{
    return cTrail < 0x7F ? cTrail - 0x40 : cTrail - 0x41;
}

// JIS code (rows 89-92) of a Windows extension character that iconv would
// leave outside JIS X 0208: the NEC-selected pairs 0xED40-0xEEFC as they
// are, and the IBM pairs 0xFA40-0xFC4B moved to their NEC-selected places.
// 0 for every other character.
unsigned WindowsExtToJis(unsigned char cLead, unsigned char cTrail)
{
    if (cTrail < 0x40 || cTrail > 0xFC || cTrail == 0x7F)
        return 0;
    if (cLead == 0xED || cLead == 0xEE)
        return SjisToJis(cLead, cTrail);
    if (cLead < 0xFA || cLead > 0xFC)
        return 0;
    unsigned nPos = (cLead - 0xFA) * 188 + TrailIndex(cTrail);
    unsigned nNec;
    if (nPos <= 9)
        nNec = 359 + 3 + nPos;  // small roman numerals: 0xEEEF-0xEEF8
    else if (nPos >= 21 && nPos <= 23)
        nNec = 359 + 14 + (nPos - 21);  // 0xFA55-0xFA57: 0xEEFA-0xEEFC
    else if (nPos >= 28 && nPos <= 387)
        nNec = nPos - 28;  // kanji, in the same order
    else
        return 0;
    unsigned char cNecLead = static_cast<unsigned char>(0xED + nNec / 188);
    unsigned nTrail = nNec % 188;
    return SjisToJis(cNecLead, static_cast<unsigned char>(nTrail < 63 ? 0x40 + nTrail : 0x41 + nTrail));
}

// Reduces eucJP-ms text to the canonical form: ASCII (no NUL) and pairs of
// JIS X 0208 rows 1-84 (rows 89-92 are added only by SjisToCanonical).
// Half-width katakana become full-width, combined
// with a following voiced mark; codes beyond the form become "?".
void Canonicalize(const std::string& euc, std::string& out)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(euc.data());
    size_t n = euc.size();
    size_t i = 0;
    while (i < n) {
        unsigned char c = p[i];
        size_t nLen = EucCharLen(p + i, n - i);
        if (c < 0x80) {
            if (c == 0)
                break;
            out += static_cast<char>(c);
        } else if (c == 0x8E && nLen == 2 && p[i + 1] <= 0xDF) {
            unsigned nJis = 0;
            if (i + 3 < n && p[i + 2] == 0x8E)
                nJis = CombineKana(p[i + 1], p[i + 3]);
            if (nJis) {
                nLen = 4;
            } else {
                nJis = s_kanaToJis[p[i + 1] - 0xA1];
            }
            AppendPair(nJis, out);
        } else if (c >= 0xA1 && c <= 0xF4 && nLen == 2 && p[i + 1] <= 0xFE) {
            out += static_cast<char>(c);
            out += static_cast<char>(p[i + 1]);
        } else {
            out += '?';
        }
        i += nLen;
    }
}

// Converts Shift_JIS (CP932) into the canonical form with iconv; the
// Windows extension kanji, which iconv can only give outside JIS X 0208,
// are put into rows 89-92 directly.
void SjisToCanonical(const std::string& text, std::string& out)
{
    CIconv conv("EUC-JP-MS", "CP932", SjisCharLen);
    std::string euc;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size();
    size_t nRun = 0;
    size_t i = 0;
    while (i < n) {
        size_t nLen = SjisCharLen(p + i, n - i);
        unsigned nJis = nLen == 2 ? WindowsExtToJis(p[i], p[i + 1]) : 0;
        if (nJis) {
            euc.clear();
            conv.Append(text.data() + nRun, i - nRun, euc);
            Canonicalize(euc, out);
            AppendPair(nJis, out);
            nRun = i + nLen;
        }
        i += nLen;
    }
    euc.clear();
    conv.Append(text.data() + nRun, n - nRun, euc);
    Canonicalize(euc, out);
}

// Writes canonical text as Shift_JIS: rows 89-92 directly, the rest with
// iconv.
void CanonicalToSjis(const std::string& text, std::string& out)
{
    CIconv conv("CP932", "EUC-JP-MS", EucCharLen);
    size_t nRun = 0;
    size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0xF9) {
            conv.Append(text.data() + nRun, i - nRun, out);
            JisToSjis(((c & 0x7F) << 8) | (static_cast<unsigned char>(text[i + 1]) & 0x7F), out);
            nRun = i + 2;
        }
        i += c >= 0x80 ? 2 : 1;
    }
    conv.Append(text.data() + nRun, text.size() - nRun, out);
}

void AppendCanonical(const Segment& seg, int nCode, std::string& out)
{
    if (nCode == CODE_SJIS || nCode == CODE_NONE) {
        SjisToCanonical(seg.text, out);
        return;
    }
    std::string euc;
    switch (nCode) {
    case CODE_JIS:
        JisToEuc(seg.text, euc);
        break;
    case CODE_EUC:
        CIconv("EUC-JP-MS", "EUC-JP-MS", EucCharLen).Append(seg.text.data(), seg.text.size(), euc);
        break;
    default:
        CIconv("EUC-JP-MS", "ISO-8859-1", ByteLen).Append(seg.text.data(), seg.text.size(), euc);
        break;
    }
    Canonicalize(euc, out);
}

void AppendJisChar(const char* p, bool bPair, bool& bKanji, std::string& out)
{
    if (bPair) {
        if (!bKanji)
            out += kEscKanji;
        bKanji = true;
        out += static_cast<char>(p[0] & 0x7F);
        out += static_cast<char>(p[1] & 0x7F);
    } else {
        if (bKanji)
            out += kEscAscii;
        bKanji = false;
        out += p[0];
    }
}

void CanonicalToJis(const std::string& text, std::string& out)
{
    bool bKanji = false;
    for (size_t i = 0; i < text.size();) {
        bool bPair = static_cast<unsigned char>(text[i]) >= 0x80;
        AppendJisChar(text.data() + i, bPair, bKanji, out);
        i += bPair ? 2 : 1;
    }
    if (bKanji)
        out += kEscAscii;
}

}  // namespace ruknkf
