// nkf_main: kanji code conversion for mail bodies and mail headers.
//
// Every call works in three steps and keeps no state between calls:
//   1. MIME encoded words of the input are decoded; the rest is plain text.
//   2. The plain text's code is detected (ISO-2022-JP by its escapes, else
//      the first byte at or above 0x80: 0x80-0x9F Shift_JIS, 0xA0-0xDF
//      EUC-JP, from 0xE0 a following byte decides) and every piece is
//      converted with iconv into one canonical form: EUC bytes holding
//      only ASCII and two-byte JIS pairs (JIS X 0208 rows 1-84 with NEC
//      row 13, and rows 89-92 for the Windows extension kanji, placed as
//      nkf places them). Half-width katakana become full-width ones; a
//      character that has no place in that form (user-defined characters,
//      JIS X 0212) becomes "?".
//   3. The canonical form is written as ISO-2022-JP ("-j"), as MIME encoded
//      words of ISO-2022-JP ("-jM"), or as Shift_JIS (no "j").
#include "ruknkf.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <string>
#include <strings.h>
#include <utility>
#include <vector>

#include "rukbuffer.h"

namespace {

enum {
    CODE_NONE,  // plain text whose code is still to be detected
    CODE_SJIS,
    CODE_EUC,
    CODE_JIS,
    CODE_LATIN1,
};

// The longest encoded text looked at after "=?charset?X?"; it bounds the
// scan so that a text full of unterminated words still costs linear time.
const size_t s_nMaxEncoded = 1024;

// JIS bytes per produced encoded word: 42 bytes are 56 Base64 characters,
// so a word ("=?ISO-2022-JP?B?" + 56 + "?=") is 74 characters long.
const size_t s_nMaxWordBytes = 42;

const char s_szEscKanji[] = "\x1b$B";
const char s_szEscAscii[] = "\x1b(B";

// The MIME charsets recognised in encoded words.
struct MimeCharset {
    const char* pName;
    int nCode;
};

const MimeCharset s_mimeCharsets[] = {
    {"ISO-2022-JP", CODE_JIS},
    {"EUC-JP", CODE_EUC},
    {"SHIFT_JIS", CODE_SJIS},
    {"ISO-8859-1", CODE_LATIN1},
};

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

struct Options {
    bool bJis;   // "j": ISO-2022-JP output (else Shift_JIS)
    bool bMime;  // "M": MIME encoded words of ISO-2022-JP
};

// A piece of the input: plain text or the bytes of one decoded word.
struct Segment {
    std::string text;
    int nCode;
};

// Reads nkf-style switches ("-" and letters); unknown letters are ignored.
Options ParseOptions(const char* pOptions)
{
    Options opt = {false, false};
    bool bSwitch = false;
    for (const char* p = pOptions; *p; p++) {
        if (*p == '-')
            bSwitch = true;
        else if (*p == ' ')
            bSwitch = false;
        else if (bSwitch && *p == 'j')
            opt.bJis = true;
        else if (bSwitch && *p == 'M')
            opt.bMime = true;
    }
    return opt;
}

bool IsBlank(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Value of one Base64 character, -1 for anything else.
int Base64Value(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

int HexValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Decodes the text of a "B" word; characters outside the alphabet are
// skipped and "=" ends it.
std::string DecodeB(const char* p, size_t n)
{
    std::string out;
    unsigned nBits = 0;
    int nHave = 0;
    for (size_t i = 0; i < n && p[i] != '='; i++) {
        int v = Base64Value(static_cast<unsigned char>(p[i]));
        if (v < 0)
            continue;
        nBits = (nBits << 6) | static_cast<unsigned>(v);
        nHave += 6;
        if (nHave >= 8) {
            nHave -= 8;
            out += static_cast<char>((nBits >> nHave) & 0xFF);
        }
    }
    return out;
}

// Decodes the text of a "Q" word: "_" is a space, "=" and two hex digits a
// byte, everything else itself.
std::string DecodeQ(const char* p, size_t n)
{
    std::string out;
    for (size_t i = 0; i < n; i++) {
        if (p[i] == '_') {
            out += ' ';
        } else if (p[i] == '=' && i + 2 < n && HexValue(p[i + 1]) >= 0 &&
                   HexValue(p[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(p[i + 1]) * 16 + HexValue(p[i + 2]));
            i += 2;
        } else {
            out += p[i];
        }
    }
    return out;
}

// Recognises an encoded word "=?charset?B|Q?text?=" at p. Returns its
// length (0 when there is none) and fills the decoded bytes and their code.
size_t ParseEncodedWord(const char* p, const char* pEnd, Segment& word)
{
    if (pEnd - p < 2 || p[0] != '=' || p[1] != '?')
        return 0;
    for (const MimeCharset& cs : s_mimeCharsets) {
        size_t nName = strlen(cs.pName);
        if (static_cast<size_t>(pEnd - p) < nName + 7)
            continue;
        if (strncasecmp(p + 2, cs.pName, nName) != 0 || p[2 + nName] != '?' ||
            p[4 + nName] != '?')
            continue;
        char cEnc = p[3 + nName];
        if (cEnc != 'B' && cEnc != 'b' && cEnc != 'Q' && cEnc != 'q')
            continue;
        const char* pText = p + 5 + nName;
        const char* pStop = pEnd - pText > static_cast<long>(s_nMaxEncoded)
                                ? pText + s_nMaxEncoded
                                : pEnd;
        const char* q = pText;
        while (q < pStop && *q != '?' && !IsBlank(static_cast<unsigned char>(*q)))
            q++;
        if (q + 1 >= pEnd || q[0] != '?' || q[1] != '=')
            return 0;
        size_t nText = static_cast<size_t>(q - pText);
        word.text = (cEnc == 'B' || cEnc == 'b') ? DecodeB(pText, nText) : DecodeQ(pText, nText);
        word.nCode = cs.nCode;
        return static_cast<size_t>(q + 2 - p);
    }
    return 0;
}

// Cuts the input into plain text and decoded words. Blanks between two
// encoded words are dropped, as mail readers do.
std::vector<Segment> SplitMime(const char* p, size_t n)
{
    std::vector<Segment> segs;
    Segment plain = {std::string(), CODE_NONE};
    bool bAfterWord = false;  // the plain text so far follows a word and is blank
    const char* pEnd = p + n;
    while (p < pEnd) {
        Segment word = {std::string(), CODE_NONE};
        size_t nWord = (*p == '=') ? ParseEncodedWord(p, pEnd, word) : 0;
        if (nWord == 0) {
            if (!IsBlank(static_cast<unsigned char>(*p)))
                bAfterWord = false;
            plain.text += *p++;
            continue;
        }
        if (bAfterWord)
            plain.text.clear();
        if (!plain.text.empty()) {
            segs.push_back(std::move(plain));
            plain = Segment{std::string(), CODE_NONE};
        }
        segs.push_back(std::move(word));
        bAfterWord = true;
        p += nWord;
    }
    if (!plain.text.empty())
        segs.push_back(std::move(plain));
    return segs;
}

// Detects the code of the plain text: ISO-2022-JP when a two-byte escape
// occurs, else the first byte at or above 0x80 decides. Text that never
// decides counts as Shift_JIS.
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

// Length of the character at p in Shift_JIS (CP932), for skipping one that
// does not convert.
size_t SjisCharLen(const unsigned char* p, size_t n)
{
    bool bLead = (p[0] >= 0x81 && p[0] <= 0x9F) || (p[0] >= 0xE0 && p[0] <= 0xFC);
    bool bTrail = n > 1 && p[1] >= 0x40 && p[1] <= 0xFC && p[1] != 0x7F;
    return (bLead && bTrail) ? 2 : 1;
}

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

// One iconv conversion, opened once and used for every run of a text.
class CIconv {
public:
    CIconv(const char* pTo, const char* pFrom, size_t (*pCharLen)(const unsigned char*, size_t))
        : m_cd(iconv_open(pTo, pFrom)), m_pCharLen(pCharLen)
    {
    }
    CIconv(const CIconv&) = delete;
    CIconv& operator=(const CIconv&) = delete;
    ~CIconv()
    {
        if (m_cd != reinterpret_cast<iconv_t>(-1))
            iconv_close(m_cd);
    }
    void Append(const char* p, size_t n, std::string& out);

private:
    iconv_t m_cd;
    size_t (*m_pCharLen)(const unsigned char*, size_t);
};

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

// Converts one piece of input into the canonical form.
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

// Appends one canonical character (ASCII byte or pair) as ISO-2022-JP,
// switching the mode with an escape sequence where needed.
void AppendJisChar(const char* p, bool bPair, bool& bKanji, std::string& out)
{
    if (bPair) {
        if (!bKanji)
            out += s_szEscKanji;
        bKanji = true;
        out += static_cast<char>(p[0] & 0x7F);
        out += static_cast<char>(p[1] & 0x7F);
    } else {
        if (bKanji)
            out += s_szEscAscii;
        bKanji = false;
        out += p[0];
    }
}

// Writes canonical text as ISO-2022-JP ending in ASCII mode.
void CanonicalToJis(const std::string& text, std::string& out)
{
    bool bKanji = false;
    for (size_t i = 0; i < text.size();) {
        bool bPair = static_cast<unsigned char>(text[i]) >= 0x80;
        AppendJisChar(text.data() + i, bPair, bKanji, out);
        i += bPair ? 2 : 1;
    }
    if (bKanji)
        out += s_szEscAscii;
}

// Ends a JIS piece in ASCII mode and writes it as one encoded word.
void FlushWord(std::string& jis, bool& bKanji, std::string& out)
{
    if (bKanji)
        jis += s_szEscAscii;
    bKanji = false;
    CRukBuffer b64(jis.data(), static_cast<unsigned>(jis.size()));
    b64.Base64Encode(0);
    out += "=?ISO-2022-JP?B?";
    if (b64.GetData())
        out.append(b64.GetData(), b64.GetSize());
    out += "?=";
    jis.clear();
}

// Writes a stretch of canonical text as encoded words of at most 42 JIS
// bytes each, every one complete in itself and separated by line feeds.
void EncodeStretch(const char* p, size_t n, std::string& out)
{
    std::string jis;
    bool bKanji = false;
    for (size_t i = 0; i < n;) {
        bool bPair = static_cast<unsigned char>(p[i]) >= 0x80;
        size_t nAdd = bPair ? (bKanji ? 2 : 5) : (bKanji ? 4 : 1);
        size_t nClose = bPair ? 3 : 0;
        if (!jis.empty() && jis.size() + nAdd + nClose > s_nMaxWordBytes) {
            FlushWord(jis, bKanji, out);
            out += '\n';
        }
        AppendJisChar(p + i, bPair, bKanji, jis);
        i += bPair ? 2 : 1;
    }
    if (!jis.empty())
        FlushWord(jis, bKanji, out);
}

// End of the word starting at i (the next blank or the end).
size_t WordEnd(const std::string& text, size_t i)
{
    while (i < text.size() && !IsBlank(static_cast<unsigned char>(text[i])))
        i++;
    return i;
}

bool IsAsciiRange(const std::string& text, size_t i, size_t j)
{
    for (; i < j; i++)
        if (static_cast<unsigned char>(text[i]) >= 0x80)
            return false;
    return true;
}

// Writes canonical text as a mail header: ASCII words and blanks pass
// unchanged; each run of words holding Japanese, with the spaces between
// them, becomes encoded words.
void CanonicalToMime(const std::string& text, std::string& out)
{
    size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        if (IsBlank(static_cast<unsigned char>(text[i]))) {
            out += text[i++];
            continue;
        }
        size_t j = WordEnd(text, i);
        if (IsAsciiRange(text, i, j)) {
            out.append(text, i, j - i);
            i = j;
            continue;
        }
        // Extend over following Japanese words on the same line.
        for (;;) {
            size_t s = j;
            while (s < n && (text[s] == ' ' || text[s] == '\t'))
                s++;
            if (s >= n || IsBlank(static_cast<unsigned char>(text[s])))
                break;
            size_t t = WordEnd(text, s);
            if (IsAsciiRange(text, s, t))
                break;
            j = t;
        }
        EncodeStretch(text.data() + i, j - i, out);
        i = j;
    }
}

}  // namespace

// Converts nLength bytes of pInput under the nkf-style options (see the
// top of this file). The result ends at the first NUL of the input.
CRukString nkf_main(const char* pOptions, const char* pInput, int nLength)
{
    if (!pOptions || !pInput || nLength <= 0)
        return CRukString();
    Options opt = ParseOptions(pOptions);
    size_t n = strnlen(pInput, static_cast<size_t>(nLength));
    std::vector<Segment> segs = SplitMime(pInput, n);

    std::string plain;
    for (const Segment& seg : segs)
        if (seg.nCode == CODE_NONE)
            plain += seg.text;
    int nCode = DetectCode(plain);

    std::string canon;
    for (const Segment& seg : segs)
        AppendCanonical(seg, seg.nCode == CODE_NONE ? nCode : seg.nCode, canon);

    std::string out;
    if (opt.bMime)
        CanonicalToMime(canon, out);
    else if (opt.bJis)
        CanonicalToJis(canon, out);
    else
        CanonicalToSjis(canon, out);
    return CRukString(out.c_str());
}

// Converts a text with nkf_main.
CRukString CRukString::Nkf(const char* pOption, const char* pText)
{
    return nkf_main(pOption, pText, pText ? static_cast<int>(strlen(pText)) : 0);
}

// True for the characters of NEC's row 13 and of the IBM extension that
// are JIS X 0208 characters too (≒≡∫∮√⊥∠∟⊿∵∩∪, ￢ and ∵): they are written
// in their JIS X 0208 places.
static bool IsJisDuplicate(unsigned char cLead, unsigned char cTrail)
{
    if (cLead == 0x87)
        return cTrail >= 0x90 && cTrail <= 0x9C && strchr("\x90\x91\x92\x95\x96\x97\x9a\x9b\x9c",
                                                          cTrail);
    return cLead == 0xFA && (cTrail == 0x54 || cTrail == 0x5B);
}

bool NkfFitsJis(const std::string& sjis)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(sjis.data());
    size_t n = sjis.size();
    for (size_t i = 0; i < n;) {
        unsigned char c = p[i];
        if (c < 0x80 || (c >= 0xA1 && c <= 0xDF)) {
            i++;
            continue;
        }
        if (SjisCharLen(p + i, n - i) != 2)
            return false;
        bool bJis = (c >= 0x81 && c <= 0x84) || (c >= 0x88 && c <= 0x9F) ||
                    (c >= 0xE0 && c <= 0xEA) || IsJisDuplicate(c, p[i + 1]);
        if (!bJis)
            return false;
        i += 2;
    }
    return true;
}

std::string NkfSjisToJis(const std::string& sjis)
{
    std::string canon, out;
    SjisToCanonical(sjis, canon);
    CanonicalToJis(canon, out);
    return out;
}

std::string NkfSjisToUtf8(const std::string& sjis)
{
    std::string out;
    CIconv("UTF-8", "CP932", SjisCharLen).Append(sjis.data(), sjis.size(), out);
    return out;
}
