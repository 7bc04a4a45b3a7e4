// Tests of the containers: the storage rule shared by every array, element
// operations, splitting into CRukStrAry and CRukBufAry, sorting, and the
// name lookups of CRukTagMap and CRukStrMap.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rukary.h"
#include "rukbufary.h"
#include "rukstrary.h"
#include "rukstrmap.h"
#include "ruktagmap.h"

namespace {

std::vector<std::string> Items(const CRukStrAry& a)
{
    std::vector<std::string> v;
    for (int i = 0; i < a.GetSize(); i++)
        v.push_back(a[i].GetText());
    return v;
}

std::vector<std::string> Items(const CRukBufAry& a)
{
    std::vector<std::string> v;
    for (int i = 0; i < a.GetSize(); i++)
        v.push_back(a[i].IsEmpty() ? std::string() : std::string(a[i].GetData(), a[i].GetSize()));
    return v;
}

// An array of n elements "e0", "e1", ... added one at a time.
CRukStrAry Filled(int n, int nGrowBy = 10)
{
    CRukStrAry a(0, nGrowBy);
    for (int i = 0; i < n; i++)
        a.Add(("e" + std::to_string(i)).c_str());
    return a;
}

typedef std::vector<std::string> Strings;

}  // namespace

TEST(ArrayStorage, SetSizeRule)
{
    // Five elements added one at a time with grow-by 10: capacity 11.
    struct {
        int n;
        bool keep;
        Strings expected;
        int capacity;
    } cases[] = {
        {3, false, {"", "", ""}, 13},
        {3, true, {"e0", "e1", "e2"}, 13},
        {5, false, {"e0", "e1", "e2", "e3", "e4"}, 11},          // same size: no change
        {8, false, {"e0", "e1", "e2", "e3", "e4", "", "", ""}, 11},  // within capacity
        {8, true, {"e0", "e1", "e2", "e3", "e4", "", "", ""}, 11},
        {11, false, {"e0", "e1", "e2", "e3", "e4", "", "", "", "", "", ""}, 11},
        {12, false, Strings(12, ""), 22},                         // beyond it
        {12, true, {"e0", "e1", "e2", "e3", "e4", "", "", "", "", "", "", ""}, 22},
        {0, true, {}, 0},
        {-1, true, {}, 0},
    };
    for (const auto& c : cases) {
        CRukStrAry a = Filled(5);
        ASSERT_EQ(a.GetCapacity(), 11);
        a.SetSize(c.n, c.keep);
        EXPECT_EQ(Items(a), c.expected) << "SetSize(" << c.n << ", " << c.keep << ")";
        EXPECT_EQ(a.GetCapacity(), c.capacity) << "SetSize(" << c.n << ", " << c.keep << ")";
    }
}

// Slots given up by shrinking or RemoveAt read empty when the array grows
// back over them without reallocation.
TEST(ArrayStorage, ReleasedSlotsComeBackEmpty)
{
    CRukStrAry a = Filled(5);
    a.SetSize(2, true);
    a.SetSize(5, true);
    EXPECT_EQ(Items(a), (Strings{"e0", "e1", "", "", ""}));

    CRukStrAry b = Filled(3);
    b.RemoveAt(0);
    EXPECT_EQ(b.GetCapacity(), 11);
    b.SetSize(3, true);
    EXPECT_EQ(Items(b), (Strings{"e1", "e2", ""}));

    CRukAry<int> n;
    n.Add(7);
    n.SetSize(30, true);
    for (int i = 1; i < 30; i++)
        EXPECT_EQ(n[i], 0) << i;
}

TEST(ArrayStorage, ConstructorCopyAndAssign)
{
    CRukStrAry a(4, 3);
    EXPECT_EQ(Items(a), Strings(4, ""));
    EXPECT_EQ(a.GetCapacity(), 7);
    EXPECT_EQ(CRukStrAry(0, 10).GetCapacity(), 0);

    CRukStrAry src = Filled(3, 5);
    CRukStrAry copy(src);
    copy[0] = "changed";
    EXPECT_EQ(Items(src), (Strings{"e0", "e1", "e2"}));
    EXPECT_EQ(copy.GetGrowBy(), 5);

    CRukStrAry assigned = Filled(20);
    assigned = src;
    EXPECT_EQ(Items(assigned), Items(src));
    EXPECT_EQ(assigned.GetGrowBy(), 5);
    assigned = CRukStrAry();
    EXPECT_EQ(assigned.GetSize(), 0);

    CRukStrAry* pOther = new CRukStrAry(Filled(4, 7));
    CRukStrAry target = Filled(2);
    target.Assign(pOther);
    EXPECT_EQ(pOther, nullptr);
    EXPECT_EQ(Items(target), (Strings{"e0", "e1", "e2", "e3"}));
    EXPECT_EQ(target.GetGrowBy(), 7);
}

