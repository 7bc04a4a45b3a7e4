#include "rukpostfilter.h"

#include <cctype>
#include <cstring>
#include <strings.h>

#include "rukbuffer.h"
#include "rukfile.h"

// Ranges of two-byte Shift_JIS (CP932) codes that are Japanese letters.
static const struct {
    unsigned nFirst, nLast;
} s_rgJapanese[] = {
    {0x829F, 0x82F1},  // hiragana
    {0x8340, 0x8396},  // katakana
    {0x889F, 0x9FFC},  // kanji, level 1 and the start of level 2
    {0xE040, 0xEAA4},  // kanji, rest of level 2
    {0xED40, 0xEEEC},  // kanji, NEC-selected IBM extensions
    {0xFA5C, 0xFC4B},  // kanji, IBM extensions
};

// Half-width katakana (one byte), from "ｦ" to the sound marks.
static const unsigned char s_cHalfKanaFirst = 0xA6;
static const unsigned char s_cHalfKanaLast = 0xDF;

// Openings of a link, compared without regard to case.
static const char* const s_rgLinkOpenings[] = {"http://", "https://", "ftp://"};

int CRukPostFilter::CharLength(const char* p)
{
    unsigned char c = static_cast<unsigned char>(p[0]);
    if (!c)
        return 0;
    bool bLead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    unsigned char t = static_cast<unsigned char>(p[1]);
    bool bTrail = (t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFC);
    return bLead && bTrail ? 2 : 1;
}

bool CRukPostFilter::HasJapanese(const char* pText)
{
    for (const char* p = pText; *p; p += CharLength(p)) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (CharLength(p) == 1) {
            if (c >= s_cHalfKanaFirst && c <= s_cHalfKanaLast)
                return true;
            continue;
        }
        unsigned nCode = c << 8 | static_cast<unsigned char>(p[1]);
        for (const auto& range : s_rgJapanese)
            if (nCode >= range.nFirst && nCode <= range.nLast)
                return true;
    }
    return false;
}

// True when p opens a link: an address scheme or an "<a" tag.
static bool IsLinkOpening(const char* p)
{
    for (const char* pOpening : s_rgLinkOpenings)
        if (strncasecmp(p, pOpening, strlen(pOpening)) == 0)
            return true;
    return p[0] == '<' && (p[1] == 'a' || p[1] == 'A') && p[2] && strchr(" \t\r\n", p[2]);
}

int CRukPostFilter::CountLinks(const char* pText)
{
    int n = 0;
    for (const char* p = pText; *p; p += CharLength(p))
        if (CharLength(p) == 1 && IsLinkOpening(p))
            n++;
    return n;
}

std::string CRukPostFilter::Fold(const char* pText, std::vector<char>* pStarts)
{
    std::string folded(pText);
    if (pStarts)
        pStarts->assign(folded.size(), 0);
    for (size_t i = 0; i < folded.size();) {
        int n = CharLength(folded.c_str() + i);
        if (pStarts)
            (*pStarts)[i] = 1;
        if (n == 1)
            folded[i] = static_cast<char>(tolower(static_cast<unsigned char>(folded[i])));
        i += static_cast<size_t>(n);
    }
    return folded;
}

void CRukPostFilter::AddWord(const char* pWord)
{
    if (pWord && *pWord)
        m_words.push_back(Fold(pWord, nullptr));
}

int CRukPostFilter::LoadWords(const char* pPath)
{
    CRukFile file;
    CRukBuffer data;
    if (file.ReadFile(pPath, data) < 0)
        return -1;
    const char* p = data.GetData();
    const char* pEnd = p + data.GetSize();
    while (p && p < pEnd) {
        const char* pEol = static_cast<const char*>(memchr(p, '\n', pEnd - p));
        const char* q = pEol ? pEol : pEnd;
        std::string line(p, q);
        size_t nFirst = line.find_first_not_of(" \t\r");
        size_t nLast = line.find_last_not_of(" \t\r");
        if (nFirst != std::string::npos && line[nFirst] != '#')
            AddWord(line.substr(nFirst, nLast - nFirst + 1).c_str());
        p = pEol ? pEol + 1 : pEnd;
    }
    return 0;
}

bool CRukPostFilter::HasWord(const char* pText) const
{
    if (m_words.empty() || !*pText)
        return false;
    std::vector<char> starts;
    std::string text = Fold(pText, &starts);
    for (const std::string& word : m_words) {
        size_t nAt = 0;
        while ((nAt = text.find(word, nAt)) != std::string::npos) {
            if (starts[nAt])
                return true;
            nAt++;
        }
    }
    return false;
}
