// Tests of CRukBuffer: byte-exact construction and editing (NUL bytes
// included), search and replacement, tokens, substrings, Base64 and the
// storage operations.
#include <gtest/gtest.h>

#include <string>

#include "rukbuffer.h"

namespace {

std::string Bytes(const CRukBuffer& b)
{
    return b.IsEmpty() ? std::string() : std::string(b.GetData(), b.GetSize());
}

CRukBuffer Buf(const std::string& s)
{
    return CRukBuffer(s.data(), static_cast<unsigned>(s.size()));
}

// A non-empty buffer keeps a NUL after its data; an empty one has none.
void ExpectWellFormed(const CRukBuffer& b, const std::string& where)
{
    if (b.GetSize() == 0)
        EXPECT_EQ(b.GetData(), nullptr) << where;
    else
        EXPECT_EQ(b.GetData()[b.GetSize()], 0) << where;
}

}  // namespace

TEST(BufferBasics, Construction)
{
    const std::string nul("a\0b", 3);
    struct {
        const char* name;
        CRukBuffer buf;
        std::string expected;
    } cases[] = {
        {"default", CRukBuffer(), ""},
        {"zero bytes", CRukBuffer(3u), std::string(3, '\0')},
        {"zero size", CRukBuffer(0u), ""},
        {"data", CRukBuffer(nul.data(), 3), nul},
        {"data, no length", CRukBuffer("xyz", 0), ""},
        {"text", CRukBuffer("text"), "text"},
        {"null text", CRukBuffer(static_cast<const char*>(nullptr)), ""},
        {"null data", CRukBuffer(nullptr, 5), ""},
    };
    for (auto& c : cases) {
        EXPECT_EQ(Bytes(c.buf), c.expected) << c.name;
        ExpectWellFormed(c.buf, c.name);
    }
}

TEST(BufferBasics, CopyMoveAndAssign)
{
    CRukBuffer a = Buf(std::string("x\0y", 3));
    CRukBuffer b(a);
    b.Append("!", 1);
    EXPECT_EQ(Bytes(a), std::string("x\0y", 3));
    EXPECT_EQ(Bytes(b), std::string("x\0y!", 4));

    CRukBuffer big = Buf("a much longer text");
    big = a;  // shrinking assignment
    EXPECT_EQ(Bytes(big), Bytes(a));
    ExpectWellFormed(big, "shrunk");
    big = CRukBuffer();
    EXPECT_TRUE(big.IsEmpty());
    ExpectWellFormed(big, "emptied");

    CRukBuffer m(std::move(b));
    EXPECT_EQ(m.GetSize(), 4u);
    EXPECT_TRUE(b.IsEmpty());  // NOLINT(bugprone-use-after-move)
    a = a;
    EXPECT_EQ(Bytes(a), std::string("x\0y", 3));
}

TEST(BufferEdit, AppendInsertAndPlus)
{
    CRukBuffer b;
    b += CRukBuffer();
    EXPECT_TRUE(b.IsEmpty());
    b.Append("ab", 2);
    b.Append(nullptr, 5);
    b.Append(CRukBuffer(std::string("\0c", 2).data(), 2));
    EXPECT_EQ(Bytes(b), std::string("ab\0c", 4));
    b.Insert(">", 1);
    b.Insert(CRukBuffer());
    EXPECT_EQ(Bytes(b), std::string(">ab\0c", 5));
    b += b;  // itself
    EXPECT_EQ(Bytes(b), std::string(">ab\0c>ab\0c", 10));
    b.Append(b.GetData() + 1, 2);  // a part of itself
    EXPECT_EQ(Bytes(b), std::string(">ab\0c>ab\0cab", 12));
    EXPECT_EQ(Bytes(Buf("x") + Buf("y")), "xy");
    ExpectWellFormed(b, "appended");
}

