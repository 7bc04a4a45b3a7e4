// The mail sender against a capture script standing in for the mail
// program; what it received is read back with Python's email package
// (mailparse.py beside this file).
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iconv.h>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "rukglobal.h"
#include "rukmail.h"

namespace {

const char* const s_szSubject =
    "\x8c\x66\x8e\xa6\x94\xc2\x82\xc9\x95\xd4\x90\x4d\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb5"
    "\x82\xbd\x81\x45\x8d\xc5\x90\x56\x82\xcc\x83\x79\x81\x5b\x83\x57\x82\xf0\x82\xb2\x97\x97"
    "\x82\xad\x82\xbe\x82\xb3\x82\xa2 (No.12)";  // 掲示板に返信がありました・最新のページをご覧ください (No.12)
const char* const s_szName = "\x91\xbe\x98\x59";  // 太郎
const char* const s_szBody =
    "\x8e\x52\x93\x63\x82\xb3\x82\xf1\x82\xd6\n\n\x95\xd4\x90\x4d\x82\xaa\x82\xa0\x82\xe8"
    "\x82\xdc\x82\xb5\x82\xbd\x81\x42\n.\nhttp://example.jp/bbs/?id=1\n";  // 山田さんへ / 返信がありました。 / . / URL
const char* const s_szFileName = "\x8e\xca\x90\x5e.jpg";  // 写真.jpg

std::string Utf8(const std::string& sjis)
{
    iconv_t cd = iconv_open("UTF-8", "CP932");
    std::string out(sjis.size() * 3 + 8, '\0');
    char* pIn = const_cast<char*>(sjis.data());
    size_t nIn = sjis.size();
    char* pOut = &out[0];
    size_t nOut = out.size();
    size_t r = iconv(cd, &pIn, &nIn, &pOut, &nOut);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1))
        return "<iconv failed>";
    out.resize(out.size() - nOut);
    return out;
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
    // The captured mail as the mail reader saw it.
    std::map<std::string, std::string> Parse() const
    {
        std::map<std::string, std::string> out;
        std::string cmd = "python3 '" + SourceDir() + "/mailparse.py' '" + m_dir + "/mail'";
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
    // The header lines of the captured mail; continuation lines are
    // joined to theirs.
    std::vector<std::string> HeaderLines() const
    {
        std::string mail = ReadFile("mail");
        std::vector<std::string> lines;
        std::stringstream ss(mail.substr(0, mail.find("\n\n")));
        for (std::string line; std::getline(ss, line);) {
            if (!line.empty() && line[0] == ' ' && !lines.empty())
                lines.back() += line;
            else
                lines.push_back(line);
        }
        return lines;
    }

    std::string m_dir;
    CRukString m_old;
};

TEST_F(MailTest, RecipientRequired)
{
    CRukMail mail;
    EXPECT_EQ(mail.Send(nullptr, "", "", "a@b.jp", "", "", "", "", "s", "b"), -1);
    EXPECT_EQ(mail.Send("nobody", "", "", "a@b.jp", "", "", "", "", "s", "b"), -1);
    EXPECT_FALSE(Sent());
}

TEST_F(MailTest, PlainMailAsReaderSeesIt)
{
    CRukMail mail;
    std::string to = std::string(s_szName) + " <taro@example.jp>";
    ASSERT_EQ(mail.Send(to.c_str(), "cc@example.jp", "", "hanako@example.jp", "", "no-address",
                        " 1700000000.42@example.jp ", "", s_szSubject, s_szBody),
              0);
    EXPECT_EQ(ReadFile("args"), "-t\n");
    std::map<std::string, std::string> m = Parse();
    EXPECT_EQ(m["keys"], "Return-Path,Sender,From,To,Cc,Message-Id,Subject,MIME-Version,"
                         "Content-Type,Content-Transfer-Encoding");
    EXPECT_EQ(m["defects"], "0");
    EXPECT_EQ(m["h.Return-Path"], "hanako@example.jp");
    EXPECT_EQ(m["h.Sender"], "hanako@example.jp");
    EXPECT_EQ(m["h.To"], Utf8(to));
    EXPECT_EQ(m["h.Message-Id"], "<1700000000.42@example.jp>");
    EXPECT_EQ(m["h.Subject"], Utf8(s_szSubject));
    EXPECT_EQ(m["text.charset"], "iso-2022-jp");
    // The lone "." line, which would end the mail for sendmail, is sent as ". ".
    std::string body = Utf8(s_szBody);
    body.replace(body.find("\n.\n"), 3, "\n. \n");
    EXPECT_EQ(m["text"], body + "\n");

    // The long subject is folded; the whole mail is 7-bit.
    std::string raw = ReadFile("mail");
    EXPECT_NE(raw.find("\nSubject: =?ISO-2022-JP?B?"), std::string::npos);
    EXPECT_NE(raw.find("?=\n =?ISO-2022-JP?B?"), std::string::npos);
    for (char c : raw)
        ASSERT_LT(static_cast<unsigned char>(c), 0x80);
}

