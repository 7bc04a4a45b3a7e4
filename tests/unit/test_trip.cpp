// Tests of CRukTrip: the classic trip code (its salt rules, DES reading
// eight bytes), the fallback code, and signed names walked as Shift_JIS so
// that no trail byte is taken for "#", "＃", "◆" or a blank.
#include <gtest/gtest.h>

#include <crypt.h>

#include <cstring>
#include <memory>
#include <string>

#include "ruktrip.h"

namespace {

// The last ten characters of libcrypt's DES crypt of key with salt: the
// classic code for a salt the test states itself.
std::string DesTen(const char* pKey, const char* pSalt)
{
    auto data = std::make_unique<struct crypt_data>();
    memset(data.get(), 0, sizeof(struct crypt_data));
    const char* p = crypt_r(pKey, pSalt, data.get());
    std::string r = p ? p : "";
    return r.size() == 13 ? r.substr(3) : "(crypt failed: " + r + ")";
}

// CRukString results as std::string, for comparing and printing.
std::string S(const CRukString& text)
{
    return text.GetText();
}

}  // namespace

// The salt is the 2nd and 3rd byte of key + "H.", bytes outside "." to "z"
// made ".", and ":;<=>?@[\]^_`" made "ABCDEFGabcdef".
TEST(Trip, SaltRules)
{
    const struct {
        const char* key;
        const char* salt;
    } cases[] = {
        {"istrip", "st"},
        {"a", "H."},       // the key is short: "H." fills
        {"ab", "bH"},
        {"a:;", "AB"},     {"a<=", "CD"}, {"a>?", "EF"}, {"a@[", "Ga"},
        {"a\\]", "bc"},    {"a^_", "de"}, {"a`z", "fz"},
        {"a{-", ".."},     // above "z", below "."
        {"a /x", "./"},    // a blank is below "."
        {"\x82\xa0x", ".x"},  // あ: its trail byte is no salt character
        {"x\x82\xa0", ".."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(S(CRukTrip::Salt(c.key)), c.salt) << c.key;
}

// The well-known code of "#istrip"; every other code is DES crypt with the
// salt of the rules above, of the first eight bytes of the key.
TEST(Trip, ClassicCodes)
{
    if (!CRukTrip::HasClassic())
        GTEST_SKIP() << "this libcrypt has no DES crypt: the fallback code is used";
    EXPECT_EQ(S(CRukTrip::Code("istrip")), "/WG5qp963c");
    const struct {
        const char* key;
        const char* salt;
    } cases[] = {
        {"a", "H."}, {"a:;", "AB"}, {"a`z", "fz"}, {"\x82\xa0x", ".x"}, {"pass word", "as"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(S(CRukTrip::Code(c.key)), DesTen(c.key, c.salt)) << c.key;
    // DES reads eight bytes: a longer key with the same start has the same
    // code, and so does a key that long libcrypt would refuse.
    EXPECT_EQ(S(CRukTrip::Code("abcdefghXYZ")), S(CRukTrip::Code("abcdefgh")));
    EXPECT_EQ(S(CRukTrip::Code(std::string(1000, 'k').c_str())), S(CRukTrip::Code("kkkkkkkk")));
    EXPECT_NE(S(CRukTrip::Code("abcdefgh")), S(CRukTrip::Code("abcdefgi")));
    EXPECT_EQ(S(CRukTrip::Code("")), "");
}

// The fallback: ten crypt characters, the same for the same key, different
// for keys that differ anywhere (it reads the whole key).
TEST(Trip, FallbackCodes)
{
    using M = CRukTrip::EMethod;
    std::string a = S(CRukTrip::Code("abcdefgh1", M::Fallback));
    ASSERT_EQ(a.size(), 10u) << a;
    EXPECT_EQ(strspn(a.c_str(),
                     "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"),
              10u);
    EXPECT_EQ(S(CRukTrip::Code("abcdefgh1", M::Fallback)), a);
    EXPECT_NE(S(CRukTrip::Code("abcdefgh2", M::Fallback)), a);
    EXPECT_NE(S(CRukTrip::Code("abcdefgh1", M::Classic)), a);
    EXPECT_EQ(S(CRukTrip::Code(std::string(2000, 'k').c_str(), M::Fallback)).size(), 10u);
}

// Signed names, in Shift_JIS: 名前 82 BC 91 4F... written as escapes.
TEST(Trip, SignedNames)
{
    if (!CRukTrip::HasClassic())
        GTEST_SKIP() << "this libcrypt has no DES crypt";
    const std::string code = "\x81\x9f/WG5qp963c";  // ◆/WG5qp963c
    const struct {
        const char* label;
        std::string typed;
        std::string stored;
    } cases[] = {
        {"plain", "\x96\xbc\x91\x4f", "\x96\xbc\x91\x4f"},
        {"key", "\x96\xbc\x91\x4f#istrip", "\x96\xbc\x91\x4f" + code},
        {"full-width mark", "\x96\xbc\x91\x4f\x81\x94istrip", "\x96\xbc\x91\x4f" + code},
        {"only the first mark", "a#istrip#x", "a\x81\x9f" + S(CRukTrip::Code("istrip#x"))},
        {"no name", "#istrip", code},
        {"empty key", "\x96\xbc\x91\x4f#", "\x96\xbc\x91\x4f"},
        // ◆ typed is ◇, before a key too: nobody can type a code.
        {"typed diamond", "\x96\xbc\x81\x9fX", "\x96\xbc\x81\x9eX"},
        {"typed diamond and key", "\x81\x9f#istrip", "\x81\x9e" + code},
        // メ漁 (83 81 | 9F 8B) and メ白 (83 81 | 94 92) hold "81 9F" and
        // "81 94" across two characters: neither is a ◆ nor a ＃.
        {"trail byte before 9F", "\x83\x81\x9f\x8b", "\x83\x81\x9f\x8b"},
        {"trail byte before 94", "\x83\x81\x94\x92#istrip", "\x83\x81\x94\x92" + code},
    };
    for (const auto& c : cases)
        EXPECT_EQ(S(CRukTrip::SignedName(c.typed.c_str())), c.stored)
            << c.label;
}

// The handle a reserved name is compared with: before the key or a stored
// code, without blanks around it.
TEST(Trip, Handles)
{
    const struct {
        const char* typed;
        const char* handle;
    } cases[] = {
        {"\x8a\xc7\x97\x9d\x90\x6c", "\x8a\xc7\x97\x9d\x90\x6c"},              // 管理人
        {" \x81\x40\x8a\xc7\x97\x9d\x90\x6c\t\x81\x40", "\x8a\xc7\x97\x9d\x90\x6c"},
        {"\x8a\xc7\x97\x9d\x90\x6c #key", "\x8a\xc7\x97\x9d\x90\x6c"},
        {"\x8a\xc7\x97\x9d\x90\x6c\x81\x94key", "\x8a\xc7\x97\x9d\x90\x6c"},
        {"\x8a\xc7\x97\x9d\x90\x6c\x81\x9f/WG5qp963c", "\x8a\xc7\x97\x9d\x90\x6c"},
        {"\x8a\xc7 \x97\x9d\x90\x6c", "\x8a\xc7 \x97\x9d\x90\x6c"},  // a blank inside stays
        {"\x83\x81@", "\x83\x81@"},  // メ@: "81 40" across two characters is no blank
        {"\x81\x40 ", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_STREQ(CRukTrip::Handle(c.typed).GetText(), c.handle) << c.typed;
}