TEST(BufferSearch, Find)
{
    const std::string hay("ab\0cab\0c", 8);
    struct {
        std::string pattern;
        unsigned start;
        int expected;
    } cases[] = {
        {std::string("\0c", 2), 0, 2},
        {std::string("\0c", 2), 3, 6},
        {"ab", 1, 4},
        {std::string("c\0", 2), 4, -1},
        {"c", 7, 7},
        {"c", 8, -1},                 // start at the size
        {"abcab", 0, -1},
        {std::string(20, 'a'), 0, -1},  // longer than the buffer
    };
    CRukBuffer b = Buf(hay);
    for (const auto& c : cases)
        EXPECT_EQ(b.Find(c.pattern.data(), static_cast<unsigned>(c.pattern.size()), c.start),
                  c.expected)
            << testing::PrintToString(c.pattern) << " from " << c.start;
    EXPECT_EQ(b.Find(nullptr, 1, 0), -1);
    EXPECT_EQ(CRukBuffer().Find("a", 1, 0), -1);
}

TEST(BufferReplace, FindAndSpanForms)
{
    struct {
        std::string text, find, with;
        bool all;
        std::string expected;
        int count;
    } cases[] = {
        {"aaa", "a", "b", false, "baa", 1},
        {"aaa", "a", "b", true, "bbb", 3},
        {"aaa", "a", "aa", true, "aaaaaa", 3},
        {std::string("x\0y\0", 4), std::string("\0", 1), "-", true, "x-y-", 2},
        {"abc", "abc", "", true, "", 1},
        {"abc", "z", "y", true, "abc", 0},
    };
    for (const auto& c : cases) {
        CRukBuffer b = Buf(c.text);
        int n = b.Replace(c.find.data(), static_cast<unsigned>(c.find.size()), c.with.data(),
                          static_cast<unsigned>(c.with.size()), c.all);
        EXPECT_EQ(n, c.count) << testing::PrintToString(c.text);
        EXPECT_EQ(Bytes(b), c.expected) << testing::PrintToString(c.text);
        ExpectWellFormed(b, c.text);
    }

    struct {
        std::string text;
        bool all;
        std::string expected;
        int count;
    } spans[] = {
        {"1[2]3[4", true, "1X3[4", 1},
        {"[a][b]", true, "XX", 2},
        {"[a][b]", false, "X[b]", 1},
        {std::string("[\0]z", 4), true, "Xz", 1},
        {"][", true, "][", 0},
    };
    for (const auto& c : spans) {
        CRukBuffer b = Buf(c.text);
        EXPECT_EQ(b.Replace("[", 1, "]", 1, "X", 1, c.all), c.count)
            << testing::PrintToString(c.text);
        EXPECT_EQ(Bytes(b), c.expected) << testing::PrintToString(c.text);
    }
}

TEST(BufferTokens, TokensAndSubstrings)
{
    CRukBuffer b = Buf(std::string("ab\0,cd,<x>in</x>", 16));
    EXPECT_EQ(Bytes(b.GetToken(",", 1, false)), std::string("ab\0", 3));
    EXPECT_EQ(Bytes(b.GetToken(";", 1, false)), "");
    EXPECT_EQ(Bytes(b.GetToken(";", 1, true)), Bytes(b));
    EXPECT_EQ(Bytes(Buf(",x").GetToken(",", 1, true)), "");
    EXPECT_EQ(Bytes(b.GetToken("<x>", 3, "</x>", 4)), "in");
    EXPECT_EQ(Bytes(b.GetToken("</x>", 4, "<x>", 3)), "");
    EXPECT_EQ(Bytes(b.GetToken("<y>", 3, "</x>", 4)), "");

    CRukBuffer s = Buf("abcdef");
    struct {
        CRukBuffer got;
        const char* expected;
    } subs[] = {
        {s.Left(2), "ab"},     {s.Left(10), "abcdef"}, {s.Left(-1), ""},
        {s.Right(2), "ef"},    {s.Right(10), "abcdef"}, {s.Mid(1, 3), "bcd"},
        {s.Mid(4, 10), "ef"},  {s.Mid(6, 1), ""},       {s.Mid(2), "cdef"},
        {s.Mid(9), ""},        {s.Mid(-1), ""},         {s.Mid(1, -1), ""},
    };
    for (const auto& c : subs) {
        EXPECT_EQ(Bytes(c.got), c.expected);
        ExpectWellFormed(c.got, c.expected);
    }
}

