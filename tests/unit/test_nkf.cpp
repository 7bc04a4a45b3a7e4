// The kanji converter: "-j" against the real nkf, "-jM" decoded by a real
// MIME decoder, input detection and MIME decoding of the input.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "rukbuffer.h"
#include "ruknkf.h"
#include "testutil.h"

namespace {

const char* const s_szNkf = "/usr/bin/nkf";

// Shift_JIS sample texts (no half-width katakana).
const char* const s_samples[] = {
    "\x8d\xc5\x90\x56\x82\xcc\x83\x79\x81\x5b\x83\x57",  // 最新のページ
    "Re: \x93\xfa\x96\x7b\x8c\xea\x82\xcc\x83\x65\x83\x4c\x83\x58\x83\x67 abc\n",  // Re: 日本語のテキスト abc
    "\x8a\xbf\x8e\x9a\x82\xc6\x82\xa9\x82\xc8\x83\x4a\x83\x69\x81\x41\x8b\x4c\x8d\x86"
    "\x81\x75\x81\x76\x81\x45\x81\x60\n\n",  // 漢字とかなカナ、記号「」・〜
    "line1 \x8c\x66\x8e\xa6\x94\xc2\n\x82\xa8\x92\x6d\x82\xe7\x82\xb9x\ty\n"
    "\x95\xd4\x90\x4d\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb5\x82\xbd",  // line1 掲示板 / お知らせx y / 返信がありました
    "\x87\x40 \xee\xe0\x8b\xb4 \x82\x81\x82\x82\x82\x83",  // ① 髙橋 ａｂｃ
    "\x82\xa0\xe0\x40",  // あ漾
    "\x82\xa0\xfb\xfc\xfa\x40",  // あ髙ⅰ in their IBM codes
};

std::string Bytes(const CRukString& s)
{
    return std::string(s.GetText());
}

std::string Nkf(const char* pOptions, const std::string& in)
{
    return Bytes(nkf_main(pOptions, in.c_str(), static_cast<int>(in.size())));
}

using testutil::Iconv;

// Runs a shell command with the given standard input and returns its
// standard output.
std::string RunCommand(const std::string& command, const std::string& input)
{
    char szIn[] = "/tmp/ruk-nkf-in-XXXXXX";
    int fd = mkstemp(szIn);
    if (fd < 0)
        return "<mkstemp failed>";
    bool bOk = write(fd, input.data(), input.size()) == static_cast<ssize_t>(input.size());
    close(fd);
    if (!bOk) {
        unlink(szIn);
        return "<write failed>";
    }
    std::string cmd = command + " < " + szIn;
    FILE* fp = popen(cmd.c_str(), "r");
    std::string out;
    if (fp) {
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof(buf), fp)) > 0)
            out.append(buf, n);
        pclose(fp);
    }
    unlink(szIn);
    return out;
}

std::string Hex(const std::string& s)
{
    std::string out;
    char sz[4];
    for (unsigned char c : s) {
        snprintf(sz, sizeof(sz), "%02x", c);
        out += sz;
    }
    return out;
}

TEST(Nkf, NullArgumentsGiveEmpty)
{
    EXPECT_EQ(Bytes(nkf_main(nullptr, "abc", 3)), "");
    EXPECT_EQ(Bytes(nkf_main("-j", nullptr, 3)), "");
    EXPECT_EQ(Bytes(nkf_main("-j", "abc", 0)), "");
}

TEST(Nkf, AsciiPassesUnchanged)
{
    const char* const texts[] = {"", "plain text\n", "a=b&c?d %41 \\ ~ \t\r\n", "Re: Re: hello"};
    for (const char* p : texts) {
        EXPECT_EQ(Nkf("-j", p), p);
        EXPECT_EQ(Nkf("-jM", p), p);
    }
}

TEST(Nkf, ResultEndsAtFirstNul)
{
    std::string in("ab\0cd", 5);
    EXPECT_EQ(Nkf("-j", in), "ab");
}