TEST(ArrayElements, GetAtAddSetAtInsertAtRemoveAt)
{
    CRukStrAry a = Filled(3);
    EXPECT_EQ(a.GetAt(-1), nullptr);
    EXPECT_EQ(a.GetAt(3), nullptr);
    ASSERT_NE(a.GetAt(2), nullptr);
    EXPECT_STREQ(a.GetAt(2)->GetText(), "e2");

    EXPECT_EQ(a.Add(static_cast<const char*>(nullptr)), 3);
    EXPECT_EQ(Items(a), (Strings{"e0", "e1", "e2", ""}));

    a.SetAt(1, "one");
    a.SetAt(6, "six");  // grows, keeping
    EXPECT_EQ(Items(a), (Strings{"e0", "one", "e2", "", "", "", "six"}));
    a.SetAt(-1, "neg");  // never writes outside the block
    EXPECT_EQ(a.GetSize(), 8);
    EXPECT_STREQ(a[7].GetText(), "neg");

    CRukStrAry b = Filled(3);
    b.InsertAt(0, "front");
    b.InsertAt(2, "mid");
    b.InsertAt(5, "end");
    b.InsertAt(8, "far");
    EXPECT_EQ(Items(b), (Strings{"front", "e0", "mid", "e1", "e2", "end", "", "", "far"}));

    b.RemoveAt(0);
    b.RemoveAt(99);
    b.RemoveAt(-1);
    b.RemoveAt(7);
    EXPECT_EQ(Items(b), (Strings{"e0", "mid", "e1", "e2", "end", "", ""}));
}

// Adding or storing an element of the array itself must copy it before the
// block is reallocated.
TEST(ArrayElements, OwnElementAsValue)
{
    CRukStrAry a = Filled(2, 1);  // grow-by 1: the next Add reallocates
    a.Add(a[0]);
    a.Add(a[1]);
    a.SetAt(10, a[2]);
    a.InsertAt(0, a[3]);
    EXPECT_EQ(Items(a), (Strings{"e1", "e0", "e1", "e0", "e1", "", "", "", "", "", "", "e0"}));
}

TEST(StrArySplit, SetTokenForms)
{
    struct {
        const char* text;
        const char* sep;
        bool oneOf;
        Strings expected;
    } cases[] = {
        {"a,b,", ",", false, {"a", "b", ""}},
        {"", ",", false, {""}},
        {",", ",", false, {"", ""}},
        {"abc", ",", false, {"abc"}},
        {"a::b:c::", "::", false, {"a", "b:c", ""}},
        {"a,b;c", ",;", true, {"a", "b", "c"}},
        {";a,", ",;", true, {"", "a", ""}},
        {"", ",;", true, {""}},
    };
    for (const auto& c : cases) {
        CRukStrAry a = Filled(4);  // emptied first
        int n = c.oneOf ? a.SetTokenOneOf(c.text, c.sep) : a.SetToken(c.text, c.sep);
        EXPECT_EQ(n, static_cast<int>(c.expected.size())) << c.text;
        EXPECT_EQ(Items(a), c.expected) << c.text;
    }

    CRukStrAry a = Filled(4);
    EXPECT_EQ(a.SetToken(nullptr, ","), 0);
    EXPECT_EQ(a.GetSize(), 0);
    EXPECT_EQ(Filled(2).SetTokenOneOf(nullptr, ","), 0);

    struct {
        const char* text;
        Strings expected;
    } markers[] = {
        {"x[1]y[2", {"1"}},
        {"[1][][2]", {"1", "", "2"}},
        {"[a[b]c]", {"a[b"}},
        {"]x[", {}},
    };
    for (const auto& c : markers) {
        CRukStrAry m = Filled(3);
        EXPECT_EQ(m.SetToken(c.text, "[", "]"), static_cast<int>(c.expected.size())) << c.text;
        EXPECT_EQ(Items(m), c.expected) << c.text;
    }
}

