// The mail sender: header fields and bodies as they are built, read back
// by Python's email package (mailparse.py beside this file) and, for
// ISO-2022-JP, by nkf too; and the hand-over to a capture script standing
// in for the mail program.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "rukglobal.h"
#include "rukmail.h"
#include "testutil.h"

namespace {

const char* const s_szSubject =
    "\x8c\x66\x8e\xa6\x94\xc2\x82\xc9\x95\xd4\x90\x4d\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb5"
    "\x82\xbd\x81\x45\x8d\xc5\x90\x56\x82\xcc\x83\x79\x81\x5b\x83\x57\x82\xf0\x82\xb2\x97\x97"
    "\x82\xad\x82\xbe\x82\xb3\x82\xa2 (No.12)";  // 掲示板に返信がありました・最新のページをご覧ください (No.12)
const char* const s_szFileName = "\x8e\xca\x90\x5e.jpg";  // 写真.jpg
// 掲示板への書き込みは、いつでも歓迎します。 (21 characters)
const char* const s_szSentence =
    "\x8c\x66\x8e\xa6\x94\xc2\x82\xd6\x82\xcc\x8f\x91\x82\xab\x8d\x9e\x82\xdd\x82\xcd\x81\x41"
    "\x82\xa2\x82\xc2\x82\xc5\x82\xe0\x8a\xbd\x8c\x7d\x82\xb5\x82\xdc\x82\xb7\x81\x42";
// 株式会社は㈱、番号は№３、丸数字は①、ローマ数字はⅢ、髙橋さん（髙）より。: ㈱ № ① Ⅲ
// from NEC's row 13, 髙 as the NEC-selected and as the IBM extension kanji.
const char* const s_szOutside =
    "\x8a\x94\x8e\xae\x89\xef\x8e\xd0\x82\xcd\x87\x8a\x81\x41\x94\xd4\x8d\x86\x82\xcd\x87\x82"
    "\x82\x52\x81\x41\x8a\xdb\x90\x94\x8e\x9a\x82\xcd\x87\x40\x81\x41\x83\x8d\x81\x5b\x83\x7d"
    "\x90\x94\x8e\x9a\x82\xcd\x87\x56\x81\x41\xee\xe0\x8b\xb4\x82\xb3\x82\xf1\x81\x69\xfb\xfc"
    "\x81\x6a\x82\xe6\x82\xe8\x81\x42";
// 今日の記事は http://... を見てください。よろしくお願いします。 and English.
const char* const s_szMixed =
    "\x8d\xa1\x93\xfa\x82\xcc\x8b\x4c\x8e\x96\x82\xcd "
    "http://bbs.example.jp/bbs/ruk-bbs.cgi?bid=test&style=1&ppid=1700000000000#m1700000000001 "
    "\x82\xf0\x8c\xa9\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2\x81\x42\x82\xe6\x82\xeb\x82\xb5"
    "\x82\xad\x82\xa8\x8a\xe8\x82\xa2\x82\xb5\x82\xdc\x82\xb7\x81\x42 Thanks for reading, and "
    "see you again on the board next week!";

std::string Utf8(const std::string& sjis)
{
    return testutil::Iconv("UTF-8", "CP932", sjis);
}

std::string Repeat(const std::string& text, int n)
{
    std::string out;
    for (int i = 0; i < n; i++)
        out += text;
    return out;
}

// A paragraph of 504 Japanese characters without a line break.
std::string Paragraph()
{
    return Repeat(s_szSentence, 24);
}

std::string FromHex(const std::string& hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

std::string SourceDir()
{
    std::string file = __FILE__;
    return file.substr(0, file.find_last_of('/'));
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::stringstream ss(text);
    for (std::string line; std::getline(ss, line);)
        lines.push_back(line);
    return lines;
}

size_t LongestLine(const std::string& text)
{
    size_t n = 0;
    for (const std::string& line : Lines(text))
        n = std::max(n, line.size());
    return n;
}

// The mail in the file as the mail reader saw it.
std::map<std::string, std::string> ParseFile(const std::string& path)
{
    std::map<std::string, std::string> out;
    std::string cmd = "python3 '" + SourceDir() + "/mailparse.py' '" + path + "'";
    FILE* fp = popen(cmd.c_str(), "r");
    if (!fp)
        return out;
    char line[1 << 16];
    while (fgets(line, sizeof(line), fp)) {
        std::string s(line);
        size_t sp = s.find(' ');
        if (sp != std::string::npos)
            out[s.substr(0, sp)] = FromHex(s.substr(sp + 1, s.size() - sp - 2));
    }
    pclose(fp);
    return out;
}

std::map<std::string, std::string> ParseMail(const std::string& mail)
{
    char path[] = "/tmp/ruk-mail-parse-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        return {};
    bool bWritten = write(fd, mail.data(), mail.size()) == static_cast<ssize_t>(mail.size());
    close(fd);
    std::map<std::string, std::string> out;
    if (bWritten)
        out = ParseFile(path);
    unlink(path);
    return out;
}

bool HaveNkf()
{
    return access("/usr/bin/nkf", X_OK) == 0;
}

SRukMailHeader Head(const char* pTo = "taro@example.jp")
{
    SRukMailHeader head;
    head.to = pTo;
    head.from = "bbs@example.jp";
    head.subject = "notice";
    return head;
}

// --- bodies

struct SBodyCase {
    const char* pLabel;
    std::string text;      // Shift_JIS, as given to the mail
    std::string expect;    // UTF-8, as a flowed reader shows it
    const char* pCharset;  // as Python names it
    size_t nLineMax;       // longest line of the mail as sent
};

// Every body reads back as its text: decoded by Python's email package and
// joined as a format=flowed reader joins it, and for ISO-2022-JP by nkf
// alike. No line of a mail exceeds 998 bytes; Japanese text is folded
// into lines of at most 76.
TEST(MailBody, ReadsBackAsItsText)
{
    std::string link = "http://bbs.example.jp/" + Repeat("0123456789", 150);
    std::string quote = "> quoted\nFrom here\n.\n lead\ntrailing   \n-- \nend";
    const SBodyCase cases[] = {
        {"504-character paragraph", Paragraph() + "\n", Utf8(Paragraph()) + "\n", "iso-2022-jp",
         76},
        {"outside JIS X 0208", std::string(s_szOutside) + "\n" + Paragraph(),
         Utf8(s_szOutside) + "\n" + Utf8(Paragraph()) + "\n", "utf-8", 76},
        {"mixed", std::string(s_szMixed) + "\n\n" + s_szMixed,
         Utf8(s_szMixed) + "\n\n" + Utf8(s_szMixed) + "\n", "iso-2022-jp", 998},
        {"1500-byte link", "see " + link + " end\n", "see " + link + " end\n", "us-ascii", 998},
        {"stuffed and trailing blanks", quote,
         "> quoted\nFrom here\n.\n lead\ntrailing\n--\nend\n", "iso-2022-jp", 76},
        {"control bytes", "a\x1b$Bb\rc\x01\td\n", "a$Bbc\td\n", "iso-2022-jp", 76},
        // Half-width katakana become full-width, a voiced mark joined to
        // its katakana even where the line is folded: ｶﾞ x 60 -> ガ x 60.
        {"half-width katakana", Repeat("\xb6\xde", 60), Repeat("\xe3\x82\xac", 60) + "\n",
         "iso-2022-jp", 76},
    };
    for (const SBodyCase& c : cases) {
        SCOPED_TRACE(c.pLabel);
        std::string mail = CRukMail::Build(Head(), c.text.c_str());
        ASSERT_FALSE(mail.empty());
        std::map<std::string, std::string> m = ParseMail(mail);
        EXPECT_EQ(m["defects"], "0");
        EXPECT_EQ(m["parts.defects"], "0");
        std::string charset = c.pCharset;
        if (charset == "us-ascii")
            charset = "iso-2022-jp";  // ASCII goes out in the JIS frame
        EXPECT_EQ(m["text.charset"], charset);
        EXPECT_EQ(m["text.format"], "flowed");
        EXPECT_EQ(m["text.delsp"], "yes");
        EXPECT_EQ(m["text.cte"], charset == "utf-8" ? "base64" : "7bit");
        EXPECT_EQ(m["text.unflowed"], c.expect);
        if (charset == "iso-2022-jp" && HaveNkf()) {
            EXPECT_EQ(m["text.nkf"], c.expect);
        }
        EXPECT_LE(LongestLine(mail), c.nLineMax);
        for (const std::string& line : Lines(mail)) {
            EXPECT_NE(line, ".");
            EXPECT_NE(line.compare(0, 5, "From "), 0) << line;
        }
        for (char ch : mail)
            ASSERT_LT(static_cast<unsigned char>(ch), 0x80);
    }
    if (!HaveNkf())
        GTEST_SKIP() << "nkf is not installed: ISO-2022-JP read by Python only";
}

// Every folded ISO-2022-JP line is back in ASCII at its end and starts in
// ASCII: a reader that shows lines one by one shows each one right.
TEST(MailBody, EveryLineEndsInAscii)
{
    bool bUtf8 = true;
    std::string body = CRukMail::EncodeBody((Paragraph() + "\n" + s_szMixed).c_str(), &bUtf8);
    EXPECT_FALSE(bUtf8);
    std::vector<std::string> lines = Lines(body);
    ASSERT_GT(lines.size(), 10u);
    for (const std::string& line : lines) {
        size_t nIn = line.rfind("\x1b$B");
        if (nIn == std::string::npos)
            continue;  // ASCII only (the link, unbroken)
        size_t nOut = line.rfind("\x1b(B");
        EXPECT_TRUE(nOut != std::string::npos && nOut > nIn) << line;
        EXPECT_LE(line.size(), 76u) << line;
    }
    EXPECT_TRUE(CRukMail::EncodeBody(s_szOutside, &bUtf8).size() > 0 && bUtf8);
}

// Texts of every shape (ASCII words, runs without blank, Japanese,
// half-width katakana, characters outside JIS X 0208, stray bytes, line
// breaks), from a fixed seed: no line of a body exceeds 998 bytes, no
// line of a subject 76, and an ISO-2022-JP body is 7-bit with every line
// back in ASCII at its end.
TEST(MailBody, LineLimitsHoldForAnyText)
{
    const char* const pieces[] = {
        "word ", "a", "  ", "\n", "http://example.jp/", "\x93\xfa", "\x96\x7b", "\x81\x42",
        "\x81\x41", "\xb6", "\xde", "\x87\x40", "\xfb\xfc", "\x82", "\x80", "\xff", ">", "From ",
        ".", "\t", "\x1b$B",
    };
    const size_t nPieces = sizeof(pieces) / sizeof(pieces[0]);
    unsigned nSeed = 12345;
    auto next = [&nSeed]() {
        nSeed = nSeed * 1103515245u + 12345u;
        return (nSeed >> 16) & 0x7fff;
    };
    for (int n = 0; n < 400; n++) {
        std::string text;
        size_t nLength = next() % 3000;
        // Mostly one kind of piece at a time, so that long runs occur.
        size_t nRun = next() % nPieces;
        while (text.size() < nLength)
            text += pieces[next() % 4 == 0 ? next() % nPieces : nRun];
        bool bUtf8 = false;
        std::string body = CRukMail::EncodeBody(text.c_str(), &bUtf8);
        ASSERT_LE(LongestLine(body), 998u) << n;
        if (!bUtf8) {
            for (const std::string& line : Lines(body)) {
                size_t nIn = line.rfind("\x1b$B"), nOut = line.rfind("\x1b(B");
                ASSERT_TRUE(nIn == std::string::npos || (nOut != std::string::npos && nOut > nIn))
                    << n;
            }
            for (char ch : body)
                ASSERT_LT(static_cast<unsigned char>(ch), 0x80) << n;
        }
        ASSERT_LE(LongestLine(CRukMail::EncodeHeader("Subject", text.c_str())), 76u) << n;
    }
}

// --- header fields

struct SHeaderCase {
    const char* pLabel;
    std::string text;     // Shift_JIS
    std::string expect;   // UTF-8, as the reader decodes it
    const char* pMarker;  // text the raw field holds, "" for none
};

// Subjects decode to their text, with the charset they need, every line at
// most 76 bytes, and no text of them starts a header of its own.
TEST(MailHeader, SubjectReadsBackAsItsText)
{
    std::string words = Repeat("plain words ", 20) + "end";
    const SHeaderCase cases[] = {
        {"plain", "Re: plain subject", "Re: plain subject", ""},
        {"long plain", words, words, ""},
        {"looks encoded", "=?UTF-8?B?QQ==?= x", "=?UTF-8?B?QQ==?= x", "=?ISO-2022-JP?B?"},
        {"long word", Repeat("x", 120), Repeat("x", 120), "=?ISO-2022-JP?B?"},
        {"Japanese", s_szSubject, Utf8(s_szSubject), "=?ISO-2022-JP?B?"},
        {"paragraph", Paragraph(), Utf8(Paragraph()), "=?ISO-2022-JP?B?"},
        {"outside JIS X 0208", s_szOutside, Utf8(s_szOutside), "=?UTF-8?B?"},
        // ｶﾞ x 40: each ガ whole, whichever word it falls in.
        {"half-width katakana", Repeat("\xb6\xde", 40), Repeat("\xe3\x82\xac", 40),
         "=?ISO-2022-JP?B?"},
        {"line break", "Hello\r\nBcc: evil@x.jp", "Hello Bcc: evil@x.jp", ""},
        {"escape", "a\x1b$Bb\x1b(B", "a$Bb(B", ""},
    };
    for (const SHeaderCase& c : cases) {
        SCOPED_TRACE(c.pLabel);
        std::string field = CRukMail::EncodeHeader("Subject", c.text.c_str());
        EXPECT_EQ(field.compare(0, 9, "Subject: "), 0);
        EXPECT_LE(LongestLine(field), 76u);
        if (*c.pMarker)
            EXPECT_NE(field.find(c.pMarker), std::string::npos) << field;
        else
            EXPECT_EQ(field.find("=?"), c.text.find("=?")) << field;
        std::map<std::string, std::string> m = ParseMail("To: a@example.jp\n" + field + "\nbody\n");
        EXPECT_EQ(m["keys"], "To,Subject");
        EXPECT_EQ(m["defects"], "0");
        EXPECT_EQ(m["h.Subject"], c.expect);
    }
}

struct SAddressCase {
    const char* pText;
    bool bValid;
};

TEST(MailHeader, BareAddressesOnly)
{
    const SAddressCase cases[] = {
        {"taro@example.jp", true},
        {"owner@localhost", true},
        {"a.b+c_d-e=f@mail-1.example.jp", true},
        {"", false},
        {"@example.jp", false},
        {"taro@", false},
        {"taro", false},
        {"a@b@example.jp", false},
        {"taro@example.jp,hanako@example.jp", false},
        {"Taro <taro@example.jp>", false},
        {"taro @example.jp", false},
        {"taro@example.jp\nBcc: x@y.jp", false},
        {".taro@example.jp", false},
        {"ta..ro@example.jp", false},
        {"taro@example..jp", false},
        {"taro@.example.jp", false},
        {"taro@example.jp.", false},
        {"taro@exa_mple.jp", false},
        {"\x91\xbe\x98\x59@example.jp", false},  // 太郎@
    };
    for (const SAddressCase& c : cases)
        EXPECT_EQ(CRukMail::IsAddress(c.pText), c.bValid) << c.pText;
}

// Every Message-ID is new, of the asked form.
TEST(MailHeader, EveryMailItsOwnId)
{
    CRukString a = CRukMail::MakeMessageId("17.test.owner", "bbs.example.jp");
    CRukString b = CRukMail::MakeMessageId("17.test.owner", "bbs.example.jp");
    EXPECT_NE(a, b);
    EXPECT_TRUE(std::regex_match(a.GetText(), std::regex("<17\\.test\\.owner\\.[0-9a-f]{16}@bbs\\.example\\.jp>")))
        << a.GetText();
}

// Points go's mail program at a script that saves its arguments and its
// standard input in a temporary directory.
class MailTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/ruk-mail-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        std::string script = m_dir + "/capture.sh";
        std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << m_dir << "/args'\ncat > '"
                              << m_dir << "/mail'\n";
        ASSERT_EQ(chmod(script.c_str(), 0700), 0);
        m_old = go.m_strSendmail;
        go.m_strSendmail = script.c_str();
    }
    void TearDown() override
    {
        go.m_strSendmail = m_old;
        std::string cmd = "rm -rf '" + m_dir + "'";
        ASSERT_EQ(system(cmd.c_str()), 0);
    }
    std::string ReadFile(const char* pName) const
    {
        std::ifstream in(m_dir + "/" + pName, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    bool Sent() const { return access((m_dir + "/mail").c_str(), F_OK) == 0; }
    std::map<std::string, std::string> Parse() const { return ParseFile(m_dir + "/mail"); }

    std::string m_dir;
    CRukString m_old;
};

TEST_F(MailTest, HeaderFieldsAsReaderSeesThem)
{
    SRukMailHeader head = Head();
    // A list longer than a line is folded between its addresses.
    std::string cc = "owner@localhost";
    for (int i = 0; i < 8; i++)
        cc += ", copy-" + std::to_string(i) + "@example.jp";
    head.cc = cc.c_str();
    head.replyTo = "hanako@example.jp";
    head.messageId = "<17.test.owner.0123456789abcdef@bbs.example.jp>";
    head.inReplyTo = "<16.test.ruk-bbs@bbs.example.jp>";
    head.references = "<15.test.ruk-bbs@bbs.example.jp> <16.test.ruk-bbs@bbs.example.jp>";
    head.subject = s_szSubject;
    CRukMail mail;
    ASSERT_EQ(mail.Send(head, "body\n"), CRukMail::SENT);
    EXPECT_EQ(ReadFile("args"), "-t\n");
    std::map<std::string, std::string> m = Parse();
    // No Return-Path or Sender: the mail program sets the envelope.
    EXPECT_EQ(m["keys"], "Date,From,To,Cc,Reply-To,Message-ID,In-Reply-To,References,Subject,"
                         "MIME-Version,Content-Type,Content-Transfer-Encoding");
    EXPECT_EQ(m["defects"], "0");
    EXPECT_TRUE(std::regex_match(m["h.Date"],
                                 std::regex("[A-Z][a-z]{2}, \\d\\d [A-Z][a-z]{2} \\d{4} "
                                            "\\d\\d:\\d\\d:\\d\\d [+-]\\d{4}")))
        << m["h.Date"];
    EXPECT_EQ(m["h.From"], "bbs@example.jp");
    EXPECT_EQ(m["h.To"], "taro@example.jp");
    EXPECT_EQ(m["h.Cc"], cc);
    std::string raw = ReadFile("mail");
    EXPECT_LE(LongestLine(raw.substr(0, raw.find("\n\n"))), 76u);
    EXPECT_EQ(m["h.Reply-To"], "hanako@example.jp");
    EXPECT_EQ(m["h.Message-ID"], "<17.test.owner.0123456789abcdef@bbs.example.jp>");
    EXPECT_EQ(m["h.In-Reply-To"], "<16.test.ruk-bbs@bbs.example.jp>");
    EXPECT_EQ(m["h.References"],
              "<15.test.ruk-bbs@bbs.example.jp> <16.test.ruk-bbs@bbs.example.jp>");
    EXPECT_EQ(m["h.Subject"], Utf8(s_szSubject));
    EXPECT_EQ(m["text.unflowed"], "body\n");
}

struct SInjectCase {
    const char* pLabel;
    CRukString SRukMailHeader::*pField;
    const char* pValue;
};

// Text with line breaks in any field starts no header: an address field
// holding it is left out (To: the mail is not sent), ids keep only what is
// an id, the subject stays one field.
TEST_F(MailTest, VisitorTextAddsNoHeader)
{
    const SInjectCase cases[] = {
        {"from", &SRukMailHeader::from, "a@b.jp\r\nBcc: evil@x.jp"},
        {"cc", &SRukMailHeader::cc, "c@b.jp\nBcc: evil@x.jp"},
        {"reply-to", &SRukMailHeader::replyTo, "r@b.jp\rBcc: evil@x.jp"},
        {"message-id", &SRukMailHeader::messageId, "<id@x.jp>\nBcc: evil@x.jp"},
        {"references", &SRukMailHeader::references, "<id@x.jp>\r\nBcc: evil@x.jp"},
        {"subject", &SRukMailHeader::subject, "Hello\r\nBcc: evil@x.jp"},
    };
    for (const SInjectCase& c : cases) {
        SCOPED_TRACE(c.pLabel);
        SRukMailHeader head = Head();
        head.*c.pField = c.pValue;
        CRukMail mail;
        ASSERT_EQ(mail.Send(head, "body\r\nBcc: not a header\n"), CRukMail::SENT);
        std::string raw = ReadFile("mail");
        for (const std::string& line : Lines(raw.substr(0, raw.find("\n\n"))))
            EXPECT_NE(line.compare(0, 4, "Bcc:"), 0) << line;
        std::map<std::string, std::string> m = Parse();
        EXPECT_EQ(m.count("h.Bcc"), 0u);
        EXPECT_EQ(m["h.To"], "taro@example.jp");
        EXPECT_EQ(m["text.unflowed"], "body\nBcc: not a header\n");
    }
    SRukMailHeader head = Head("t@example.jp\r\nCc: evil@x.jp");
    CRukMail mail;
    EXPECT_EQ(mail.Send(head, "b"), CRukMail::NO_RECIPIENT);
}

TEST_F(MailTest, AttachmentsDecodeToTheirData)
{
    std::string bytes;
    for (int i = 0; i < 1000; i++)
        bytes += static_cast<char>(i * 7 % 256);
    CRukAry<CRukMailAttach> files(0, 10);
    CRukMailAttach empty;
    empty.m_strName = "empty.txt";
    files.Add(empty);
    CRukMailAttach photo;
    photo.m_strName = s_szFileName;
    photo.m_data = CRukBuffer(bytes.data(), static_cast<unsigned>(bytes.size()));
    files.Add(photo);
    SRukMailHeader head = Head();
    head.bcc = "b@example.jp";
    head.subject = s_szSubject;
    CRukMail mail;
    ASSERT_EQ(mail.Send(head, s_szOutside, files), CRukMail::SENT);
    std::map<std::string, std::string> m = Parse();
    EXPECT_EQ(m["type"], "multipart/mixed");
    EXPECT_EQ(m["defects"], "0");
    EXPECT_EQ(m["parts.defects"], "0");
    EXPECT_EQ(m["h.Bcc"], "b@example.jp");
    EXPECT_EQ(m["text.charset"], "utf-8");
    EXPECT_EQ(m["text.unflowed"], Utf8(s_szOutside) + "\n");
    EXPECT_EQ(m["attach.count"], "1");
    EXPECT_EQ(m["attach.0.name"], Utf8(s_szFileName));
    EXPECT_EQ(m["attach.0.data"], bytes);
    std::string raw = ReadFile("mail");
    EXPECT_EQ(raw.substr(raw.size() - 3), "--\n");
    EXPECT_LE(LongestLine(raw), 76u);

    // The one-attachment form, with a name that would break the quotes.
    ASSERT_EQ(mail.Send(Head(), nullptr, "a\"b\\c.bin", photo.m_data), CRukMail::SENT);
    m = Parse();
    EXPECT_EQ(m["attach.count"], "1");
    EXPECT_EQ(m["attach.0.name"], "abc.bin");
    EXPECT_EQ(m["attach.0.data"], bytes);
}

struct SProgramCase {
    const char* pLabel;
    const char* pProgram;
};

// A mail program that exits without reading, or that fails: Send says so,
// and the process survives with its SIGPIPE handling as before.
TEST_F(MailTest, ProgramFailuresAreReported)
{
    const SProgramCase cases[] = {
        {"reads nothing", "exit 0;"},
        {"fails", "cat > /dev/null; exit 1;"},
        {"missing", "/nonexistent/sendmail"},
    };
    std::string big(1 << 20, 'x');
    CRukBuffer data(big.data(), static_cast<unsigned>(big.size()));
    for (const SProgramCase& c : cases) {
        SCOPED_TRACE(c.pLabel);
        go.m_strSendmail = c.pProgram;
        CRukMail mail;
        EXPECT_EQ(mail.Send(Head(), "b", "x.bin", data), CRukMail::NOT_DELIVERED);
        struct sigaction now;
        ASSERT_EQ(sigaction(SIGPIPE, nullptr, &now), 0);
        EXPECT_EQ(now.sa_handler, SIG_DFL);
    }
}

}  // namespace
