// The grammar of conditional requests: If-None-Match lists compared
// weakly, HTTP-dates; and the digest the board's validators are made of.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rukdigest.h"
#include "rukhttpcache.h"

namespace {

// The answer for a field when the current page's opaque tag is "abc.n";
// also collects every tag the parser handed over.
CRukHttpCache::EMatch Match(const std::string& field, std::vector<std::string>* pSeen = nullptr)
{
    return CRukHttpCache::IfNoneMatch(field.c_str(), [&](const char* p, size_t n) {
        if (pSeen)
            pSeen->emplace_back(p, n);
        return std::string(p, n) == "abc.n";
    });
}

}  // namespace

TEST(IfNoneMatch, ListsAndWeakComparison)
{
    using M = CRukHttpCache::EMatch;
    struct Case {
        const char* pField;
        M nExpect;
    } cases[] = {
        {"W/\"abc.n\"", M::kMatch},
        {"\"abc.n\"", M::kMatch},  // weak comparison: the prefix does not count
        {"\"x\", W/\"abc.n\"", M::kMatch},
        {"  \"x\"  ,W/\"abc.n\"\t", M::kMatch},
        {", ,\"abc.n\",", M::kMatch},  // empty list elements are allowed
        {"*", M::kMatch},
        {" * ", M::kMatch},
        {"W/\"abc.m\"", M::kNoMatch},
        {"W/\"ABC.n\"", M::kNoMatch},  // tags compare byte by byte
        {"w/\"abc.n\"", M::kNoMatch},  // the weak prefix is "W/" exactly
        {"abc.n", M::kNoMatch},        // no quotes: not a tag
        {"\"abc.n", M::kNoMatch},      // unterminated
        {"\"abc.n\" \"x\"", M::kNoMatch},  // no comma between tags
        {"\"abc.n\", garbage", M::kNoMatch},  // a malformed list is ignored whole
        {"\"a\"bc.n\"", M::kNoMatch},
        {"*, \"abc.n\"", M::kNoMatch},  // "*" stands alone
        {"\"abc.n\" *", M::kNoMatch},
        {"", M::kNoMatch},
        {",,,", M::kNoMatch},
        {"\"abc\x01.n\"", M::kNoMatch},  // control bytes are no tag characters
    };
    for (const Case& c : cases)
        EXPECT_EQ(Match(c.pField), c.nExpect) << c.pField;
}

TEST(IfNoneMatch, HandsOverEachTagOnce)
{
    std::vector<std::string> seen;
    EXPECT_EQ(Match("\"a\", W/\"\", \"\xe3\x81\x82\"", &seen), CRukHttpCache::kNoMatch);
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "", "\xe3\x81\x82"}));
}

TEST(IfNoneMatch, ThousandsOfTagsAndHugeGarbage)
{
    std::string many;
    for (int i = 0; i < 20000; i++)
        many += "W/\"tag" + std::to_string(i) + "\", ";
    std::vector<std::string> seen;
    EXPECT_EQ(Match(many + "\"abc.n\"", &seen), CRukHttpCache::kMatch);
    EXPECT_EQ(seen.size(), 20001u);
    EXPECT_EQ(Match(std::string(1 << 20, '"')), CRukHttpCache::kNoMatch);
    EXPECT_EQ(Match("\"" + std::string(1 << 20, 'x')), CRukHttpCache::kNoMatch);
}

TEST(HttpDate, WritesAndReadsTheFixedForm)
{
    EXPECT_EQ(CRukHttpCache::HttpDate(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(CRukHttpCache::HttpDate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
    struct Case {
        const char* pText;
        bool bOk;
        time_t t;
    } cases[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", true, 784111777},
        {"Thu, 29 Feb 2024 23:59:59 GMT", true, 1709251199},
        {"Sun, 06 Nov 1994 08:49:37 UTC", false, 0},
        {"Mon, 06 Nov 1994 08:49:37 GMT", false, 0},  // the wrong weekday
        {"Fri, 31 Feb 2023 00:00:00 GMT", false, 0},  // no such day
        {"Sunday, 06-Nov-94 08:49:37 GMT", false, 0},  // obsolete forms are not read
        {"Sun Nov  6 08:49:37 1994", false, 0},
        {"Sun, 06 Nov 1994 08:49:37 GMT ", false, 0},
        {"Sun, 06 Xyz 1994 08:49:37 GMT", false, 0},
        {"Sun, 32 Nov 1994 08:49:37 GMT", false, 0},
        {"Sun, 06 Nov 1994 24:49:37 GMT", false, 0},
        {"Sun, 06 Nov 19x4 08:49:37 GMT", false, 0},
        {"", false, 0},
    };
    for (const Case& c : cases) {
        time_t t = 0;
        EXPECT_EQ(CRukHttpCache::ParseHttpDate(c.pText, t), c.bOk) << c.pText;
        if (c.bOk) {
            EXPECT_EQ(t, c.t) << c.pText;
        }
    }
    for (time_t t : {time_t(1), time_t(951782400), time_t(1796925840), time_t(4102444799)}) {
        time_t back = 0;
        ASSERT_TRUE(CRukHttpCache::ParseHttpDate(CRukHttpCache::HttpDate(t).c_str(), back));
        EXPECT_EQ(back, t);
    }
}

// Values go into the digest with their lengths: sequences that would run
// together into the same bytes still differ.
TEST(Digest, ValuesDoNotRunTogether)
{
    auto hex = [](std::initializer_list<const char*> values) {
        CRukDigest d;
        for (const char* p : values)
            d.Add(p);
        return d.Hex(16);
    };
    EXPECT_EQ(hex({"ab", "c"}), hex({"ab", "c"}));
    EXPECT_NE(hex({"ab", "c"}), hex({"a", "bc"}));
    EXPECT_NE(hex({"abc", ""}), hex({"abc"}));
    EXPECT_EQ(hex({"x"}).size(), 32u);
    CRukDigest d;
    d.Add("abc");
    EXPECT_EQ(d.Hex(32).size(), 64u);
}