TEST(StrArySplit, MarkerScansToCodeRanges)
{
    struct {
        const char* text;
        const char* marker;
        bool toNotCode;
        int low, high;
        Strings expected;
    } cases[] = {
        {"k=ab.c/ d", "k=", true, 0x21, 0x7E, {"ab.c/"}},
        {"k=abc", "k=", true, 0x21, 0x7E, {"abc"}},        // the NUL stops (low > 0)
        {"k=abc", "k=", true, 0x00, 0x7E, {}},             // the NUL is in range: dropped
        {"k=a k=b", "k=", true, 0x21, 0x7E, {"a", "b"}},
        {"k= k=x", "k=", true, 0x21, 0x7E, {"", "x"}},     // empty token kept
        {"k=ab\xe7z", "k=", true, 0x21, 0x7E, {"ab"}},     // bytes compare unsigned
        {"k=", "k=", true, 0x21, 0x7E, {""}},
        {"id=12 x id=3", "id=", false, 0x00, 0x20, {"12", "3"}},  // NUL stops (low = 0)
        {"id=12", "id=", false, 0x01, 0x20, {}},
        {"m:ab\xe7" "cd\xe8", "m:", false, 0x80, 0xFF, {"ab", }},
        {"no marker", "k=", true, 0x21, 0x7E, {}},
    };
    for (const auto& c : cases) {
        CRukStrAry a = Filled(2);
        int n = c.toNotCode ? a.SetTokenToNotCode(c.text, c.marker, c.low, c.high)
                            : a.SetTokenToCode(c.text, c.marker, c.low, c.high);
        EXPECT_EQ(n, static_cast<int>(c.expected.size())) << testing::PrintToString(c.text);
        EXPECT_EQ(Items(a), c.expected) << testing::PrintToString(c.text);
    }
}

TEST(StrArySort, AscendingAndDescending)
{
    CRukStrAry a;
    for (const char* s : {"b", "a", "c", "\xe7", "B"})
        a.Add(s);
    a.Sort(1);
    EXPECT_EQ(Items(a), (Strings{"\xe7", "c", "b", "a", "B"}));
    a.Sort(0);
    EXPECT_EQ(Items(a), (Strings{"B", "a", "b", "c", "\xe7"}));
    CRukStrAry e;
    e.Sort(0);
    EXPECT_EQ(e.GetSize(), 0);
}

TEST(BufArySplit, SetTokenOnBytes)
{
    const std::string text("a\0b,c,", 6);
    CRukBufAry a;
    a.Add("old", 3);
    EXPECT_EQ(a.SetToken(text.data(), 6, ",", 1), 3);
    EXPECT_EQ(Items(a), (Strings{std::string("a\0b", 3), "c", ""}));
    EXPECT_EQ(a.SetToken(text.data(), 6, std::string("\0", 1).data(), 1), 2);
    EXPECT_EQ(Items(a), (Strings{"a", "b,c,"}));
    EXPECT_EQ(a.SetToken("", 0, ",", 1), 1);
    EXPECT_EQ(Items(a), (Strings{""}));
    EXPECT_EQ(a.SetToken(nullptr, 0, ",", 1), 0);

    const std::string parts("--X\0a----Z--", 12);
    EXPECT_EQ(a.SetToken(parts.data(), 12, "--", 2, "--", 2), 2);
    EXPECT_EQ(Items(a), (Strings{std::string("X\0a", 3), "Z"}));
    EXPECT_EQ(a.SetToken(parts.data(), 9, "--", 2, "--", 2), 1);  // no end for the second

    a.SetAt(3, "q", 1);
    EXPECT_EQ(Items(a), (Strings{std::string("X\0a", 3), "", "", "q"}));
}

TEST(TagMap, GetIndexIsFirstExactMatch)
{
    CRukTagMap<int> m;
    const char* tags[] = {"a", "B", "a", "b"};
    for (int i = 0; i < 4; i++) {
        CRukTagDat<int> d;
        d.m_strTag = tags[i];
        d.m_data = i;
        m.Add(std::move(d));
    }
    EXPECT_EQ(m.GetIndex("a"), 0);
    EXPECT_EQ(m.GetIndex("b"), 3);  // case-sensitive
    EXPECT_EQ(m.GetIndex("c"), -1);
    EXPECT_EQ(m.GetIndex(nullptr), -1);
    m.RemoveAt(0);
    EXPECT_EQ(m.GetIndex("a"), 1);
    EXPECT_EQ(m[1].m_data, 2);
    CRukTagMap<int> copy(m);
    m.RemoveAll();
    EXPECT_EQ(copy.GetIndex("b"), 2);
}