// The "-j" output must be byte for byte what Debian's nkf writes.
TEST(Nkf, JisMatchesRealNkfOnSamples)
{
    if (access(s_szNkf, X_OK) != 0)
        GTEST_SKIP() << "nkf not installed";
    for (const char* pSjis : s_samples) {
        std::string sjis(pSjis);
        std::string euc = Iconv("EUC-JP-MS", "CP932", sjis);
        std::string expect = RunCommand(s_szNkf + std::string(" -j"), sjis);
        EXPECT_EQ(Hex(Nkf("-j", sjis)), Hex(expect)) << "sjis " << Hex(sjis);
        // EUC-JP has no place for the Windows extension characters.
        if (sjis.find("\x87\x40") == std::string::npos && euc.find('\x8f') == std::string::npos) {
            EXPECT_EQ(Hex(Nkf("-j", euc)), Hex(expect)) << "euc " << Hex(euc);
        }
    }
}

// Every JIS X 0208 character, once as EUC-JP and once as Shift_JIS, one
// per line; and every half-width katakana with and without voiced marks.
TEST(Nkf, JisMatchesRealNkfOnWholeCharacterSet)
{
    if (access(s_szNkf, X_OK) != 0)
        GTEST_SKIP() << "nkf not installed";
    std::string euc = "\xa4\xa2\n";  // あ: decides EUC-JP
    for (int a = 0xA1; a <= 0xF4; a++) {
        for (int b = 0xA1; b <= 0xFE; b++) {
            std::string ch;
            ch += static_cast<char>(a);
            ch += static_cast<char>(b);
            if (Iconv("UTF-8", "EUC-JP", ch)[0] != '<')
                euc += ch + "\n";
        }
    }
    std::string sjis = Iconv("SHIFT_JIS", "EUC-JP", euc);
    ASSERT_GT(sjis.size(), 20000u);
    std::string kana = "\x82\xa0\n";  // あ: decides Shift_JIS
    for (int k = 0xA1; k <= 0xDF; k++) {
        kana += static_cast<char>(k);
        kana += "\n";
        kana += static_cast<char>(k);
        kana += "\xde\n";
        kana += static_cast<char>(k);
        kana += "\xdf\n";
    }
    const std::string* inputs[] = {&euc, &sjis, &kana};
    for (const std::string* p : inputs) {
        std::string mine = Nkf("-j", *p);
        std::string theirs = RunCommand(s_szNkf + std::string(" -j"), *p);
        ASSERT_EQ(mine.size(), theirs.size());
        EXPECT_TRUE(mine == theirs);
    }
}

TEST(Nkf, SameTextInEveryInputCodeGivesSameJis)
{
    std::string sjis = s_samples[2];
    std::string jis = Nkf("-j", sjis);
    EXPECT_EQ(Nkf("-j", Iconv("EUC-JP", "SHIFT_JIS", sjis)), jis);
    EXPECT_EQ(Nkf("-j", jis), jis);
    // ESC $ @ and ESC ( J are read like ESC $ B and ESC ( B.
    std::string old = jis;
    for (size_t i = 0; (i = old.find("\x1b$B", i)) != std::string::npos; i++)
        old[i + 2] = '@';
    for (size_t i = 0; (i = old.find("\x1b(B", i)) != std::string::npos; i++)
        old[i + 2] = 'J';
    EXPECT_EQ(Nkf("-j", old), jis);
    // No option: Shift_JIS output.
    EXPECT_EQ(Nkf("", Iconv("EUC-JP", "SHIFT_JIS", sjis)), sjis);
}

