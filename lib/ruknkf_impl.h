// What the files of nkf_main share (see ruknkf.cpp for the steps of a
// conversion): the codes a piece of text may be in, the pieces of an
// input, the canonical form and iconv. Callers use ruknkf.h only.
#ifndef RUKNKF_IMPL_H
#define RUKNKF_IMPL_H

#include <cstddef>
#include <iconv.h>
#include <string>
#include <vector>

namespace ruknkf {

enum {
    CODE_NONE,  // plain text whose code is still to be detected
    CODE_SJIS,
    CODE_EUC,
    CODE_JIS,
    CODE_LATIN1,
};

// A piece of the input: plain text or the bytes of one decoded word.
struct Segment {
    std::string text;
    int nCode;
};

// ---------------------------------------------------------------------------
// MIME encoded words (ruknkf_mime.cpp)

// Cuts the input into plain text and decoded words. Blanks between two
// encoded words are dropped, as mail readers do.
std::vector<Segment> SplitMime(const char* p, size_t n);
// Writes canonical text as a mail header: ASCII words and blanks pass
// unchanged; each run of words holding Japanese, with the spaces between
// them, becomes encoded words.
void CanonicalToMime(const std::string& text, std::string& out);

// ---------------------------------------------------------------------------
// Codes and the canonical form (ruknkf_canon.cpp)

// The escape sequences of ISO-2022-JP: two-byte text, and back to ASCII.
inline constexpr char kEscKanji[] = "\x1b$B";
inline constexpr char kEscAscii[] = "\x1b(B";

// Detects the code of the plain text: ISO-2022-JP when a two-byte escape
// occurs, else the first byte at or above 0x80 decides. Text that never
// decides counts as Shift_JIS.
int DetectCode(const std::string& text);
// Length of the character at p in Shift_JIS (CP932), for skipping one that
// does not convert.
size_t SjisCharLen(const unsigned char* p, size_t n);
// Converts one piece of input into the canonical form.
void AppendCanonical(const Segment& seg, int nCode, std::string& out);
// Converts Shift_JIS (CP932) into the canonical form.
void SjisToCanonical(const std::string& text, std::string& out);
// Writes canonical text as Shift_JIS.
void CanonicalToSjis(const std::string& text, std::string& out);
// Writes canonical text as ISO-2022-JP ending in ASCII mode.
void CanonicalToJis(const std::string& text, std::string& out);
// Appends one canonical character (ASCII byte or pair) as ISO-2022-JP,
// switching the mode with an escape sequence where needed.
void AppendJisChar(const char* p, bool bPair, bool& bKanji, std::string& out);

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

}  // namespace ruknkf

#endif
