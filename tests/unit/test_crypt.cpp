// Tests of CRukCrypt: new codes count every byte of the password and are
// salted; old codes and plain-text passwords from installed boards still
// verify; stored codes of other crypt(3) methods verify within a bounded
// cost; broken codes never match; the trace log never shows a password.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rukcrypt.h"
#include "rukglobal.h"
#include "testutil.h"

namespace {

// Shift_JIS kana: あいうえおかきく and あいうえおかきけ (the last differs).
const char* const kKanaA = "\x82\xa0\x82\xa2\x82\xa4\x82\xa6\x82\xa8\x82\xa9\x82\xab\x82\xad";
const char* const kKanaB = "\x82\xa0\x82\xa2\x82\xa4\x82\xa6\x82\xa8\x82\xa9\x82\xab\x82\xaf";

struct MatchCase {
    const char* typed;
    const char* stored;
    bool match;
};

void ExpectMatches(const MatchCase* pCases, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        const MatchCase& c = pCases[i];
        EXPECT_EQ(CRukCrypt::Verify(c.typed, c.stored), c.match)
            << testing::PrintToString(c.typed) << " vs "
            << testing::PrintToString(c.stored ? c.stored : "(null)");
    }
}

}  // namespace

// Every byte of the password counts in a new code: letter case, bytes from
// 0x80 up, the end of a long kana password, asterisks inside.
TEST(Crypt, NewCodesCountEveryByte)
{
    const std::string long0(299, 'p');
    const std::string long1 = long0 + "p";
    const std::string long2 = long1 + "q";
    struct {
        const char* password;
        std::vector<const char*> others;  // none of them matches
    } cases[] = {
        {kKanaA, {kKanaB, "\x82\xa0\x82\xa2\x82\xa4\x82\xa6", ""}},
        {"Secret77", {"sECRET77", "SECRET77", "secret77", "Secret77 and more", "Secret7"}},
        {"pw\x80", {"pw\x81", "pw\xff", "pw"}},
        {"\xfe\xfd\xfc", {"\xfe\xfd\xfd", "\x7e\x7d\x7c"}},
        {"x*y*z", {"*y*", "y", "x*y*"}},                     // hashed whole
        {"*%&2mM+Tff+*", {"abc", "ABC"}},                    // looks like an old code
        {long1.c_str(), {long2.c_str(), long0.c_str()}},
    };
    for (const auto& c : cases) {
        CRukString stored = CRukCrypt::Hash(c.password);
        EXPECT_TRUE(CRukCrypt::Verify(c.password, stored.GetText()))
            << testing::PrintToString(c.password) << " " << stored.GetText();
        for (const char* other : c.others)
            EXPECT_FALSE(CRukCrypt::Verify(other, stored.GetText()))
                << testing::PrintToString(other) << " vs " << testing::PrintToString(c.password);
    }
}

// The stored form: "*" + a crypt code of the current method + "*", a new
// salt each time, nothing for an empty password.
TEST(Crypt, StoredFormAndSalt)
{
    CRukString one = CRukCrypt::Hash("same password");
    CRukString two = CRukCrypt::Hash("same password");
    EXPECT_NE(one, two);
    for (const CRukString* p : {&one, &two}) {
        const std::string s = p->GetText();
        ASSERT_GT(s.size(), 40u) << s;
        EXPECT_EQ(s.substr(0, 2), "*$") << s;
        EXPECT_EQ(s.back(), '*') << s;
        EXPECT_EQ(s.find('*', 1), s.size() - 1) << s;
        EXPECT_TRUE(CRukCrypt::IsCurrent(s.c_str())) << s;
        EXPECT_TRUE(CRukCrypt::Verify("same password", s.c_str())) << s;
    }
    EXPECT_STREQ(CRukCrypt::Hash("").GetText(), "");
    EXPECT_STREQ(CRukCrypt::Hash(nullptr).GetText(), "");
    // Libcrypt takes up to 511 bytes; the rest is ignored.
    const std::string limit(511, 'k');
    CRukString longest = CRukCrypt::Hash((limit + "tail").c_str());
    EXPECT_TRUE(CRukCrypt::Verify(limit.c_str(), longest.GetText()));
    EXPECT_FALSE(CRukCrypt::Verify(limit.substr(1).c_str(), longest.GetText()));
}