TEST(Nkf, DetectionByFirstHighByte)
{
    struct Case {
        const char* pInput;
        const char* pJis;
    } cases[] = {
        // 0xE0 0x40 can only be Shift_JIS (漾).
        {"\xe0\x40", "\x1b$B_!\x1b(B"},
        // 0xE0 0xA1 fits both; the following 0xA4 0xA2 (あ in EUC-JP) decides.
        {"\xe0\xa1\xa4\xa2", "\x1b$B`!$\"\x1b(B"},
        // 0xB0 0xA1 starts EUC-JP (亜).
        {"x\xb0\xa1", "x\x1b$B0!\x1b(B"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Hex(Nkf("-j", c.pInput)), Hex(c.pJis)) << Hex(c.pInput);
}

TEST(Nkf, UnconvertibleCharactersBecomeQuestionMarks)
{
    // A user-defined character (0xF040) between two kanji, and a lone lead
    // byte at the end.
    EXPECT_EQ(Nkf("-j", "\x93\xfa\xf0\x40\x96\x7b\x81"),  // 日?本?
              "\x1b$BF|\x1b(B?\x1b$BK\\\x1b(B?");
}

TEST(Nkf, DecodesMimeWordsInInput)
{
    std::string jis = Nkf("-j", s_samples[0]);
    std::string b64 = "GyRCOkc/NyROJVohPCU4GyhC";  // the JIS of 最新のページ
    struct Case {
        std::string input;
        std::string expect;
    } cases[] = {
        {"=?ISO-2022-JP?B?" + b64 + "?=", jis},
        {"=?iso-2022-jp?b?" + b64 + "?=", jis},
        {"Re: =?ISO-2022-JP?B?" + b64 + "?= x", "Re: " + jis + " x"},
        // Blanks between two encoded words vanish.
        {"=?ISO-2022-JP?B?" + b64 + "?=\n =?ISO-2022-JP?B?" + b64 + "?=",
         Nkf("-j", std::string(s_samples[0]) + s_samples[0])},
        {"=?SHIFT_JIS?B?k/qWew==?=", Nkf("-j", "\x93\xfa\x96\x7b")},  // 日本
        {"=?EUC-JP?B?xvzL3A==?=", Nkf("-j", "\x93\xfa\x96\x7b")},
        {"=?ISO-8859-1?Q?a_b=3Dc?=", "a b=c"},
        // Not encoded words: unknown charset, unterminated.
        {"=?KOI8-R?B?YWJj?=", "=?KOI8-R?B?YWJj?="},
        {"=?ISO-2022-JP?B?YWJj", "=?ISO-2022-JP?B?YWJj"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Hex(Nkf("-j", c.input)), Hex(c.expect)) << c.input;
}

// Decodes a header with Python's email package and returns it as UTF-8.
std::string DecodeHeader(const std::string& header)
{
    return RunCommand("python3 -c 'import sys\n"
                      "from email.header import decode_header, make_header\n"
                      "h = sys.stdin.buffer.read().decode(\"ascii\")\n"
                      "sys.stdout.write(str(make_header(decode_header(h))))'",
                      header);
}

TEST(Nkf, MimeWordsDecodeToTheOriginal)
{
    std::vector<std::string> texts = {
        s_samples[0],
        "Re: \x93\xfa\x96\x7b \x8c\xea test",  // Re: 日本 語 test
        "abc\x93\xfa\x96\x7b",                 // abc日本
        std::string()};
    // 返信がありました, twelve times: needs several encoded words.
    for (int i = 0; i < 12; i++)
        texts[3] += "\x95\xd4\x90\x4d\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb5\x82\xbd";
    for (const std::string& text : texts) {
        std::string mime = Nkf("-jM", text);
        // Every encoded word is whole, at most 75 characters, and ends in ASCII.
        size_t nWords = 0;
        for (size_t i = 0; (i = mime.find("=?ISO-2022-JP?B?", i)) != std::string::npos;) {
            size_t e = mime.find("?=", i + 16);
            ASSERT_NE(e, std::string::npos);
            EXPECT_LE(e + 2 - i, 75u);
            CRukBuffer b64(mime.substr(i + 16, e - i - 16).c_str());
            std::string jis = RunCommand("base64 -d", std::string(b64.GetData(), b64.GetSize()));
            if (jis.find('\x1b') != std::string::npos) {
                EXPECT_EQ(jis.substr(jis.size() - 3), "\x1b(B");
                EXPECT_EQ(Nkf("-j", jis), jis);
            }
            nWords++;
            i = e + 2;
        }
        EXPECT_GT(nWords, 0u);
        for (char c : mime)
            EXPECT_TRUE(static_cast<unsigned char>(c) < 0x80 && c != '\x1b');
        // Folded as the mail sender does it, it decodes to the original.
        std::string folded;
        for (char c : mime)
            folded += (c == '\n') ? std::string("\n ") : std::string(1, c);
        EXPECT_EQ(DecodeHeader(folded), Iconv("UTF-8", "CP932", text)) << mime;
    }
}

TEST(Nkf, MimeOfLongSubjectSplitsOnLineFeeds)
{
    std::string text;
    for (int i = 0; i < 6; i++)
        text += "\x8d\xc5\x90\x56\x82\xcc\x83\x79\x81\x5b\x83\x57";  // 最新のページ
    std::string mime = Nkf("-jM", text);
    EXPECT_EQ(mime.compare(0, 16, "=?ISO-2022-JP?B?"), 0);
    EXPECT_NE(mime.find("?=\n=?ISO-2022-JP?B?"), std::string::npos);
}

TEST(Nkf, CallsAreIndependent)
{
    std::string sjis = s_samples[1];
    std::string j = Nkf("-j", sjis);
    std::string m = Nkf("-jM", sjis);
    EXPECT_EQ(Nkf("-jM", sjis), m);
    EXPECT_EQ(Nkf("-j", sjis), j);
    EXPECT_EQ(Bytes(CRukString::Nkf("-j", sjis.c_str())), j);
    CRukString s(sjis.c_str());
    EXPECT_EQ(Bytes(s.Nkf("-j")), j);
}

struct SFitCase {
    const char* pSjis;
    bool bFits;
};

// What ISO-2022-JP can carry: ASCII, JIS X 0208 and half-width katakana
// (sent full-width); not NEC's row 13, the extension kanji, user-defined
// characters or bytes that are no character.
TEST(NkfMail, FitsJisTellsWhatIso2022JpCarries)
{
    const SFitCase cases[] = {
        {"", true},
        {"plain ASCII\t\n", true},
        {"\x93\xfa\x96\x7b\x8c\xea", true},  // 日本語
        {"\xb6\xde\xb7", true},                 // ｶﾞｷ
        {"\x81\x60\x81\x7c", true},             // ～－ (JIS X 0208 row 1)
        {"\xea\xa4", true},                      // 熙, the last of row 84
        {"\x87\x40", false},                     // ①
        {"\x87\x56", false},                     // Ⅲ
        {"\x87\x8a", false},                     // ㈱
        {"\x87\x82", false},                     // №
        {"\xee\xe0", false},                     // 髙 (NEC-selected)
        {"\xfb\xfc", false},                     // 髙 (IBM)
        {"\xf0\x40", false},                     // user-defined
        {"\x85\x40", false},                     // row 9, empty
        {"a\x82", false},                         // a lead byte cut off
        {"\x80", false},
        {"\xa0", false},
        {"\xfd", false},
    };
    for (const SFitCase& c : cases)
        EXPECT_EQ(NkfFitsJis(c.pSjis), c.bFits) << Hex(c.pSjis);
}

// Every Shift_JIS character NkfFitsJis accepts becomes a JIS X 0208 pair
// (rows 1-8 and 16-84); every other character CP932 knows does not.
TEST(NkfMail, FitsJisAgreesWithTheConverter)
{
    for (unsigned nLead = 0x81; nLead <= 0xFC; nLead++) {
        if (nLead >= 0xA0 && nLead < 0xE0)
            continue;
        for (unsigned nTrail = 0x40; nTrail <= 0xFC; nTrail++) {
            if (nTrail == 0x7F)
                continue;
            std::string sjis = {static_cast<char>(nLead), static_cast<char>(nTrail)};
            if (Iconv("UTF-8", "CP932", sjis)[0] == '<')
                continue;  // no CP932 character
            std::string jis = NkfSjisToJis(sjis);
            unsigned nRow = jis.size() == 8 ? static_cast<unsigned char>(jis[3]) - 0x20 : 0;
            bool bJis208 = (nRow >= 1 && nRow <= 8) || (nRow >= 16 && nRow <= 84);
            EXPECT_EQ(NkfFitsJis(sjis), bJis208) << Hex(sjis) << " " << Hex(jis);
        }
    }
}

TEST(NkfMail, Utf8ThroughIconv)
{
    // ①Ⅲ㈱№ and 髙 in both its codes.
    EXPECT_EQ(NkfSjisToUtf8("\x87\x40\x87\x56\x87\x8a\x87\x82\xee\xe0\xfb\xfc"),
              "\xe2\x91\xa0\xe2\x85\xa2\xe3\x88\xb1\xe2\x84\x96\xe9\xab\x99\xe9\xab\x99");
    EXPECT_EQ(NkfSjisToUtf8("a\xb6\x82"), "a\xef\xbd\xb6?");  // aｶ and a cut-off lead
    EXPECT_EQ(NkfSjisToUtf8(""), "");
    // The text as it is: no encoded word of it is decoded, nothing detected.
    EXPECT_EQ(NkfSjisToJis("=?ISO-2022-JP?B?GyRCRnxLXBsoQg==?="),
              "=?ISO-2022-JP?B?GyRCRnxLXBsoQg==?=");
    EXPECT_EQ(NkfSjisToJis("\xb1"), "\x1b$B%\"\x1b(B");  // ｱ as ア
}

}  // namespace