TEST_F(MailTest, VisitorTextAddsNoHeader)
{
    CRukMail mail;
    ASSERT_EQ(mail.Send("t@example.jp\r\nCc: evil1@x.jp", "", "", "a@b.jp\r\nBcc: evil2@x.jp",
                        "", "", "id@x\nBcc: evil3@x.jp", "", "Hello\r\nBcc: evil4@x.jp",
                        "body\r\nBcc: not a header"),
              0);
    std::vector<std::string> lines = HeaderLines();
    const char* const names[] = {"Return-Path: ", "Sender: ", "From: ", "To: ", "Message-Id: ",
                                 "Subject: ", "MIME-Version: ", "Content-Type: ",
                                 "Content-Transfer-Encoding: "};
    ASSERT_EQ(lines.size(), sizeof(names) / sizeof(names[0]));
    for (size_t i = 0; i < lines.size(); i++)
        EXPECT_EQ(lines[i].compare(0, strlen(names[i]), names[i]), 0) << lines[i];
    std::map<std::string, std::string> m = Parse();
    EXPECT_EQ(m.count("h.Bcc"), 0u);
    EXPECT_EQ(m.count("h.Cc"), 0u);
    EXPECT_EQ(m["h.Subject"], "HelloBcc: evil4@x.jp");
    EXPECT_EQ(m["h.Sender"], m["h.From"]);
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
    CRukMail mail;
    ASSERT_EQ(mail.Send("t@example.jp", "", "b@example.jp", "f@example.jp", "s@example.jp", "r@example.jp",
                        "", "ref@x", s_szName, s_szBody, files),
              0);
    std::map<std::string, std::string> m = Parse();
    EXPECT_EQ(m["type"], "multipart/mixed");
    EXPECT_EQ(m["defects"], "0");
    EXPECT_EQ(m["h.Sender"], "s@example.jp");
    EXPECT_EQ(m["h.Bcc"], "b@example.jp");
    EXPECT_EQ(m["h.Reply-To"], "r@example.jp");
    EXPECT_EQ(m["h.References"], "<ref@x>");
    EXPECT_EQ(m["h.Subject"], Utf8(s_szName));
    EXPECT_EQ(m["text.charset"], "iso-2022-jp");
    EXPECT_EQ(m["attach.count"], "1");
    EXPECT_EQ(m["attach.0.name"], Utf8(s_szFileName));
    EXPECT_EQ(m["attach.0.data"], bytes);
    std::string raw = ReadFile("mail");
    EXPECT_EQ(raw.substr(raw.size() - 3), "--\n");

    // The one-attachment form, with a name that would break the quotes.
    ASSERT_EQ(mail.Send("t@example.jp", "", "", "f@example.jp", "", "", "", "", "s", nullptr,
                        "a\"b\\c.bin", photo.m_data),
              0);
    m = Parse();
    EXPECT_EQ(m["attach.count"], "1");
    EXPECT_EQ(m["attach.0.name"], "abc.bin");
    EXPECT_EQ(m["attach.0.data"], bytes);
}

// A mail program that exits without reading: the write fails, Send says
// so, and the process survives with its SIGPIPE handling as before.
TEST_F(MailTest, ProgramThatReadsNothing)
{
    go.m_strSendmail = "exit 0;";
    CRukMail mail;
    std::string big(1 << 20, 'x');
    CRukBuffer data(big.data(), static_cast<unsigned>(big.size()));
    EXPECT_EQ(mail.Send("t@example.jp", "", "", "", "", "", "", "", "s", "b", "x.bin", data), -1);
    struct sigaction now;
    ASSERT_EQ(sigaction(SIGPIPE, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
}

TEST(MailMime, AsciiUnchangedJapaneseFolded)
{
    CRukMail mail;
    EXPECT_EQ(mail.ToMIME("Re: plain subject"), "Re: plain subject");
    EXPECT_EQ(mail.ToMIME(""), "");
    CRukString mime = mail.ToMIME(s_szSubject);
    EXPECT_EQ(mime.Find("=?ISO-2022-JP?B?"), 0);
    EXPECT_GT(mime.Find("?=\n =?ISO-2022-JP?B?"), 0);
    EXPECT_EQ(mime.Right(8), " (No.12)");
    EXPECT_EQ(mail.ToJIS(s_szName), "\x1b$BB@O:\x1b(B");
}

}  // namespace
