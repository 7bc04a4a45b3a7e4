// MIME encoded words for nkf_main: decoding the words of an input
// ("=?charset?B|Q?text?=", step 1) and writing canonical text as encoded
// words of ISO-2022-JP ("-jM").
#include <cstring>
#include <string>
#include <strings.h>
#include <utility>
#include <vector>

#include "rukbuffer.h"
#include "ruknkf_impl.h"

namespace ruknkf {

namespace {

// The longest encoded text looked at after "=?charset?X?"; it bounds the
// scan so that a text full of unterminated words still costs linear time.
const size_t s_nMaxEncoded = 1024;

// JIS bytes per produced encoded word: 42 bytes are 56 Base64 characters,
// so a word ("=?ISO-2022-JP?B?" + 56 + "?=") is 74 characters long.
const size_t s_nMaxWordBytes = 42;

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

}  // namespace

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

// Ends a JIS piece in ASCII mode and writes it as one encoded word.
void FlushWord(std::string& jis, bool& bKanji, std::string& out)
{
    if (bKanji)
        jis += kEscAscii;
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

}  // namespace ruknkf
