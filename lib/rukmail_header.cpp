// CRukMail: header fields of text (the subject, an attachment's name),
// written as they are when they are short plain ASCII, else as RFC 2047
// encoded words; no line longer than kLineMax.
#include "rukmail.h"

#include <cstring>
#include <string>

#include "ruknkf.h"
#include "rukmail_text.h"

namespace rukmail {

namespace {

// Encoded words: "=?CHARSET?B?" ... "?=".
const char s_szJisWord[] = "=?ISO-2022-JP?B?";
const char s_szUtf8Word[] = "=?UTF-8?B?";

}  // namespace

bool FoldPlain(const std::string& prefix, const std::string& text, std::string& out, bool bText)
{
    for (unsigned char c : text)
        if (c >= 0x80)
            return false;
    if (bText && text.find("=?") != std::string::npos)
        return false;
    std::string folded, line = prefix;
    bool bEmpty = true;  // nothing of the text on this line yet
    for (size_t i = 0; i < text.size();) {
        size_t e = text.find(' ', i + 1);
        if (e == std::string::npos)
            e = text.size();
        std::string piece = text.substr(i, e - i);
        if (line.size() + piece.size() > kLineMax && !bEmpty && piece[0] == ' ') {
            folded += line + "\n";
            line.clear();
        }
        if (bText && line.size() + piece.size() > kLineMax)
            return false;
        line += piece;
        bEmpty = false;
        i = e;
    }
    out += folded + line + "\n";
    return true;
}

std::string EncodeWords(const std::string& prefix, const std::string& text)
{
    bool bJis = NkfFitsJis(text);
    const char* pWord = bJis ? s_szJisWord : s_szUtf8Word;
    size_t nFrame = strlen(pWord) + 2;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size();
    std::string out = prefix;
    size_t nLine = prefix.size();
    size_t i = 0;
    while (i < n) {
        // As many characters as fit on the line, their bytes counted with
        // the closing escape.
        size_t nRoom = nLine + nFrame + 4 < kLineMax ? (kLineMax - nLine - nFrame) / 4 * 3 : 3;
        size_t nBytes = 0, j = i;
        bool bKanji = false;
        while (j < n) {
            size_t nLen = UnitLen(p + j, n - j);
            bool bWas = bKanji;
            size_t nCost = WordCharCost(p + j, nLen, bJis, bKanji);
            if (j > i && nBytes + nCost + (bKanji ? 3 : 0) > nRoom) {
                bKanji = bWas;
                break;
            }
            nBytes += nCost;
            j += nLen;
        }
        std::string chunk = text.substr(i, j - i);
        std::string bytes = bJis ? NkfSjisToJis(chunk) : NkfSjisToUtf8(chunk);
        out += pWord + Base64(bytes, 0) + "?=";
        i = j;
        if (i < n) {
            out += "\n ";
            nLine = 1;
        }
    }
    return out + "\n";
}

}  // namespace rukmail

using namespace rukmail;

std::string CRukMail::EncodeHeader(const char* pName, const char* pText)
{
    std::string text = Trimmed(WithoutControls(pText, false));
    std::string prefix = std::string(pName) + ":";
    if (text.empty())
        return prefix + "\n";
    prefix += ' ';
    std::string out;
    if (FoldPlain(prefix, text, out))
        return out;
    return EncodeWords(prefix, text);
}
