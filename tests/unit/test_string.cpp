// Tests of CRukString: construction and conversion, concatenation, search,
// replacement, trimming, encoding detection, percent/hex coding, substrings
// and the storage operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <string>

#include "rukstring.h"

namespace {

// One operation applied to a source text and the text it must produce.
struct TextCase {
    const char* name;
    const char* src;
    std::function<CRukString(const CRukString&)> op;
    const char* expected;
};

void RunTextCases(const TextCase* cases, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        CRukString src(cases[i].src);
        CRukString out = cases[i].op(src);
        EXPECT_STREQ(out.GetText(), cases[i].expected) << cases[i].name;
        EXPECT_STREQ(src.GetText(), cases[i].src) << cases[i].name << ": source changed";
    }
}

}  // namespace

TEST(StringBasics, NullAndEmptyNeverGiveNullText)
{
    CRukString a;
    CRukString b(static_cast<const char*>(nullptr));
    CRukString c("x");
    c = static_cast<const char*>(nullptr);
    CRukString d("abc");
    d.Free();
    for (const CRukString* s : {&a, &b, &c, &d}) {
        ASSERT_NE(s->GetText(), nullptr);
        EXPECT_STREQ(s->GetText(), "");
        EXPECT_EQ(s->GetLength(), 0);
        EXPECT_TRUE(s->IsEmpty());
        EXPECT_EQ(static_cast<int>(*s), 0);
    }
}

TEST(StringBasics, IntegerConstructionAndAssignment)
{
    EXPECT_STREQ(CRukString(static_cast<short>(-1)).GetText(), "-1");
    EXPECT_STREQ(CRukString(static_cast<unsigned short>(65535)).GetText(), "65535");
    EXPECT_STREQ(CRukString(0).GetText(), "0");
    EXPECT_STREQ(CRukString(INT_MIN).GetText(), "-2147483648");
    EXPECT_STREQ(CRukString(UINT_MAX).GetText(), "4294967295");
    EXPECT_STREQ(CRukString(LONG_MIN).GetText(), std::to_string(LONG_MIN).c_str());
    EXPECT_STREQ(CRukString(ULONG_MAX).GetText(), std::to_string(ULONG_MAX).c_str());

    CRukString s("old text");
    s = static_cast<short>(-32768);
    EXPECT_STREQ(s.GetText(), "-32768");
    s = 42u;
    EXPECT_STREQ(s.GetText(), "42");
    s = -7L;
    EXPECT_STREQ(s.GetText(), "-7");
}

TEST(StringBasics, NumericConversions)
{
    struct {
        const char* text;
        long asLong;
        int asInt;
        short asShort;
        unsigned short asUShort;
    } cases[] = {
        {"123", 123, 123, 123, 123},
        {"  42abc", 42, 42, 42, 42},
        {"abc", 0, 0, 0, 0},
        {"", 0, 0, 0, 0},
        {"-1", -1, -1, -1, 65535},
        {"70000", 70000, 70000, 4464, 4464},  // truncated to 16 bits
        {"3000000000", 3000000000L, 0, 0, 0},  // int/short only checked for long
    };
    for (const auto& c : cases) {
        CRukString s(c.text);
        EXPECT_EQ(static_cast<long>(s), c.asLong) << c.text;
        if (c.asLong <= INT_MAX) {
            EXPECT_EQ(static_cast<int>(s), c.asInt) << c.text;
            EXPECT_EQ(static_cast<short>(s), c.asShort) << c.text;
            EXPECT_EQ(static_cast<unsigned short>(s), c.asUShort) << c.text;
        }
    }
}

TEST(StringBasics, CopiesAreDeepAndMovesEmptyTheSource)
{
    CRukString a("hello");
    CRukString b(a);
    b += "!";
    EXPECT_STREQ(a.GetText(), "hello");
    EXPECT_STREQ(b.GetText(), "hello!");
    EXPECT_NE(a.GetText(), b.GetText());

    CRukString c(std::move(b));
    EXPECT_STREQ(c.GetText(), "hello!");
    EXPECT_STREQ(b.GetText(), "");  // NOLINT(bugprone-use-after-move)
    b = "reused";
    EXPECT_STREQ(b.GetText(), "reused");

    a = a;  // self-assignment keeps the text
    EXPECT_STREQ(a.GetText(), "hello");
    a = a.GetText();
    EXPECT_STREQ(a.GetText(), "hello");
}

