// Tests of CRukCrypt: known codes for fixed salts, the stored form with
// asterisks, matching (letter case, the 8-character limit, plain-text
// passwords) and the salt.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "rukcrypt.h"
#include "rukglobal.h"
#include "testutil.h"

// Codes worked out by hand from the table and the rotation rule.
TEST(Crypt, KnownCodes)
{
    struct {
        const char* password;
        const char* salt;
        const char* code;
    } cases[] = {
        {"abc", "%&", "%&2mM+Tff+"},        // rotation 4
        {"ABC", "%&", "%&2mM+Tff+"},        // letters are case-insensitive
        {"secret", "zZ", "zZbjKCjB+k"},     // cut to 8 code characters
        {"password1", "Aa", "Aaf3EECGe2"},  // rotation 1
        {"a", "il", "ilk+F+h"},             // one character: a + b + c
        {"", "0y", "0y++"},
        {"x\x01\xe7", "9x", "9xlZZ+e&&+"},  // control and high bytes: the last character
        {"pw", "\xff\xff", "\xff\xffGc+Mn+hH"},  // negative rotation: none
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(CRukCrypt::Crypt(c.password, c.salt).GetText(), c.code)
            << testing::PrintToString(c.password);
        EXPECT_TRUE(CRukCrypt::IsMatch(c.password, c.code)) << testing::PrintToString(c.password);
    }
    CRukString three = CRukCrypt::Crypt("xyz", "Ab");
    ASSERT_EQ(three.GetLength(), 10);
    EXPECT_EQ(three.GetText()[5], '+');
    EXPECT_EQ(three.GetText()[9], '+');
    EXPECT_EQ(CRukCrypt::Encrypt("abc", -3), CRukCrypt::Encrypt("abc", 0));
}

TEST(Crypt, MatchingRules)
{
    CRukString stored = CRukCrypt::CryptEx("Secret77", "Qp");
    ASSERT_EQ(stored.GetLength(), 12);
    EXPECT_EQ(stored.GetText()[0], '*');
    EXPECT_EQ(stored.GetText()[11], '*');
    struct {
        const char* typed;
        const char* stored;
        bool match;
    } cases[] = {
        {"Secret77", stored.GetText(), true},
        {"sECRET77", stored.GetText(), true},   // other letter case
        {"Secret78", stored.GetText(), false},  // one character differs
        {"Secret77 and more", stored.GetText(), true},  // only 8 characters count
        {"Secret7", stored.GetText(), false},
        {"", stored.GetText(), false},
        {"", "", false},              // an empty stored value never matches
        {"x", nullptr, false},
        {"plain", "plain", true},     // an old plain-text password
        {"Plain", "plain", false},    // compared byte for byte
        {"plain", "plain ", false},
        {"a*b", "a*b", true},         // one asterisk is still plain text
        {"**", "**", true},           // nothing between the asterisks
    };
    for (const auto& c : cases)
        EXPECT_EQ(CRukCrypt::IsMatchEx(c.typed, c.stored), c.match)
            << c.typed << " vs " << (c.stored ? c.stored : "(null)");

    EXPECT_EQ(CRukCrypt::Crypt("abcdefgh", "Qp"), CRukCrypt::Crypt("abcdefghij", "Qp"));
    EXPECT_NE(CRukCrypt::Crypt("abcdefg", "Qp"), CRukCrypt::Crypt("abcdefgX", "Qp"));
    EXPECT_FALSE(CRukCrypt::IsMatch("abc", nullptr));
}

TEST(Crypt, StoredForm)
{
    struct {
        const char* password;
        const char* expected;
    } cases[] = {
        {"", ""},                     // an empty password stores nothing
        {nullptr, ""},
        {"abc", "*%&2mM+Tff+*"},
        {"*%&2mM+Tff+*", "*%&2mM+Tff+*"},  // already a stored code
        {"x*inner*y", "*inner*"},     // text between asterisks is taken as it is
        {"**", "*%&ww+aa+22*"},    // nothing between them: coded
    };
    for (const auto& c : cases)
        EXPECT_STREQ(CRukCrypt::CryptEx(c.password, "%&").GetText(), c.expected)
            << (c.password ? c.password : "(null)");

    CRukString once = CRukCrypt::CryptEx("pass", CRukCrypt::MakeSalt().GetText());
    EXPECT_EQ(CRukCrypt::CryptEx(once.GetText(), "zz"), once);
    EXPECT_TRUE(CRukCrypt::IsMatchEx("PASS", once.GetText()));
}

TEST(Crypt, SaltComesFromTheTable)
{
    for (int i = 0; i < 3; i++) {
        CRukString salt = CRukCrypt::MakeSalt();
        ASSERT_EQ(salt.GetLength(), 2);
        EXPECT_NE(strchr(CRukCrypt::s_pCodeTable, salt.GetText()[0]), nullptr);
        EXPECT_NE(strchr(CRukCrypt::s_pCodeTable, salt.GetText()[1]), nullptr);
    }
    EXPECT_EQ(strlen(CRukCrypt::s_pCodeTable), 64u);
    EXPECT_EQ(strpbrk(CRukCrypt::s_pCodeTable, "+*="), nullptr);
    EXPECT_STREQ(CRukCrypt::GetSalt("abcdef").GetText(), "ab");
    EXPECT_STREQ(CRukCrypt::GetSalt("a").GetText(), "a");
    EXPECT_STREQ(CRukCrypt::GetSalt(nullptr).GetText(), "");
}

TEST(Crypt, TraceNeverShowsThePassword)
{
    testutil::TempDir tmp;
    const std::string log = tmp / "trace.log";
    int nOld = go.m_log.GetEnabled();
    CRukString oldPath = go.m_log.GetPath();
    go.m_log.Initialize(log.c_str());
    go.m_log.SetEnabled(1);
    CRukString code = CRukCrypt::Crypt("hunter2", "Qp");
    go.m_log.SetEnabled(nOld);
    go.m_log.Initialize(oldPath.GetText());
    std::string text = testutil::ReadFile(log);
    EXPECT_NE(text.find(std::string("Qp) -> (") + code.GetText() + ")"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("hunter2"), std::string::npos) << text;
}