TEST(BufferTokens, Delete)
{
    struct {
        int pos, count;  // count < -100 means Delete(pos)
        const char* expected;
    } cases[] = {
        {1, 2, "adef"}, {4, 10, "abcd"}, {0, 6, ""},      {6, 1, "abcdef"}, {2, 0, "abcdef"},
        {-1, 2, "abcdef"}, {3, -1000, "abc"}, {0, -1000, ""}, {9, -1000, "abcdef"},
    };
    for (const auto& c : cases) {
        CRukBuffer b = Buf("abcdef");
        if (c.count < -100)
            b.Delete(c.pos);
        else
            b.Delete(c.pos, c.count);
        EXPECT_EQ(Bytes(b), c.expected) << c.pos << " " << c.count;
        ExpectWellFormed(b, c.expected);
    }
}

TEST(BufferBase64, EncodesWithLineBreaks)
{
    std::string b57, b58;
    for (int i = 0; i < 58; i++)
        (i < 57 ? b57 : b58) += static_cast<char>(i * 7);
    b58 = b57 + b58;

    struct {
        std::string in;
        int width;
        std::string expected;
    } cases[] = {
        {"", 76, ""},
        {"f", 0, "Zg=="},
        {"fo", 0, "Zm8="},
        {"foo", 0, "Zm9v"},
        {"foobar", 0, "Zm9vYmFy"},
        {"foobar", 4, "Zm9v\nYmFy"},
        {"foobarx", 5, "Zm9vYmFy\neA=="},  // lines round up to groups of four
        {"foobar", -1, "Zm9vYmFy"},
        {std::string("\0", 1), 0, "AA=="},
        {"\xff\xff\xff", 0, "////"},
        {"\xfb\xef", 0, "++8="},
    };
    for (const auto& c : cases) {
        CRukBuffer b = Buf(c.in);
        b.Base64Encode(c.width);
        EXPECT_EQ(Bytes(b), c.expected) << testing::PrintToString(c.in) << " w=" << c.width;
    }

    CRukBuffer one = Buf(b57);
    one.Base64Encode(76);
    EXPECT_EQ(one.GetSize(), 76u);
    EXPECT_EQ(Bytes(one).find('\n'), std::string::npos);

    CRukBuffer two = Buf(b58);
    two.Base64Encode(76);
    std::string s = Bytes(two);
    ASSERT_EQ(s.size(), 76u + 1 + 4);
    EXPECT_EQ(s[76], '\n');
    EXPECT_EQ(s.substr(79), "==");
}

TEST(BufferStorage, AllocReAllocFreeDetach)
{
    CRukBuffer b = Buf("abcdef");
    char* p = b.Alloc(4);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Bytes(b), std::string(4, '\0'));
    ExpectWellFormed(b, "alloc");
    memcpy(p, "wxyz", 4);

    b.ReAlloc(2);
    EXPECT_EQ(Bytes(b), "wx");
    b.ReAlloc(5);  // growth after a shrink is zero-filled again
    EXPECT_EQ(Bytes(b), std::string("wx\0\0\0", 5));
    ExpectWellFormed(b, "realloc");
    EXPECT_EQ(b.ReAlloc(0), nullptr);
    EXPECT_TRUE(b.IsEmpty());
    EXPECT_EQ(b.Alloc(0), nullptr);

    CRukBuffer e;
    p = e.ReAlloc(3);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Bytes(e), std::string(3, '\0'));

    CRukBuffer d = Buf("text");
    char* t = d.Detach();
    EXPECT_STREQ(t, "text");
    free(t);
    EXPECT_TRUE(d.IsEmpty());
    EXPECT_EQ(CRukBuffer().Detach(), nullptr);

    d = Buf("abc");
    d.Free();
    EXPECT_TRUE(d.IsEmpty());
    ExpectWellFormed(d, "freed");
}