TEST(StringConcat, AppendInsertAndOperators)
{
    CRukString s("ab");
    s += static_cast<const char*>(nullptr);
    EXPECT_STREQ(s.GetText(), "ab");
    s += CRukString();
    EXPECT_STREQ(s.GetText(), "ab");
    s += "cd";
    EXPECT_STREQ(s.GetText(), "abcd");
    s.Insert("<");
    EXPECT_STREQ(s.GetText(), "<abcd");
    s.Insert(CRukString("[["));
    EXPECT_STREQ(s.GetText(), "[[<abcd");
    s.Insert(static_cast<const char*>(nullptr));
    EXPECT_STREQ(s.GetText(), "[[<abcd");

    CRukString t = CRukString("x") + "y" + CRukString("z");
    EXPECT_STREQ(t.GetText(), "xyz");
    EXPECT_STREQ(("pre-" + t).GetText(), "pre-xyz");

    CRukString e;
    e.Insert("only");
    EXPECT_STREQ(e.GetText(), "only");
}

// Appending a piece of the string to itself must read the piece before the
// block is resized.
TEST(StringConcat, AppendingItselfOrAPartOfItself)
{
    CRukString s("abc");
    s += s;
    EXPECT_STREQ(s.GetText(), "abcabc");
    s += s.GetText();
    EXPECT_STREQ(s.GetText(), "abcabcabcabc");

    std::string big(5000, 'q');
    big += "TAIL";
    CRukString t(big.c_str());
    t += t.GetText() + 5000;  // the tail of its own block
    EXPECT_EQ(std::string(t.GetText()), big + "TAIL");
    t.Append(t.GetText() + 1, 3);
    EXPECT_EQ(std::string(t.GetText()), big + "TAILqqq");
    t.Insert(t.GetText() + t.GetLength() - 3);
    EXPECT_EQ(std::string(t.GetText()), "qqq" + big + "TAILqqq");
}

TEST(StringCompare, OperatorsAndCompare)
{
    CRukString b("b");
    EXPECT_TRUE(b == "b");
    EXPECT_TRUE(b != "a");
    EXPECT_TRUE(b > "a");
    EXPECT_TRUE(b < "c");
    EXPECT_TRUE(b <= "b");
    EXPECT_TRUE(b >= "b");
    EXPECT_TRUE(b == CRukString("b"));
    EXPECT_TRUE(b < CRukString("bb"));
    EXPECT_TRUE(CRukString("\xe7") > "z");  // bytes compare unsigned
    EXPECT_TRUE(CRukString() == static_cast<const char*>(nullptr));
    EXPECT_LT(CRukString("ABC").Compare("abc"), 0);  // only the sign of strcmp is fixed
    EXPECT_GT(CRukString("abc").Compare("ABC"), 0);
    EXPECT_EQ(CRukString("ABC").Compare("abc", 1), 0);
    EXPECT_LT(CRukString("abc").Compare("abd", 1), 0);
}

TEST(StringSearch, FindFindNoCaseFindOneOf)
{
    struct {
        const char* text;
        const char* what;
        int start;
        int find, findNoCase, findOneOf;
    } cases[] = {
        {"abcABCabc", "abc", 0, 0, 0, 0},
        {"abcABCabc", "abc", 1, 6, 3, 1},
        {"abcABCabc", "ABC", 4, -1, 6, 4},
        {"abcABCabc", "xyz", 0, -1, -1, -1},
        {"abc", "c", 2, 2, 2, 2},
        {"abc", "a", 3, -1, -1, -1},   // start at the length
        {"abc", "a", 99, -1, -1, -1},  // start beyond it
        {"abc", "a", -1, -1, -1, -1},  // negative start
        {"", "a", 0, -1, -1, -1},      // empty string
        {"a.b/c", "/.", 0, -1, -1, 1},
        // Candidates that part at the second byte: by case only, by bytes
        // that differ in the case bit but are no letters ("[" and "{",
        // "@" and "`"), and at the text's end.
        {"<b><IMG src", "<img", 0, -1, 3, 0},
        {"x[x{", "x{", 0, 2, 2, 0},
        {"a@a`", "a`", 0, 2, 2, 0},
        {"ab<", "<i", 0, -1, -1, 2},
    };
    for (const auto& c : cases) {
        CRukString s(c.text);
        EXPECT_EQ(s.Find(c.what, c.start), c.find) << c.text << " / " << c.what;
        EXPECT_EQ(s.FindNoCase(c.what, c.start), c.findNoCase) << c.text << " / " << c.what;
        EXPECT_EQ(s.FindOneOf(c.what, c.start), c.findOneOf) << c.text << " / " << c.what;
    }
    EXPECT_EQ(CRukString("abc").Find(nullptr), -1);
    EXPECT_EQ(CRukString("abc").FindOneOf(nullptr), -1);
}