// Codes of the old table scheme that installed boards hold still verify,
// with their old rules: letters folded to one case, only the first eight
// characters, and every kanji or kana byte the same symbol. The first five
// were worked out by hand from the table; the others were made by the old
// code. A salt may begin with "$": such a code is still an old one.
TEST(Crypt, OldCodesStillVerify)
{
    const MatchCase cases[] = {
        {"abc", "*%&2mM+Tff+*", true},
        {"ABC", "*%&2mM+Tff+*", true},          // case folded
        {"abd", "*%&2mM+Tff+*", false},
        {"secret", "*zZbjKCjB+k*", true},
        {"password1", "*Aaf3EECGe2*", true},
        {"a", "*ilk+F+h*", true},
        {"x\x01\xe7", "*9xlZZ+e&&+*", true},
        {"Secret77", "*QpC1kc1bRR*", true},
        {"sECRET77", "*QpC1kc1bRR*", true},
        {"Secret77 and more", "*QpC1kc1bRR*", true},  // only 8 characters count
        {"Secret78", "*QpC1kc1bRR*", false},
        {"Secret7", "*QpC1kc1bRR*", false},
        {"", "*QpC1kc1bRR*", false},
        {"adminpw", "*k3M1egEDo+*", true},
        {"adminpw", "*$k1hDFcb%+*", true},      // salt "$k"
        {"adminpx", "*$k1hDFcb%+*", false},
        {"boardpw", "*$$nG3e2fC+*", true},      // salt "$$"
        {kKanaA, "*aB&&&&&&&&*", true},
        {kKanaB, "*aB&&&&&&&&*", true},         // every kana the same
        {"x", "*!*", false},                     // too short to be an old code
    };
    ExpectMatches(cases, sizeof(cases) / sizeof(cases[0]));
}

// A stored value not wrapped in asterisks is an old plain-text password:
// it matches only the same bytes. An empty stored value or an empty
// password never matches.
TEST(Crypt, PlainTextAndEmptyValues)
{
    const MatchCase cases[] = {
        {"plain", "plain", true},
        {"Plain", "plain", false},
        {"plain", "plain ", false},
        {"plai", "plain", false},
        {"plain!", "plain", false},
        {"a*b", "a*b", true},          // one asterisk
        {"**", "**", true},            // nothing between the asterisks
        {"x*y*z", "x*y*z", true},      // asterisks inside: plain text
        {"*a*b*", "*a*b*", true},
        {"a", "*a*b*", false},
        {"y", "x*y*z", false},
        {"\x82\xa0", "\x82\xa0", true},
        {"\x82\xa0", "\x82\xa2", false},
        {"", "", false},
        {"x", "", false},
        {"x", nullptr, false},
        {nullptr, "plain", false},
        {"", "plain", false},
    };
    ExpectMatches(cases, sizeof(cases) / sizeof(cases[0]));
}

