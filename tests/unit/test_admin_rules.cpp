// The administration program's rules that need no request: where a board's
// data may be, which site addresses and sender addresses are taken, what
// goes into a deny list, which icon pictures are taken, how a message body
// is cut for the moderation page, and the session store (tokens, lookup,
// ending, expiry and its bounds).
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <sys/wait.h>

#include "rukbbsformconf.h"
#include "rukglobal.h"
#include "ruksession.h"
#include "testutil.h"

TEST(AdminRules, DataRelativePath)
{
    const struct {
        const char* pText;
        const char* pWant;
    } cases[] = {
        {"data/tech", "data/tech/"},
        {" data/tech/ ", "data/tech/"},
        {"./data//a/./b", "data/a/b/"},
        {"data\\win", "data/win/"},
        {"data/x.y_z-1", "data/x.y_z-1/"},
        {"data", ""},
        {"data/", ""},
        {"./data/.", ""},
        {"/etc", ""},
        {"/data/x", ""},
        {"\\data\\x", ""},
        {"../x", ""},
        {"data/../etc", ""},
        {"data/x/..", ""},
        {"data/..x", ""},
        {"data/.hidden", ""},
        {"skin/x", ""},
        {"Data/x", ""},
        {"data/a b", ""},
        {"data/a;b", ""},
        {"data/\x8a\xc7", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(CRukBBSFormConf::DataRelativePath(c.pText).GetText(), c.pWant) << c.pText;
}

TEST(AdminRules, SiteUrl)
{
    const struct {
        const char* pText;
        const char* pWant;
    } cases[] = {
        {"https://bbs.example.jp/bbs/", "https://bbs.example.jp/bbs/"},
        {" http://bbs.example.jp ", "http://bbs.example.jp/"},
        {"https://bbs.example.jp:8443/a/b", "https://bbs.example.jp:8443/a/b/"},
        {"http://192.0.2.1/", "http://192.0.2.1/"},
        {"http://[2001:db8::1]:8080/x/", "http://[2001:db8::1]:8080/x/"},
        {"ftp://bbs.example.jp/", ""},
        {"HTTPS://bbs.example.jp/", ""},
        {"//bbs.example.jp/", ""},
        {"https://", ""},
        {"https:///x/", ""},
        {"https://user@bbs.example.jp/", ""},
        {"https://u:p@bbs.example.jp/", ""},
        {"https://bbs.example.jp/?a=1", ""},
        {"https://bbs.example.jp/#x", ""},
        {"https://bbs.example.jp:0/", ""},
        {"https://bbs.example.jp:65536/", ""},
        {"https://bbs.example.jp:/", ""},
        {"https://bbs.example.jp:8a/", ""},
        {"https://bbs_example.jp/", ""},
        {"https://-bbs.example.jp/", ""},
        {"https://bbs.example.jp/a b/", ""},
        {"https://bbs.example.jp/\"><x/", ""},
        {"https://bbs.example.jp/\r\nX: y", ""},
        {"https://bbs.example.jp/\x82\xa0/", ""},
        {"javascript:alert(1)", ""},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(CRukBBSFormConf::SiteUrl(c.pText).GetText(), c.pWant) << c.pText;
}

TEST(AdminRules, IsOneAddress)
{
    for (const char* p : {"bbs@example.jp", "a.b+c@example.jp", "CGI@localhost"})
        EXPECT_TRUE(CRukBBSFormConf::IsOneAddress(p)) << p;
    for (const char* p : {"", "nobody", "@example.jp", "a@", "a@b@example.jp", "a@example.jp,b@x.jp",
                          "a@example.jp b@x.jp", "Admin <a@example.jp>", "a@example.jp\nBcc: b@x.jp",
                          "(c)a@example.jp", "a@.example.jp", "a@example.jp.", "\"a\"@example.jp",
                          "a@[192.0.2.1]"})
        EXPECT_FALSE(CRukBBSFormConf::IsOneAddress(p)) << p;
}

TEST(AdminRules, DenyEntry)
{
    const struct {
        const char* pText;
        const char* pWant;
    } cases[] = {
        // Addresses, in the form web servers pass them.
        {"192.0.2.1", "192.0.2.1"},
        {" 192.0.2.1 ", "192.0.2.1"},
        {"2001:DB8:0:0::1", "2001:db8::1"},
        {"::1", "::1"},
        {"::ffff:192.0.2.1", "::ffff:192.0.2.1"},
        // Host names, lower case.
        {"Host.Example.JP", "host.example.jp"},
        {"p123-4.isp.ne.jp", "p123-4.isp.ne.jp"},
        {"xn--eckwd4c7c.jp", "xn--eckwd4c7c.jp"},
        // Nothing else: prefixes, keywords, lists, markup, odd names.
        {"192.0.2.", ""},
        {"192.0.2", ""},
        {"192.0.2.256", ""},
        {"192.0.2.1/24", ""},
        {"2001:db8:", ""},
        {"proxy", ""},
        {"no-host", ""},
        {"!example.jp", ""},
        {"localhost", ""},
        {"192.0.2.1 evil.jp", ""},
        {"192.0.2.1\nevil.jp", ""},
        {"a..jp", ""},
        {".example.jp", ""},
        {"example.jp.", ""},
        {"-a.example.jp", ""},
        {"a-.example.jp", ""},
        {"a_b.example.jp", ""},
        {"host.123", ""},
        {"<script>.jp", ""},
        {"\x83\x65\x83X\x83g.jp", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(CRukBBSFormConf::DenyEntry(c.pText).GetText(), c.pWant) << c.pText;
    std::string label(63, 'a'), longLabel(64, 'a');
    EXPECT_STREQ(CRukBBSFormConf::DenyEntry((label + ".jp").c_str()).GetText(),
                 (label + ".jp").c_str());
    EXPECT_STREQ(CRukBBSFormConf::DenyEntry((longLabel + ".jp").c_str()).GetText(), "");
    std::string tooLong;
    while (tooLong.size() < 254)
        tooLong += "abcdefgh.";
    EXPECT_STREQ(CRukBBSFormConf::DenyEntry((tooLong + "jp").c_str()).GetText(), "");
}

// The bytes of a literal, NUL bytes included.
#define BYTES(s) std::string(s, sizeof(s) - 1)

TEST(AdminRules, PictureTypes)
{
    const struct {
        std::string bytes;
        const char* pWant;
    } cases[] = {
        {BYTES("\x89PNG\r\n\x1a\n\0\0\0\rIHDR"), "png"},
        {BYTES("GIF89a\x01\0\x01\0"), "gif"},
        {BYTES("GIF87a"), "gif"},
        {BYTES("\xff\xd8\xff\xe0\0\x10JFIF"), "jpg"},
        {BYTES("RIFF\x24\0\0\0WEBPVP8 "), "webp"},
        {BYTES("\x89PNG\r\n\x1a"), nullptr},  // cut short
        {BYTES("RIFF\x24\0\0\0WAVEfmt "), nullptr},
        {BYTES("<svg xmlns=\"http://www.w3.org/2000/svg\"/>"), nullptr},
        {BYTES("<html><script>alert(1)</script>"), nullptr},
        {BYTES("GIF88a"), nullptr},
        {BYTES("BM\x36\0\0\0"), nullptr},
        {BYTES(""), nullptr},
    };
    for (const auto& c : cases) {
        const char* pGot = CRukBBSFormConf::PictureType(
            reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size());
        EXPECT_STREQ(pGot ? pGot : "(none)", c.pWant ? c.pWant : "(none)") << c.bytes;
    }
    const struct {
        const char* pName;
        const char* pWant;
    } names[] = {
        {"a.png", "png"}, {"A.PNG", "png"}, {"a.jpeg", "jpg"}, {"a.JPG", "jpg"},
        {"a.gif", "gif"}, {"a.webp", "webp"}, {"a.svg", nullptr}, {"a.png.php", nullptr},
        {"a.php.png", "png"}, {"png", nullptr}, {"a.", nullptr}, {"a.ico", nullptr},
        {"", nullptr},
    };
    for (const auto& c : names) {
        const char* pGot = CRukBBSFormConf::PictureTypeOfName(c.pName);
        EXPECT_STREQ(pGot ? pGot : "(none)", c.pWant ? c.pWant : "(none)") << c.pName;
    }
}

// "あいう" is three two-byte characters; 0x5C and 0x7C are second bytes
// of some ("表" is 0x95 0x5C), never characters of their own there.
TEST(AdminRules, ExcerptCutsOnCharacters)
{
    const struct {
        const char* pText;
        int nBytes;
        const char* pWant;
    } cases[] = {
        {"\x82\xa0\x82\xa2\x82\xa4", 6, "\x82\xa0\x82\xa2\x82\xa4"},
        {"\x82\xa0\x82\xa2\x82\xa4", 5, "\x82\xa0\x82\xa2\x81\x63"},
        {"\x82\xa0\x82\xa2\x82\xa4", 4, "\x82\xa0\x82\xa2\x81\x63"},
        {"a\x82\xa0\x82\xa2", 2, "a\x81\x63"},
        {"\x95\x5c\x95\x5c", 3, "\x95\x5c\x81\x63"},
        {"one\x1dtwo\nthree\rfour", 100, "one two three four"},
        {"\xb1\xb2\xb3", 2, "\xb1\xb2\x81\x63"},  // half-width kana are one byte
        {"ab\x82", 10, "ab"},                        // a lead byte at the end
        {"", 10, ""},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(CRukBBSFormConf::Excerpt(c.pText, c.nBytes).GetText(), c.pWant)
            << c.pText << " " << c.nBytes;
}

TEST(Session, TokensAreRandomHex)
{
    std::set<std::string> seen;
    for (int i = 0; i < 50; i++) {
        CRukString token = CRukSession::RandomHex(32);
        ASSERT_TRUE(CRukSession::IsTokenText(token.GetText())) << token.GetText();
        seen.insert(token.GetText());
    }
    EXPECT_EQ(seen.size(), 50u);
    const std::string bad[] = {"", "abc", "../x", std::string(64, 'A'),
                               std::string(63, 'a') + "g", std::string(65, 'a')};
    for (const std::string& p : bad)
        EXPECT_FALSE(CRukSession::IsTokenText(p.c_str())) << p;
    EXPECT_TRUE(CRukSession::IsSameText("abc", "abc"));
    EXPECT_FALSE(CRukSession::IsSameText("abc", "abd"));
    EXPECT_FALSE(CRukSession::IsSameText("abc", "abcd"));
    EXPECT_FALSE(CRukSession::IsSameText("abc", ""));
    EXPECT_TRUE(CRukSession::IsSameText(nullptr, ""));
}

TEST(Session, StartFindEnd)
{
    testutil::TempDir dir;
    std::string file = dir / "dat-session.dat", lock = dir / "dat-session.lock";
    const time_t now = 1800000000;
    CRukSession a(file.c_str(), lock.c_str()), b(file.c_str(), lock.c_str()),
        c(file.c_str(), lock.c_str());
    ASSERT_EQ(a.Start("*", now), 0);
    ASSERT_EQ(b.Start("tech", now), 0);
    ASSERT_EQ(c.Start("tech", now), 0);
    // Only hashes are kept: no cookie token is in the file.
    std::string stored = testutil::ReadFile(file);
    for (const CRukSession* s : {&a, &b, &c})
        EXPECT_EQ(stored.find(s->Token().GetText()), std::string::npos);

    CRukSession look(file.c_str(), lock.c_str());
    ASSERT_EQ(look.Find(a.Token().GetText(), now + 10), 0);
    EXPECT_STREQ(look.Scope().GetText(), "*");
    EXPECT_STREQ(look.FormToken().GetText(), a.FormToken().GetText());
    EXPECT_NE(std::string(a.FormToken().GetText()), a.Token().GetText());
    EXPECT_EQ(look.Find(CRukSession::RandomHex(32).GetText(), now), 1);
    EXPECT_EQ(look.Find("not a token", now), 1);

    ASSERT_EQ(look.EndScope("tech", now), 0);
    EXPECT_EQ(look.Find(b.Token().GetText(), now), 1);
    EXPECT_EQ(look.Find(c.Token().GetText(), now), 1);
    EXPECT_EQ(look.Find(a.Token().GetText(), now), 0);
    ASSERT_EQ(look.End(a.Token().GetText(), now), 0);
    EXPECT_EQ(look.Find(a.Token().GetText(), now), 1);
    EXPECT_EQ(testutil::ReadFile(file), "");
}

TEST(Session, Expiry)
{
    testutil::TempDir dir;
    std::string file = dir / "dat-session.dat", lock = dir / "dat-session.lock";
    const time_t now = 1800000000;
    const long idle = CRukSession::s_nIdle;
    CRukSession used(file.c_str(), lock.c_str()), idleOne(file.c_str(), lock.c_str());
    ASSERT_EQ(used.Start("*", now), 0);
    ASSERT_EQ(idleOne.Start("*", now), 0);
    CRukSession look(file.c_str(), lock.c_str());
    // A request within two hours keeps a session for two more hours.
    EXPECT_EQ(look.Find(used.Token().GetText(), now + idle - 1), 0);
    EXPECT_EQ(look.Find(idleOne.Token().GetText(), now + idle), 1);
    EXPECT_EQ(look.Find(used.Token().GetText(), now + 2 * idle - 2), 0);
    // However often it is used, twelve hours after the login it is over.
    for (time_t t = now + 2 * idle; t < now + CRukSession::s_nLifetime; t += 3600)
        ASSERT_EQ(look.Find(used.Token().GetText(), t), 0);
    EXPECT_EQ(look.Find(used.Token().GetText(), now + CRukSession::s_nLifetime), 1);
}

TEST(Session, KeepsTheMostRecentlyUsed)
{
    testutil::TempDir dir;
    std::string file = dir / "dat-session.dat", lock = dir / "dat-session.lock";
    const time_t now = 1800000000;
    CRukSession first(file.c_str(), lock.c_str());
    ASSERT_EQ(first.Start("*", now), 0);
    for (size_t i = 0; i < CRukSession::s_nMaxSessions; i++) {
        CRukSession s(file.c_str(), lock.c_str());
        ASSERT_EQ(s.Start("tech", now + 1 + static_cast<time_t>(i)), 0);
    }
    CRukSession look(file.c_str(), lock.c_str());
    EXPECT_EQ(look.Find(first.Token().GetText(), now + 500), 1);
    std::string stored = testutil::ReadFile(file);
    size_t nLines = 0;
    for (char c : stored)
        nLines += c == '\n';
    EXPECT_EQ(nLines, CRukSession::s_nMaxSessions);
}

TEST(Session, BusyLockIsReported)
{
    testutil::TempDir dir;
    std::string file = dir / "dat-session.dat", lock = dir / "dat-session.lock";
    CRukFlock held;
    ASSERT_EQ(held.Lock(lock.c_str()), 0);
    pid_t pid = fork();
    if (pid == 0) {
        go.m_nLockWait = 100;
        CRukSession s(file.c_str(), lock.c_str());
        _exit(s.Start("*", 1800000000) == -2 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