TEST(StringReplace, FindAndReplace)
{
    struct {
        const char* text;
        const char* find;
        const char* with;
        bool all;
        bool noCase;
        const char* expected;
        int count;
    } cases[] = {
        {"aaa", "a", "b", false, false, "baa", 1},
        {"aaa", "a", "b", true, false, "bbb", 3},
        {"aaaa", "aa", "x", true, false, "xx", 2},
        {"aaa", "a", "aa", true, false, "aaaaaa", 3},  // inserted text is not searched
        {"a%T%b%T%", "%T%", "", true, false, "ab", 2},
        {"%T%", "%T%", "", true, false, "", 1},
        {"abc", "x", "y", true, false, "abc", 0},
        {"", "a", "b", true, false, "", 0},
        {"xAbyaBz", "ab", "-", true, true, "x-y-z", 2},
        {"xAbyaBz", "ab", "-", true, false, "xAbyaBz", 0},
        {"xAbyaBz", "AB", "-", false, true, "x-yaBz", 1},
    };
    for (const auto& c : cases) {
        CRukString s(c.text);
        int n = c.noCase ? s.ReplaceNoCase(c.find, c.with, c.all)
                         : s.Replace(c.find, c.with, c.all);
        EXPECT_EQ(n, c.count) << c.text << " / " << c.find;
        EXPECT_STREQ(s.GetText(), c.expected) << c.text << " / " << c.find;
    }
}

TEST(StringReplace, SpansAndMarkers)
{
    struct {
        const char* text;
        const char* begin;
        const char* end;
        const char* with;       // span form when non-null
        const char* newBegin;   // marker form otherwise
        const char* newEnd;
        bool all;
        bool noCase;
        const char* expected;
        int count;
    } cases[] = {
        {"1[2]3[4", "[", "]", "X", nullptr, nullptr, true, false, "1X3[4", 1},
        {"[a][b][c]", "[", "]", "-", nullptr, nullptr, true, false, "---", 3},
        {"[a][b][c]", "[", "]", "-", nullptr, nullptr, false, false, "-[b][c]", 1},
        {"]x[", "[", "]", "-", nullptr, nullptr, true, false, "]x[", 0},
        {"[[a]]", "[", "]", "", nullptr, nullptr, true, false, "]", 1},
        {"x<b>y</b>z", "<b>", "</b>", nullptr, "[", "]", true, false, "x[y]z", 1},
        {"<b>1</b><b>2</b><b>3", "<b>", "</b>", nullptr, "(", ")", true, false,
         "(1)(2)<b>3", 2},
        {"x<B>y</b>z<b>w</B>", "<b>", "</b>", nullptr, "[", "]", true, true,
         "x[y]z[w]", 2},
        {"X<!--A-->in<!--/a-->Y", "<!--a-->", "<!--/a-->", "", nullptr, nullptr, true, true,
         "XY", 1},
    };
    for (const auto& c : cases) {
        CRukString s(c.text);
        int n;
        if (c.with)
            n = c.noCase ? s.ReplaceNoCase(c.begin, c.end, c.with, c.all)
                         : s.Replace(c.begin, c.end, c.with, c.all);
        else
            n = c.noCase ? s.ReplaceNoCase(c.begin, c.end, c.newBegin, c.newEnd, c.all)
                         : s.Replace(c.begin, c.end, c.newBegin, c.newEnd, c.all);
        EXPECT_EQ(n, c.count) << c.text;
        EXPECT_STREQ(s.GetText(), c.expected) << c.text;
    }
}