// Codes of other crypt(3) methods, for instance written by hand with
// mkpasswd, verify; a cost above the checked bound or a method without a
// bound is refused even for the right password.
TEST(Crypt, OtherMethodsWithinTheirCost)
{
    const char* const pw = "open sesame";
    struct {
        const char* code;
        bool match;
    } cases[] = {
        {"$6$XORcdC4pssC8FTIq$5xBBhuYnRFx1.2SQoOZKs557FybCL44wlN4urCoVyuUGjU8NGMkFal2Rq2ux1jezSK6sQL6Jkw3fbEhzdhgYB1", true},
        {"$5$2yL.TggmfoA46.zv$liDPb/quVC2Uwl63tr0MQWD70woEw8w5lJVPc74Yzi8", true},
        {"$1$nxJQe4Sa$69DFGYDkOyRUuv3vr0gWy.", true},
        {"$2b$05$XyKFK3PFhtBK3bmfxmNd/O/1vtkCTHWTMe.3CBlW42/tRCQBy3xvK", true},
        {"$2a$05$T4W.Hrz6oDGsBStaBICIcuBD5G.2n53/iK2XOdfXwDh0giJN2Mp9e", true},
        {"$y$j8T$qdj3oS0fE0IUD2inTzxPn0$ceDjeluirCEDdAAisTruM1F98YD.dzuLl/O6FZ6kf4/", true},
        {"$gy$j8T$augttxxUdi.h0/fIdvR8C1$txmEjEiuV9L1BczXphR5OXH.eQxV.9prpDs7U4sQdF.", true},
        {"$6$rounds=400000$85ky3dsBEtdcOj9T$MMLVXqzv9m0Z0u78V7ThF8mvqFzxUIE2V0jwpcgXRU4k4HokvyE31wn0YgMjFinJG5qlXYpr7O1ZHWbnv5IDz/", true},
        {"$y$jBT$8Jkx9oNERZLlEGOwoapGx/$k.Lr1MRJ.ShpDJDHoAroD4sMnXlOUEB2nD3ftMSPAb3", true},
        // Above the bound: too costly to check.
        {"$6$rounds=400001$lp6xlw4GN5oSCSbd$z.Nl4cNq4tJClW0g2NSaYuX8M7EfSb/AnCZ1mtyfKO/n3/mKF5uBaVOPgYXJGVNav2i/FOkUzvozOsxfSJx6./", false},
        {"$y$jCT$QzHYmtOLsr6f73azT1FFf1$5sQbvdC6UlTs6IvSyGvgVWiUqbsnphGyae5/ofUZ.m0", false},
        {"$2b$12$WLdyk3webIBZ5GU3v6XOeuxQMt3o2xCDfmKpd.GRz6f2rrRK2Q49.", false},
        // scrypt: its cost parameters are not checked, so it is refused.
        {"$7$CU..../....RsV3qwIAAwWx7Zm5QCgqG0$26ohQdWteivH0J05Z1qPZoOfwSDS2iM8cCCMPyYMYk2", false},
    };
    for (const auto& c : cases) {
        const std::string stored = std::string("*") + c.code + "*";
        EXPECT_EQ(CRukCrypt::Verify(pw, stored.c_str()), c.match) << c.code;
        EXPECT_FALSE(CRukCrypt::Verify("open sesamE", stored.c_str())) << c.code;
        EXPECT_FALSE(CRukCrypt::IsCurrent(stored.c_str())) << c.code;
    }
}

// A damaged or hostile "$" code never matches and does not crash, however
// it is cut or filled.
TEST(Crypt, BrokenCodesNeverMatch)
{
    const std::string good = CRukCrypt::Hash("pw").GetText();
    const std::string code = good.substr(1, good.size() - 2);
    std::string flipped = code;
    flipped[flipped.size() - 3] = flipped[flipped.size() - 3] == 'a' ? 'b' : 'a';
    std::string params = code;
    params[4] = '!';
    const std::string codes[] = {
        code.substr(0, code.size() - 1),              // cut short
        code + "x",                                   // one more character
        flipped,                                      // one character changed
        params,                                       // broken cost field
        code.substr(0, code.rfind('$') + 1),          // no hash
        code.substr(0, code.rfind('$')),             // setting only
        "$y$",
        "$y$$$$$$$$$$$$$$",
        "$y$jZZZZZZZZZZZZZZZZ$abc$def",              // cost beyond any bound
        "$6$rounds=99999999999999999999$salt$hash",
        "$6$rounds=$salt$hash",
        "$2b$99$abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOP",
        "$unknown$abc$defghijklmnop",
        "$" + std::string(20000, 'A'),
        "$y$j9T$" + std::string(5000, '.') + "$" + std::string(43, '.'),
    };
    for (const auto& c : codes) {
        const std::string stored = "*" + c + "*";
        EXPECT_FALSE(CRukCrypt::Verify("pw", stored.c_str())) << c.substr(0, 80);
        EXPECT_FALSE(CRukCrypt::Verify("", stored.c_str())) << c.substr(0, 80);
    }
    EXPECT_TRUE(CRukCrypt::Verify("pw", good.c_str()));
    EXPECT_FALSE(CRukCrypt::Verify("pw", ("*" + good + "*").c_str()));   // wrapped twice
    EXPECT_FALSE(CRukCrypt::Verify("pw", good.substr(1).c_str()));       // half-wrapped
}

// Only a wrapped code of the current method and cost is current; an old
// code, a plain-text password or a cheaper code is replaced when its holder
// is next written.
TEST(Crypt, OnlyNewCodesAreCurrent)
{
    const std::string fresh = CRukCrypt::Hash("pw").GetText();
    EXPECT_TRUE(CRukCrypt::IsCurrent(fresh.c_str()));
    const char* const notCurrent[] = {
        "*QpC1kc1bRR*",                  // old code
        "*$k1hDFcb%+*",                  // old code with a "$" salt
        "plain",
        "",
        nullptr,
        "*!*",
        "*$y$j8T$qdj3oS0fE0IUD2inTzxPn0$ceDjeluirCEDdAAisTruM1F98YD.dzuLl/O6FZ6kf4/*",  // cheaper
    };
    for (const char* p : notCurrent)
        EXPECT_FALSE(CRukCrypt::IsCurrent(p)) << (p ? p : "(null)");
    EXPECT_FALSE(CRukCrypt::IsCurrent(fresh.substr(1, fresh.size() - 2).c_str()));  // unwrapped
    EXPECT_FALSE(CRukCrypt::IsCurrent((fresh.substr(0, fresh.size() - 1) + "**").c_str()));
}

