// CRukMail: the body of a mail as "text/plain; format=flowed; delsp=yes"
// (RFC 3676): each line longer than kLineMax bytes once converted is
// folded into soft lines on character boundaries (see rukmail.h), lines
// that would be misread are space-stuffed, and the whole is ISO-2022-JP or
// UTF-8.
#include "rukmail.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "ruknkf.h"
#include "rukmail_text.h"

using namespace rukmail;

namespace {

// Bytes a stuffing blank may add in front of a line starting at p.
size_t StuffCost(unsigned char c)
{
    return (c == ' ' || c == '>' || c == 'F' || c == '.') ? 1 : 0;
}

// Shift_JIS punctuation a line should not start with (、。，．？！ー）〕」』】),
// as second bytes after the lead 0x81.
const char s_szNoLineStart[] = "\x41\x42\x43\x44\x48\x49\x5b\x6a\x6c\x76\x78\x7a";

// True when a soft line break may fall between the character before (wide
// or a blank) and the one at p: beside a Japanese character, or after a
// blank before a non-blank; never before closing punctuation.
bool CanBreak(bool bPrevWide, bool bPrevBlank, const unsigned char* p, size_t nLen)
{
    if (nLen == 2 && p[0] == 0x81 && strchr(s_szNoLineStart, p[1]))
        return false;
    if (bPrevWide || IsWide(p, nLen))
        return true;
    return bPrevBlank && p[0] != ' ';
}

// Bytes of [b, e) as an ISO-2022-JP line, stuffing and the closing escape
// included.
size_t HardCost(const unsigned char* p, size_t b, size_t e)
{
    size_t nCost = StuffCost(p[b]);
    bool bKanji = false;
    for (size_t i = b; i < e;) {
        size_t nLen = UnitLen(p + i, e - i);
        nCost += WordCharCost(p + i, nLen, true, bKanji);
        i += nLen;
    }
    return nCost + (bKanji ? 3 : 0);
}

// End of the line piece starting at b: the whole rest when it fits on a
// line, else the last break where the piece still fits as a soft line;
// without such a break the first break after it, or the character that
// reaches kUnbrokenMax bytes.
size_t FindCut(const std::string& line, size_t b)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(line.data());
    size_t n = line.size();
    if (n - b <= kLineMax && HardCost(p, b, n) <= kLineMax)
        return n;
    size_t nCost = StuffCost(p[b]);
    bool bKanji = false, bPrevWide = false, bPrevBlank = false, bOver = false;
    size_t nLastBreak = 0;
    for (size_t i = b; i < n;) {
        size_t nLen = UnitLen(p + i, n - i);
        if (i > b && CanBreak(bPrevWide, bPrevBlank, p + i, nLen)) {
            if (bOver)
                return i;
            nLastBreak = i;
        }
        nCost += WordCharCost(p + i, nLen, true, bKanji);
        if (!bOver && nCost + (bKanji ? 3 : 0) + 1 > kLineMax) {
            if (nLastBreak)
                return nLastBreak;
            bOver = true;
        }
        bPrevWide = IsWide(p + i, nLen);
        bPrevBlank = p[i] == ' ';
        i += nLen;
        if (bOver && nCost >= kUnbrokenMax)
            return i;
    }
    return n;
}

// A line of the text as folded pieces, each with its soft flag.
void FoldLine(const std::string& line, std::vector<std::pair<std::string, bool>>& pieces)
{
    if (line.empty()) {
        pieces.emplace_back(std::string(), false);
        return;
    }
    for (size_t b = 0; b < line.size();) {
        size_t e = FindCut(line, b);
        pieces.emplace_back(line.substr(b, e - b), e < line.size());
        b = e;
    }
}

bool NeedsStuffing(const std::string& piece)
{
    return (!piece.empty() && (piece[0] == ' ' || piece[0] == '>')) ||
           piece.compare(0, 5, "From ") == 0 || piece == ".";
}

}  // namespace

std::string CRukMail::EncodeBody(const char* pText, bool* pUtf8)
{
    std::string text = WithoutControls(pText, true);
    bool bUtf8 = !NkfFitsJis(text);
    if (pUtf8)
        *pUtf8 = bUtf8;
    std::string out;
    for (size_t b = 0; b < text.size();) {
        size_t e = text.find('\n', b);
        if (e == std::string::npos)
            e = text.size();
        std::string line = text.substr(b, e - b);
        line.erase(line.find_last_not_of(' ') + 1);
        std::vector<std::pair<std::string, bool>> pieces;
        FoldLine(line, pieces);
        for (const auto& piece : pieces) {
            std::string sjis = NeedsStuffing(piece.first) ? " " + piece.first : piece.first;
            out += bUtf8 ? NkfSjisToUtf8(sjis) : NkfSjisToJis(sjis);
            out += piece.second ? " \n" : "\n";
        }
        b = e + 1;
    }
    return out;
}