// A NUL stored inside a string (a body read with one) ends its text: a
// replace finds nothing after it.
TEST(StringReplace, StoredNulEndsTheSearch)
{
    auto make = [] {
        CRukString s;
        memcpy(s.Alloc(11), "ab[x]\0ab[y]", 11);
        return s;
    };
    CRukString one = make();
    EXPECT_EQ(one.Replace("ab", "Z", true), 1);
    EXPECT_STREQ(one.GetText(), "Z[x]");
    CRukString span = make();
    EXPECT_EQ(span.Replace("[", "]", "-", true), 1);
    EXPECT_STREQ(span.GetText(), "ab-");
    CRukString none = make();
    EXPECT_EQ(none.Replace("[y", "]", "-", true), 0);
    EXPECT_EQ(none.Replace("b[y]", "-", true), 0);
}

TEST(StringTrim, BlanksAndShiftJisCharacters)
{
    const TextCase cases[] = {
        {"left", " \t\r\nab c \n", [](const CRukString& s) { return CRukString(s).TrimLeft(); },
         "ab c \n"},
        {"right", " ab c \t\r\n", [](const CRukString& s) { return CRukString(s).TrimRight(); },
         " ab c"},
        {"both", "\n ab \n", [](const CRukString& s) { return CRukString(s).Trim(); }, "ab"},
        {"only blanks", " \t\n ", [](const CRukString& s) { return CRukString(s).Trim(); }, ""},
        {"empty", "", [](const CRukString& s) { return CRukString(s).Trim(); }, ""},
        // "\x82\xa0" is a two-byte character; the blanks after it go
        {"sjis", "\x82\xa0\x82\xa2  ", [](const CRukString& s) { return CRukString(s).TrimRight(); },
         "\x82\xa0\x82\xa2"},
        // a lead byte takes the next byte as its trail, even a blank
        {"sjis lead + blank", "a\x82 ", [](const CRukString& s) { return CRukString(s).TrimRight(); },
         "a\x82 "},
        {"high pair", "\xb1\xb2 ", [](const CRukString& s) { return CRukString(s).TrimRight(); },
         "\xb1\xb2"},
    };
    RunTextCases(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST(StringIsCode, ClassifiesEncodings)
{
    struct {
        const char* text;
        int code;
    } cases[] = {
        {"plain ascii", 0},
        {"", 0},
        {"abc\x1b$B\x24\x22\x1b(B", 3},   // ISO-2022-JP
        {"\x82\xa0", 2},                  // Shift_JIS lead byte 0x80-0x9F
        {"\xa4\xa2", 1},                  // EUC-JP
        {"\xb1", 2},                      // half-width kana at the end
        {"\xb1z", 2},                     // 0xA0-0xDF before a byte below 0xA1
        {"\x8e\xb1", 2},                  // EUC-JP SS2 kana pair, counted only
        {"\xe4\xb8\xe4\xb8", 2},          // pairs valid in both count as Shift_JIS
        {"\xe0\x40", 2},                  // 0xE0-0xFC before a byte up to 0xA0
        {"\xfd", 1},
        {"\xe0", 0},                      // a lone lead byte at the end is skipped
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CRukString::IsCode(c.text), c.code) << testing::PrintToString(c.text);
        EXPECT_EQ(CRukString(c.text).IsCode(), c.code) << testing::PrintToString(c.text);
    }
    EXPECT_EQ(CRukString::IsCode(nullptr), 0);
}

// Every expansion is kept whole: the formatter once cut at 4,095 bytes,
// even inside a two-byte character.
TEST(StringFormat, ExpansionsAreKeptWhole)
{
    const std::string k5000(5000, 'z');
    const std::string k100000(100000, 'y');
    std::string kanji;  // 3,000 two-byte characters: a cut at any odd byte splits one
    for (int i = 0; i < 3000; i++)
        kanji += "\x82\xa0";  // あ
    struct {
        const char* name;
        std::function<void(CRukString&)> format;
        std::string expected;
    } cases[] = {
        {"short", [](CRukString& s) { s.Format("%d-%s-%05d", 7, "x", 42); }, "7-x-00042"},
        {"5,000 bytes", [&](CRukString& s) { s.Format("%s", k5000.c_str()); }, k5000},
        {"100,000 bytes", [&](CRukString& s) { s.Format("<%s>", k100000.c_str()); },
         "<" + k100000 + ">"},
        {"Japanese", [&](CRukString& s) { s.Format("%s", kanji.c_str()); }, kanji},
        {"a NUL from %c ends the text", [](CRukString& s) { s.Format("ab%cde", 0); }, "ab"},
        {"a long text up to a NUL",
         [&](CRukString& s) { s.Format("%s%c%s", k5000.c_str(), 0, "after"); }, k5000},
        {"null format", [](CRukString& s) { s.Format(static_cast<const char*>(nullptr)); }, ""},
    };
    for (const auto& c : cases) {
        CRukString s("old text");
        c.format(s);
        EXPECT_EQ(std::string(s.GetText()), c.expected) << c.name;
        EXPECT_EQ(s.GetLength(), static_cast<int>(c.expected.size())) << c.name;
    }
}

// The arguments may be the string's own text, short or long: it is read
// before it is replaced.
TEST(StringFormat, ArgumentsFromTheStringItself)
{
    for (size_t n : {3u, 3000u}) {
        const std::string text(n, 'a');
        CRukString s(text.c_str());
        s.Format("%s|%s", s.GetText(), s.GetText());
        EXPECT_EQ(std::string(s.GetText()), text + "|" + text) << n;
    }
}

TEST(StringEncoding, HexAndPercentCoding)
{
    const TextCase cases[] = {
        {"per", "a b/\xe7", [](const CRukString& s) { return s.CharToPerHex(); }, "a+b%2F%E7"},
        {"per keep", "*-._~", [](const CRukString& s) { return s.CharToPerHex(); }, "*-._%7E"},
        {"per slash", "a b/\xe7", [](const CRukString& s) { return s.CharToPerHexWithoutSlash(); },
         "a+b/%E7"},
        {"per all", "a b", [](const CRukString& s) { return s.CharToPerHexAll(); }, "%61+%62"},
        {"per all digits", "0-", [](const CRukString& s) { return s.CharToPerHexAll(); }, "%30%2D"},
        {"decode", "%41+%4a", [](const CRukString& s) { return s.PerHexToChar(); }, "A J"},
        {"decode high", "%e7%E7x", [](const CRukString& s) { return s.PerHexToChar(); },
         "\xe7\xe7x"},
        {"decode plain", "a/b=c", [](const CRukString& s) { return s.PerHexToChar(); }, "a/b=c"},
        // a "%" without two hex digits is no escape: it stays, with what
        // follows it, instead of ending the text
        {"decode non-hex", "ab%zzcd", [](const CRukString& s) { return s.PerHexToChar(); },
         "ab%zzcd"},
        {"decode %4x", "%4x!", [](const CRukString& s) { return s.PerHexToChar(); }, "%4x!"},
        {"decode short", "x%4", [](const CRukString& s) { return s.PerHexToChar(); }, "x%4"},
        {"decode lone %", "x%", [](const CRukString& s) { return s.PerHexToChar(); }, "x%"},
        {"decode %%41", "%%41+", [](const CRukString& s) { return s.PerHexToChar(); }, "%A "},
        {"decode %00", "a%00b", [](const CRukString& s) { return s.PerHexToChar(); }, "a"},
        {"hex", "A\xe7", [](const CRukString& s) { return s.CharToHex(); }, "41E7"},
        {"unhex", "41e7", [](const CRukString& s) { return s.HexToChar(); }, "A\xe7"},
        {"unhex mixed", "4A4b", [](const CRukString& s) { return s.HexToChar(); }, "JK"},
    };
    RunTextCases(cases, sizeof(cases) / sizeof(cases[0]));

    // every byte survives an encode and a decode
    std::string all;
    for (int c = 1; c < 256; c++)
        all += static_cast<char>(c);
    CRukString s(all.c_str());
    EXPECT_EQ(std::string(s.CharToPerHex().PerHexToChar().GetText()), all);
    EXPECT_EQ(std::string(s.CharToPerHexAll().PerHexToChar().GetText()), all);
    EXPECT_EQ(std::string(s.CharToHex().HexToChar().GetText()), all);
}

TEST(StringSubstrings, LeftRightMidTokens)
{
    const TextCase cases[] = {
        {"left", "abc", [](const CRukString& s) { return s.Left(2); }, "ab"},
        {"left long", "abc", [](const CRukString& s) { return s.Left(10); }, "abc"},
        {"left neg", "abc", [](const CRukString& s) { return s.Left(-1); }, ""},
        {"right", "abc", [](const CRukString& s) { return s.Right(2); }, "bc"},
        {"right long", "abc", [](const CRukString& s) { return s.Right(10); }, "abc"},
        {"mid", "abcdef", [](const CRukString& s) { return s.Mid(1, 3); }, "bcd"},
        {"mid clipped", "abcdef", [](const CRukString& s) { return s.Mid(4, 10); }, "ef"},
        {"mid zero", "abcdef", [](const CRukString& s) { return s.Mid(2, 0); }, ""},
        {"mid from 5", "abc", [](const CRukString& s) { return s.Mid(5); }, ""},
        {"mid from 1", "abc", [](const CRukString& s) { return s.Mid(1); }, "bc"},
        {"mid neg", "abc", [](const CRukString& s) { return s.Mid(-2, 2); }, ""},
        {"token", "ab,cd,ef", [](const CRukString& s) { return s.GetToken(",", false); }, "ab"},
        {"token missing", "abc", [](const CRukString& s) { return s.GetToken(",", false); }, ""},
        {"token whole", "abc", [](const CRukString& s) { return s.GetToken(",", true); }, "abc"},
        {"token at 0", ",abc", [](const CRukString& s) { return s.GetToken(",", true); }, ""},
        {"token at 0 f", ",abc", [](const CRukString& s) { return s.GetToken(",", false); }, ""},
        {"token long sep", "a=>b", [](const CRukString& s) { return s.GetToken("=>", false); }, "a"},
        {"oneof", "ab;c,d", [](const CRukString& s) { return s.GetTokenOneOf(",;", false); }, "ab"},
        {"oneof none", "abc", [](const CRukString& s) { return s.GetTokenOneOf(",;", true); },
         "abc"},
        {"markers", "x<a>in</a><a>2</a>",
         [](const CRukString& s) { return s.GetToken("<a>", "</a>"); }, "in"},
        {"markers no end", "x<a>in", [](const CRukString& s) { return s.GetToken("<a>", "</a>"); },
         ""},
        {"markers end first", "</a>x<a>",
         [](const CRukString& s) { return s.GetToken("<a>", "</a>"); }, ""},
    };
    RunTextCases(cases, sizeof(cases) / sizeof(cases[0]));
}

TEST(StringSubstrings, DeleteInPlace)
{
    struct {
        const char* text;
        int pos, count;  // count < -100 means Delete(pos)
        const char* expected;
    } cases[] = {
        {"abcdef", 1, 2, "adef"},
        {"abcdef", 4, 10, "abcd"},
        {"abcdef", 0, 6, ""},
        {"abcdef", 6, 1, "abcdef"},
        {"abcdef", 2, 0, "abcdef"},
        {"abcdef", 2, -3, "abcdef"},
        {"abcdef", -1, 2, "abcdef"},
        {"abcdef", 3, -1000, "abc"},
        {"abcdef", 0, -1000, ""},
        {"abcdef", 10, -1000, "abcdef"},
        {"", 0, 1, ""},
    };
    for (const auto& c : cases) {
        CRukString s(c.text);
        if (c.count < -100)
            s.Delete(c.pos);
        else
            s.Delete(c.pos, c.count);
        EXPECT_STREQ(s.GetText(), c.expected) << c.text << " " << c.pos << " " << c.count;
    }
}

TEST(StringStorage, AllocReAllocFreeAttach)
{
    CRukString s("abcdef");
    char* p = s.Alloc(4);
    ASSERT_NE(p, nullptr);
    for (int i = 0; i <= 4; i++)
        EXPECT_EQ(p[i], 0);
    memcpy(p, "wxyz", 4);
    EXPECT_STREQ(s.GetText(), "wxyz");

    p = s.ReAlloc(8);  // growth is zero-filled, NUL at 8
    for (int i = 4; i <= 8; i++)
        EXPECT_EQ(p[i], 0) << i;
    EXPECT_STREQ(s.GetText(), "wxyz");
    p = s.ReAlloc(2);
    EXPECT_STREQ(s.GetText(), "wx");

    CRukString e;  // growing the empty string gives it a block of its own
    p = e.ReAlloc(3);
    p[0] = 'q';
    EXPECT_STREQ(e.GetText(), "q");
    EXPECT_STREQ(CRukString().GetText(), "");

    char* block = static_cast<char*>(malloc(4));
    memcpy(block, "own", 4);
    s.Attach(block);
    EXPECT_EQ(s.GetText(), block);
    s.Attach(nullptr);
    EXPECT_STREQ(s.GetText(), "");
}

// Writing into the block that Alloc or ReAlloc gives, as file and
// template readers do, leaves a string whose length is that of the text
// written, and later operations work from it.
TEST(StringStorage, TextWrittenIntoTheBlockIsMeasured)
{
    CRukString s("previous text");
    memcpy(s.Alloc(10), "abc", 3);
    EXPECT_EQ(s.GetLength(), 3);
    s += "d";
    EXPECT_STREQ(s.GetText(), "abcd");

    char* p = s.ReAlloc(8);
    memcpy(p + 4, "ef", 2);  // continues the text in the zero-filled growth
    s += "g";
    EXPECT_STREQ(s.GetText(), "abcdefg");
    EXPECT_EQ(s.GetLength(), 7);

    s.ReAlloc(2);
    EXPECT_EQ(s.GetLength(), 2);
    EXPECT_STREQ((s + "!").GetText(), "ab!");

    CRukString e;
    p = e.ReAlloc(5);
    memcpy(p, "vwxyz", 5);
    EXPECT_EQ(e.Find("z"), 4);
    EXPECT_STREQ(e.Right(2).GetText(), "yz");
}

// Bytes after a NUL never become text: Append keeps what precedes it, and
// the next append continues right there.
TEST(StringStorage, AppendStopsAtANul)
{
    CRukString s("x");
    s.Append("ab\0cd", 5);
    EXPECT_EQ(s.GetLength(), 3);
    s.Append("\0zz", 3);
    EXPECT_EQ(s.GetLength(), 3);
    s += "y";
    EXPECT_STREQ(s.GetText(), "xaby");
    EXPECT_EQ(s.GetLength(), 4);
}

// Appending n pieces reallocates the block O(log n) times, and an empty
// string holds no block however it became empty.
TEST(StringStorage, GrowthIsGeometricAndEmptyCostsNothing)
{
    CRukString s;
    int nGrowths = 0;
    int nCapacity = s.GetCapacity();
    for (int i = 0; i < 100000; i++) {
        s += "abc";
        if (s.GetCapacity() != nCapacity) {
            nGrowths++;
            nCapacity = s.GetCapacity();
        }
    }
    EXPECT_EQ(s.GetLength(), 300000);
    EXPECT_LE(nGrowths, 20);
    CRukString e("x");
    e.Insert("");
    for (int i = 0; i < 1000; i++)
        e.Insert("ab");
    EXPECT_EQ(e.GetLength(), 2001);
    EXPECT_GE(e.GetCapacity(), 2001);

    CRukString moved(std::move(s));
    CRukString deleted("abc");
    deleted.Delete(0, 3);
    CRukString trimmed("   ");
    trimmed.Trim();
    CRukString replaced("ab");
    replaced.Replace("ab", "", true);
    CRukString freed("abc");
    freed.Free();
    const CRukString* empties[] = {&s, &deleted, &trimmed, &replaced, &freed};
    for (const CRukString* p : empties) {
        EXPECT_EQ(p->GetCapacity(), 0);
        EXPECT_EQ(p->GetLength(), 0);
        EXPECT_STREQ(p->GetText(), "");
    }
    EXPECT_EQ(CRukString().GetText(), CRukString("").GetText());  // the shared empty block
}

// A long run of mixed operations against std::string: after each, the
// text, the stored length and the capacity must agree. A length that goes
// stale after any one operation shows here.
TEST(StringStorage, StoredLengthFollowsEveryOperation)
{
    using Op = std::function<void(CRukString&, std::string&, unsigned)>;
    const Op ops[] = {
        [](CRukString& s, std::string& m, unsigned r) {
            std::string piece(r % 7, static_cast<char>('a' + r % 3));
            s += piece.c_str();
            m += piece;
        },
        [](CRukString& s, std::string& m, unsigned) {
            if (m.size() < 4000) {
                s += s;
                m += m;
            }
        },
        [](CRukString& s, std::string& m, unsigned r) {
            s.Append("q\0q", static_cast<int>(r % 4));
            m += r % 4 ? "q" : "";
        },
        [](CRukString& s, std::string& m, unsigned r) {
            std::string piece(r % 5, 'i');
            s.Insert(piece.c_str());
            m = piece + m;
        },
        [](CRukString& s, std::string& m, unsigned r) {
            int nPos = m.empty() ? 0 : static_cast<int>(r % m.size());
            int nCount = static_cast<int>(r % 9);
            s.Delete(nPos, nCount);
            if (nPos < static_cast<int>(m.size()))
                m.erase(nPos, nCount);
        },
        [](CRukString& s, std::string& m, unsigned r) {
            int nPos = static_cast<int>(r % (m.size() + 1));
            s.Delete(nPos);
            m.resize(nPos <= 0 ? 0 : std::min<size_t>(m.size(), nPos));
        },
        [](CRukString& s, std::string& m, unsigned) {
            s.Replace("ab", "xyz", true);
            for (size_t at = m.find("ab"); at != std::string::npos; at = m.find("ab", at + 3))
                m.replace(at, 2, "xyz");
        },
        [](CRukString& s, std::string& m, unsigned r) {
            std::string text = "  " + std::string(r % 6, 'w') + " ";
            s = text.c_str();
            s.Trim();
            m = std::string(r % 6, 'w');
        },
        [](CRukString& s, std::string& m, unsigned r) {
            std::string text(r % 20, 'm');
            memcpy(s.Alloc(static_cast<int>(r % 20 + 3)), text.data(), text.size());
            m = text;
        },
        [](CRukString& s, std::string& m, unsigned r) {
            int n = static_cast<int>(r % 40);
            char* p = s.ReAlloc(n);
            m.resize(std::min<size_t>(m.size(), n));
            if (static_cast<int>(m.size()) < n) {
                p[m.size()] = 'r';
                m += 'r';
            }
        },
        [](CRukString& s, std::string& m, unsigned r) {
            s.Format("%s-%u", s.GetText(), r % 100);
            m += "-" + std::to_string(r % 100);
        },
        [](CRukString& s, std::string& m, unsigned r) {
            s = s.Mid(static_cast<int>(r % 3));
            m = r % 3 < m.size() ? m.substr(r % 3) : "";
        },
        [](CRukString& s, std::string& m, unsigned) {
            char* p = static_cast<char*>(malloc(m.size() + 5));  // room for 4 more
            memcpy(p, m.c_str(), m.size() + 1);
            s.Attach(p, static_cast<int>(m.size() + 4));
        },
        [](CRukString& s, std::string&, unsigned) {
            CRukString copy(s);
            s = std::move(copy);
        },
    };
    const size_t nOps = sizeof(ops) / sizeof(ops[0]);
    CRukString s;
    std::string model;
    unsigned seed = 12345;
    for (int step = 0; step < 5000; step++) {
        seed = seed * 1103515245u + 12345u;
        unsigned r = seed >> 8;
        size_t nOp = r % nOps;
        ops[nOp](s, model, r / nOps);
        ASSERT_EQ(std::string(s.GetText()), model) << "step " << step << " op " << nOp;
        ASSERT_EQ(s.GetLength(), static_cast<int>(model.size())) << "step " << step << " op " << nOp;
        ASSERT_GE(s.GetCapacity(), s.GetLength()) << "step " << step << " op " << nOp;
    }
}