// Tags that differ only in length, in their last byte or in a middle byte,
// the empty tag, and a tag holding a NUL (which matches up to the NUL, as
// strcmp would have it).
TEST(TagMap, GetIndexTellsApartNearTags)
{
    CRukTagMap<int> m;
    const char* tags[] = {"msg01", "msg1", "msg011", "msg02", "mag01", "", "x"};
    for (const char* tag : tags) {
        CRukTagDat<int> d;
        d.m_strTag = tag;
        m.Add(std::move(d));
    }
    CRukTagDat<int> nul;
    nul.m_strTag.Append("key\0tail", 8);
    m.Add(std::move(nul));
    const struct {
        const char* tag;
        int index;
    } cases[] = {
        {"msg01", 0}, {"msg1", 1}, {"msg011", 2}, {"msg02", 3}, {"mag01", 4},
        {"", 5},      {"x", 6},    {"msg0", -1},  {"msg03", -1}, {"mbg01", -1},
        {"key", 7},   {"ke", -1},  {"keytail", -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(m.GetIndex(c.tag), c.index) << c.tag;
}

TEST(StrMap, AddSetAtAndLookups)
{
    CRukStrMap m;
    EXPECT_EQ(m.Add("name", "first"), 0);
    EXPECT_EQ(m.Add("list", "a,b,,c"), 1);
    EXPECT_EQ(m.Add("name", "second"), -1);
    EXPECT_STREQ(m.Value("name").GetText(), "first");
    EXPECT_EQ(m.SetAt("name", "third"), 0);
    EXPECT_STREQ(m.Value("name").GetText(), "third");
    EXPECT_EQ(m.SetAt("new", nullptr), 2);
    EXPECT_STREQ(m.Value(2).GetText(), "");
    EXPECT_EQ(m.SetAt("new", m.Value("list").GetText()), 2);
    EXPECT_STREQ(m.Value("new").GetText(), "a,b,,c");

    EXPECT_EQ(m.Data(-1), nullptr);
    EXPECT_EQ(m.Data(3), nullptr);
    EXPECT_EQ(m.Data("missing"), nullptr);
    EXPECT_EQ(m.Data("Name"), nullptr);
    ASSERT_NE(m.Data(1), nullptr);
    EXPECT_STREQ(m.Data(1)->m_strTag.GetText(), "list");
    EXPECT_STREQ(m.Value("missing").GetText(), "");
    EXPECT_STREQ(m.Value(99).GetText(), "");

    CRukStrAry out = Filled(3);
    EXPECT_EQ(m.Values("list", ",", out), 4);
    EXPECT_EQ(Items(out), (Strings{"a", "b", "", "c"}));
    EXPECT_EQ(m.Values(0, ",", out), 1);
    EXPECT_EQ(m.Values("missing", ",", out), 0);
    EXPECT_EQ(out.GetSize(), 0);
    EXPECT_EQ(m.Values(-5, ",", out), 0);

    // insertion order is kept
    CRukStrAry names;
    for (int i = 0; i < m.GetSize(); i++)
        names.Add(m[i].m_strTag);
    EXPECT_EQ(Items(names), (Strings{"name", "list", "new"}));
}

// The formatting forms keep the whole expansion (they once cut it at
// 4,095 bytes).
TEST(StrMap, FormatFormsKeepTheWholeText)
{
    CRukStrMap m;
    EXPECT_EQ(m.AddFormat("n", "%d/%s", 12, "x"), 0);
    EXPECT_STREQ(m.Value("n").GetText(), "12/x");
    EXPECT_EQ(m.AddFormat("n", "%d", 99), -1);
    EXPECT_STREQ(m.Value("n").GetText(), "12/x");
    std::string big(100000, 'v');
    EXPECT_EQ(m.SetAtFormat("n", "%s", big.c_str()), 0);
    EXPECT_EQ(std::string(m.Value("n").GetText()), big);
    EXPECT_EQ(m.AddFormat("long", "%s!", big.c_str()), 1);
    EXPECT_EQ(std::string(m.Value("long").GetText()), big + "!");
    EXPECT_EQ(m.SetAtFormat("m", "%05d", 7), 2);
    EXPECT_STREQ(m.Value("m").GetText(), "00007");
}
