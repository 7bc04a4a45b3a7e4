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
//
// The steps live in ruknkf_mime.cpp (step 1, and the encoded words of
// "-jM") and ruknkf_canon.cpp (steps 2 and 3); what they share is declared
// in ruknkf_impl.h.
#include "ruknkf.h"

#include <cstring>
#include <string>
#include <vector>

#include "ruknkf_impl.h"

using namespace ruknkf;

namespace {

struct Options {
    bool bJis;   // "j": ISO-2022-JP output (else Shift_JIS)
    bool bMime;  // "M": MIME encoded words of ISO-2022-JP
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