// The attack that a leaked settings file allowed: the old code keeps only
// the first eight characters, folded to one case, with every kanji or kana
// byte alike, so a password that differs from the real one in all of that
// still unlocks. An old code keeps this weakness until its holder is next
// written; a new code of the same password has none of it.
TEST(Crypt, OldWeaknessGoneInNewCodes)
{
    struct {
        const char* password;
        const char* oldCode;
        const char* guess;
    } cases[] = {
        {"Secret77", "*QpC1kc1bRR*", "SECRET77"},
        {"Secret77", "*QpC1kc1bRR*", "secret77-anything"},
        {kKanaA, "*aB&&&&&&&&*", "\x88\x9f\x88\x9f\x88\x9f\x88\x9f"},  // 亜亜亜亜
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(CRukCrypt::Verify(c.password, c.oldCode));
        EXPECT_TRUE(CRukCrypt::Verify(c.guess, c.oldCode)) << "the old weakness";
        CRukString fresh = CRukCrypt::Hash(c.password);
        EXPECT_TRUE(CRukCrypt::Verify(c.password, fresh.GetText()));
        EXPECT_FALSE(CRukCrypt::Verify(c.guess, fresh.GetText())) << c.guess;
    }
}

// The names kept for older callers: CryptEx and Crypt make new codes (the
// salt is ignored), IsMatchEx verifies, MakeSalt gives nothing.
TEST(Crypt, KeptNamesMakeNewCodes)
{
    CRukString stored = CRukCrypt::CryptEx("x*inner*y", "%&");
    EXPECT_TRUE(CRukCrypt::IsCurrent(stored.GetText())) << stored.GetText();
    EXPECT_TRUE(CRukCrypt::IsMatchEx("x*inner*y", stored.GetText()));
    EXPECT_FALSE(CRukCrypt::IsMatchEx("inner", stored.GetText()));
    EXPECT_STREQ(CRukCrypt::CryptEx("", "%&").GetText(), "");

    CRukString code = CRukCrypt::Crypt("pass", "Qp");
    ASSERT_FALSE(code.IsEmpty());
    EXPECT_EQ(code.GetText()[0], '$');
    const std::string wrapped = std::string("*") + code.GetText() + "*";
    EXPECT_TRUE(CRukCrypt::IsCurrent(wrapped.c_str()));
    EXPECT_TRUE(CRukCrypt::IsMatchEx("pass", wrapped.c_str()));
    EXPECT_FALSE(CRukCrypt::IsMatchEx("PASS", wrapped.c_str()));
    EXPECT_STREQ(CRukCrypt::Crypt("", "Qp").GetText(), "");
    EXPECT_STREQ(CRukCrypt::MakeSalt().GetText(), "");
}

// Hashing and checking trace the code, never the password, whether the
// stored value is a new code, an old one or plain text.
TEST(Crypt, TraceNeverShowsThePassword)
{
    testutil::TempDir tmp;
    const std::string log = tmp / "trace.log";
    CRukString code;
    bool bNew, bPlain, bOld;
    {
        testutil::TraceTo trace(log);
        code = CRukCrypt::Hash("hunter2");
        bNew = CRukCrypt::Verify("hunter2", code.GetText());
        bPlain = CRukCrypt::Verify("hunter2", "hunter2");
        bOld = CRukCrypt::Verify("adminpw", "*k3M1egEDo+*");
    }
    EXPECT_TRUE(bNew && bPlain && bOld);
    std::string text = testutil::ReadFile(log);
    const std::string inner(code.GetText() + 1, code.GetLength() - 2);
    EXPECT_NE(text.find("Crypt Verify -> 1"), std::string::npos) << text;
    // Nor the code: a leaked log must not hand out hashes to crack offline.
    EXPECT_EQ(text.find(inner), std::string::npos) << text;
    EXPECT_EQ(text.find("hunter2"), std::string::npos) << text;
    EXPECT_EQ(text.find("adminpw"), std::string::npos) << text;
}
