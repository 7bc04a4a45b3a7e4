#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "rukbbsdata.h"
#include "rukglobal.h"
#include "testutil.h"

namespace {

using testutil::Exists;
using testutil::FileIds;
using testutil::Ids;
using testutil::InChild;
using testutil::ReadFile;
using testutil::Rec;
using testutil::TempDir;
using testutil::WriteFile;

// A stored line of only the keys and title, the rest empty.
std::string Line(const char* id, const char* pid, const char* ppid)
{
    CRukBBSData r = Rec(id, pid, ppid);
    std::string s = std::string(id) + "\x1e" + pid + "\x1e" + ppid + "\x1e\x1e" + "name" +
                    "\x1e\x1e\x1e" + r.title.GetText() + "\x1e" + r.mess.GetText() +
                    std::string(12, '\x1e') + "\n";
    return s;
}

// Stores rec as a new message (under the next free key when its id is
// taken).
int Post(const TempDir& dir, CRukBBSData rec, CRukBufAry* pFiles = nullptr, int nMax = 1000,
         int nDeleteMode = 0)
{
    CRukBBSFile file;
    file.m_nMaxData = nMax;
    file.m_nDeleteMode = nDeleteMode;
    CRukBufAry none;
    SRukWriteRules rules;
    rules.bNewKey = true;
    return file.WriteInputData(dir.c_str(), rec, pFiles ? *pFiles : none, true, rules);
}

// Stores rec as an edit of the stored message of its id.
int Edit(const TempDir& dir, CRukBBSData rec, CRukBufAry* pFiles = nullptr)
{
    CRukBBSFile file;
    CRukBufAry none;
    return file.WriteInputData(dir.c_str(), rec, pFiles ? *pFiles : none, true);
}

}  // namespace

// ---------------------------------------------------------------------------
// File format

TEST(BBSDataFormat, RecordIsWrittenByteForByte)
{
    TempDir dir;
    CRukBBSData r;
    const char* fields[] = {"100", "90", "80", "2024/01/02 03:04:05", "\x96\xbc\x91\x4f" /* 名前 */,
                            "a@b", "http://h/", "T", "", "pw", "1", "0"};
    CRukString* members[] = {&r.id,   &r.pid,  &r.ppid,  &r.date,   &r.name,    &r.mail,
                             &r.home, &r.title, &r.mess, &r.passwd, &r.resmail, &r.preform};
    for (int i = 0; i < 12; i++)
        *members[i] = fields[i];
    r.mess = "line1\nline2";
    r.icon = "3";
    r.remote = "2001:db8::1";
    r.attach.Add("a.png", "80");
    r.attach.Add("b.txt", "80");
    CRukBBSFile file;
    file.m_aryData.Add(r);
    ASSERT_EQ(file.WritePageData(dir.c_str(), true), 1);

    // The address is field 12, the seven reserved fields after it empty.
    std::string expect = std::string("100\x1e" "90\x1e" "80\x1e" "2024/01/02 03:04:05\x1e") +
                         "\x96\xbc\x91\x4f\x1e" "a@b\x1e" "http://h/\x1eT\x1e" "line1\x1dline2\x1e" +
                         "pw\x1e" "1\x1e" "0\x1e" "2001:db8::1" + std::string(8, '\x1e') + "3" +
                         "\x1e" "a.png\x1e" "80\x1e" "b.txt\x1e" "80\n";
    EXPECT_EQ(ReadFile(dir / "bbs-message.dat"), expect);

    CRukBBSFile back;
    ASSERT_EQ(back.ReadPageData(dir.c_str(), true), 1);
    const CRukBBSData& b = back.m_aryData[0];
    EXPECT_STREQ(b.mess.GetText(), "line1\nline2");
    EXPECT_STREQ(b.icon.GetText(), "3");
    EXPECT_STREQ(b.preform.GetText(), "0");
    EXPECT_STREQ(b.remote.GetText(), "2001:db8::1");
    ASSERT_EQ(b.attach.GetSize(), 2);
    EXPECT_STREQ(b.attach[0].m_strTag.GetText(), "a.png");
    EXPECT_STREQ(b.attach[1].m_strTag.GetText(), "b.txt");
    EXPECT_STREQ(b.attach[1].m_data.GetText(), "80");

    struct stat st;
    ASSERT_EQ(stat((dir / "bbs-message.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, static_cast<unsigned>(go.m_nFileMode) & 0777);
}

TEST(BBSDataFormat, EmptyRecordHasTwentySeparators)
{
    TempDir dir;
    CRukBBSFile file;
    file.m_aryData.Add(CRukBBSData());
    ASSERT_EQ(file.WritePageData(dir.c_str(), false), 1);
    EXPECT_EQ(ReadFile(dir / "bbs-message.dat"), std::string(20, '\x1e') + "\n");
}

// Lines as a hand-edited or damaged file may hold them.
TEST(BBSDataFormat, ReadsOddLines)
{
    struct Case {
        const char* name;
        std::string text;
        const char* ids;
    } cases[] = {
        {"id and one separator", "7\x1e\n", "7"},
        {"no separator skipped", "junk\n8\x1e\n", "8"},
        {"empty line skipped", "\n\n9\x1e\n", "9"},
        {"last line without line feed keeps its last byte", "1\x1e\n23\x1e" "45", "1,23"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        EXPECT_TRUE(WriteFile(dir / "bbs-message.dat", c.text));
        CRukBBSFile file;
        EXPECT_GE(file.ReadPageData(dir.c_str(), false), 0) << c.name;
        EXPECT_EQ(Ids(file.m_aryData), c.ids) << c.name;
    }
    TempDir dir;
    EXPECT_TRUE(WriteFile(dir / "bbs-message.dat", "1\x1e\n23\x1e" "45"));
    CRukBBSFile file;
    ASSERT_EQ(file.ReadPageData(dir.c_str(), false), 2);
    EXPECT_STREQ(file.m_aryData[1].pid.GetText(), "45");
}

// The reader takes the file in blocks: lines across block ends, a line
// longer than a block and a last line without line feed all read whole.
TEST(BBSDataFormat, ReadsLinesAcrossBlocks)
{
    TempDir dir;
    std::string text;
    std::vector<std::string> bodies;
    for (int i = 0; i < 6000; i++) {
        std::string body(static_cast<size_t>(100 + (i * 37) % 500), static_cast<char>('a' + i % 26));
        if (i == 2500)
            body = std::string(3u << 20, 'L');  // three blocks in one line
        bodies.push_back(body);
        text += std::to_string(i + 1) + std::string(8, '\x1e') + body + std::string(12, '\x1e');
        if (i + 1 < 6000)
            text += "\n";
    }
    EXPECT_TRUE(WriteFile(dir / "bbs-message.dat", text));

    CRukBBSFile file;
    ASSERT_EQ(file.ReadPageData(dir.c_str(), false), 6000);
    bool bSame = true;
    for (int i = 0; i < 6000; i++)
        bSame = bSame && file.m_aryData[i].id == std::to_string(i + 1).c_str() &&
                file.m_aryData[i].mess == bodies[i].c_str();
    EXPECT_TRUE(bSame);

    CRukStrAry words;
    words.Add("LLLL");
    CRukBBSDataAry found;
    CRukBBSFile search;
    EXPECT_EQ(search.FindRead(dir.c_str(), found, words, false), 1);
    ASSERT_EQ(found.GetSize(), 1);
    EXPECT_STREQ(found[0].id.GetText(), "2501");
}

TEST(BBSDataFormat, ReadFileAppendsAndCountsOnlyItsOwn)
{
    TempDir dir;
    EXPECT_TRUE(WriteFile(dir / "bbs-message.dat", Line("1", "", "") + Line("2", "1", "1")));
    CRukBBSFile file;
    CRukBBSDataAry list;
    list.Add(Rec("x"));
    EXPECT_EQ(file.ReadFile(list, (dir / "bbs-message.dat").c_str(), true), 2);
    EXPECT_EQ(Ids(list), "x,1,2");
    EXPECT_EQ(file.ReadFile(list, (dir / "missing.dat").c_str(), false), -1);
    CRukBBSFile none;
    EXPECT_EQ(none.ReadPageData((dir / "nothing").c_str(), false), -1);
}

// Sorting applies a permutation in place: every record arrives whole, in
// id order either way, with equal ids kept in their earlier order.
TEST(BBSDataFormat, SortMovesWholeRecords)
{
    for (int nDescending : {0, 1}) {
        CRukBBSFile file;
        std::vector<std::pair<std::string, std::string>> expect;
        unsigned seed = 7;
        for (int i = 0; i < 300; i++) {
            seed = seed * 1103515245u + 12345u;
            std::string id = std::to_string(100 + (seed >> 16) % 150);
            if (i % 4 == 0)  // long ids alike in their first 16 bytes
                id = "1234567890123456" + id;
            else if (i % 4 == 1)
                id = "123456789012345" + id.substr(0, 1);
            std::string title = "t" + std::to_string(i);
            file.m_aryData.Add(Rec(id.c_str(), "", "", title.c_str()));
            expect.emplace_back(id, title);
        }
        std::stable_sort(expect.begin(), expect.end(), [&](const auto& a, const auto& b) {
            return nDescending ? a.first > b.first : a.first < b.first;
        });
        file.Sort(file.m_aryData, nDescending);
        bool bSame = file.m_aryData.GetSize() == 300;
        for (int i = 0; bSame && i < 300; i++)
            bSame = file.m_aryData[i].id == expect[i].first.c_str() &&
                    file.m_aryData[i].title == expect[i].second.c_str() &&
                    file.m_aryData[i].mess == ("body " + expect[i].first).c_str();
        EXPECT_TRUE(bSame) << nDescending;
    }
}

// Bytes the line cannot hold never break a record.
TEST(BBSDataFormat, WriterMakesEveryRecordRepresentable)
{
    TempDir dir;
    CRukBBSData r = Rec("1");
    r.title = "a\x1e" "b\nc\rd\x1d" "e";
    r.name = "n\r\n";
    r.mess = "l1\r\nl2\x1e\x1dl3\rl4";
    r.icon = "i\n";
    r.remote = "1.2\x1e.3\x1d.4\n";
    r.attach.Add("f\x1e.png", "1\n");
    CRukBBSFile file;
    file.m_aryData.Add(r);
    file.m_aryData.Add(Rec("2"));
    ASSERT_EQ(file.WritePageData(dir.c_str(), false), 2);

    std::string text = ReadFile(dir / "bbs-message.dat");
    std::string first = text.substr(0, text.find('\n'));
    EXPECT_EQ(std::count(first.begin(), first.end(), '\x1e'), 22);
    EXPECT_EQ(first.find('\r'), std::string::npos);

    CRukBBSFile back;
    ASSERT_EQ(back.ReadPageData(dir.c_str(), false), 2);
    const CRukBBSData& b = back.m_aryData[0];
    EXPECT_STREQ(b.title.GetText(), "ab c de");
    EXPECT_STREQ(b.name.GetText(), "n  ");
    EXPECT_STREQ(b.mess.GetText(), "l1\nl2l3l4");
    EXPECT_STREQ(b.icon.GetText(), "i ");
    EXPECT_STREQ(b.remote.GetText(), "1.2.3.4 ");
    ASSERT_EQ(b.attach.GetSize(), 1);
    EXPECT_STREQ(b.attach[0].m_strTag.GetText(), "f.png");
    EXPECT_STREQ(b.attach[0].m_data.GetText(), "1 ");
    EXPECT_STREQ(back.m_aryData[1].id.GetText(), "2");
}

TEST(BBSDataFormat, PathsAndSort)
{
    CRukBBSFile file;
    EXPECT_STREQ(file.CreateFullPath("data/tech/").GetText(), "data/tech/bbs-message.dat");
    EXPECT_STREQ(file.CreateFullPath("data//tech").GetText(), "data/tech/bbs-message.dat");
    EXPECT_STREQ(file.CreateFullPath("").GetText(), "/bbs-message.dat");
    EXPECT_STREQ(file.CreateAttachPath("data/tech/", "123").GetText(), "data/tech/123");

    CRukBBSDataAry list;
    list.Add(Rec("100"));
    list.Add(Rec("99"));
    list.Add(Rec("1000"));
    file.Sort(list, 1);
    EXPECT_EQ(Ids(list), "99,1000,100");
    file.Sort(list, 0);
    EXPECT_EQ(Ids(list), "100,1000,99");
}

// ---------------------------------------------------------------------------
// Thread tree queries

class BBSDataTree : public ::testing::Test {
protected:
    // Threads: 1 (replies 2, 3; 4 answers 2), 5 (alone), 6 (reply 7).
    void SetUp() override
    {
        const char* rows[][3] = {{"4", "2", "1"}, {"3", "1", "1"}, {"2", "1", "1"},
                                 {"1", "", ""},   {"5", "", ""},   {"7", "6", "6"},
                                 {"6", "", ""}};
        for (auto& row : rows)
            m_file.m_aryData.Add(Rec(row[0], row[1], row[2]));
    }
    CRukBBSFile m_file;
};

TEST_F(BBSDataTree, Lookups)
{
    EXPECT_EQ(m_file.GetPPNum(), 3);
    EXPECT_STREQ(m_file.GetDataPP(m_file.GetData("4"))->id.GetText(), "1");
    EXPECT_EQ(m_file.GetDataPP(m_file.GetData("1")), m_file.GetData("1"));
    EXPECT_STREQ(m_file.GetDataParent(m_file.GetData("4"))->id.GetText(), "2");
    EXPECT_EQ(m_file.GetDataParent(m_file.GetData("1")), nullptr);
    EXPECT_EQ(m_file.GetDataParent(nullptr), nullptr);
    EXPECT_EQ(m_file.GetData("99"), nullptr);
    EXPECT_EQ(m_file.CheckExistChild("2"), 1);
    EXPECT_EQ(m_file.CheckExistChild("4"), 0);

    EXPECT_TRUE(m_file.DeleteDataOnly("1"));
    CRukBBSData orphan = Rec("8", "2", "1");
    EXPECT_EQ(m_file.GetDataPP(&orphan), nullptr);
}

TEST_F(BBSDataTree, ListsAndOrders)
{
    CRukBBSDataAry out;
    EXPECT_EQ(m_file.GetDataParents(out, 2, 0), 2);
    EXPECT_EQ(Ids(out), "1,5");
    CRukBBSDataAry rest;
    EXPECT_EQ(m_file.GetDataParents(rest, 10, 2), 1);
    EXPECT_EQ(Ids(rest), "6");

    CRukBBSDataAry seq;
    EXPECT_EQ(m_file.GetDataSequential(seq, 3, 5), 2);
    EXPECT_EQ(Ids(seq), "7,6");

    CRukBBSDataAry kids;
    EXPECT_EQ(m_file.GetDataChildren(kids, "1", -1), 3);
    EXPECT_EQ(Ids(kids), "4,3,2");
    CRukBBSDataAry sorted;
    EXPECT_EQ(m_file.GetDataChildren(sorted, "1", 0), 3);
    EXPECT_EQ(Ids(sorted), "2,3,4");

    CRukBBSDataAry tree;
    EXPECT_EQ(m_file.GetDataRecurs(m_file.m_aryData, tree, "1"), 3);
    EXPECT_EQ(Ids(tree), "3,2,4");
    CRukBBSDataAry none;
    EXPECT_EQ(m_file.GetDataRecurs(m_file.m_aryData, none, "5"), 0);
}

// The thread index behind GetDataChildren follows every change the store
// makes to the list, and a reload of another file of the same size.
TEST_F(BBSDataTree, ChildrenFollowChangesToTheList)
{
    CRukBBSDataAry kids;
    EXPECT_EQ(m_file.GetDataChildren(kids, "1", -1), 3);
    EXPECT_EQ(Ids(kids), "4,3,2");

    EXPECT_TRUE(m_file.DeleteDataOnly("3"));
    CRukBBSDataAry afterDelete;
    EXPECT_EQ(m_file.GetDataChildren(afterDelete, "1", -1), 2);
    EXPECT_EQ(Ids(afterDelete), "4,2");

    m_file.Sort(m_file.m_aryData, 0);
    CRukBBSDataAry afterSort;
    EXPECT_EQ(m_file.GetDataChildren(afterSort, "1", -1), 2);
    EXPECT_EQ(Ids(afterSort), "2,4");

    m_file.GetData("2")->ppid = "6";  // edited in place by the caller
    m_file.ForgetIndex();
    CRukBBSDataAry moved;
    EXPECT_EQ(m_file.GetDataChildren(moved, "6", -1), 2);
    EXPECT_EQ(Ids(moved), "2,7");

    TempDir dir;
    std::string text;
    for (int i = 0; i < m_file.m_aryData.GetSize(); i++)
        text += Line(std::to_string(10 + i).c_str(), "9", "9");
    EXPECT_TRUE(WriteFile(dir / "bbs-message.dat", text));
    ASSERT_EQ(m_file.ReadPageData(dir.c_str(), false), 6);
    CRukBBSDataAry reloaded;
    EXPECT_EQ(m_file.GetDataChildren(reloaded, "9", -1), 6);
    CRukBBSDataAry gone;
    EXPECT_EQ(m_file.GetDataChildren(gone, "1", -1), 0);
}

// Every field of a list of records, tree columns included, as one text.
std::string Dump(const CRukBBSDataAry& list)
{
    std::string s;
    for (const CRukBBSData& r : list) {
        for (const CRukString* f : {&r.id, &r.pid, &r.ppid, &r.date, &r.name, &r.mail, &r.home,
                                    &r.title, &r.mess, &r.passwd, &r.resmail, &r.preform, &r.icon,
                                    &r.remote})
            s += std::string(f->GetText()) + "|";
        for (const CRukStrPair& a : r.attach)
            s += std::string(a.m_strTag.GetText()) + "=" + a.m_data.GetText() + "|";
        s += std::string(r.depth.GetData() ? r.depth.GetData() : "", r.depth.GetSize()) + "\n";
    }
    return s;
}

// A result of a query as text, so that it is compared with the records.
std::string Count(int n)
{
    return "=" + std::to_string(n) + "\n";
}

// A board loaded by its keys answers every query with the same whole
// records (and counts) as one loaded whole, and writes it back byte for
// byte.
TEST(BBSDataKeys, QueriesSeeWholeRecords)
{
    TempDir dir;
    {
        CRukBBSFile w;
        const char* rows[][3] = {{"4", "2", "1"}, {"3", "1", "1"}, {"2", "1", "1"},
                                 {"1", "", ""},   {"5", "", ""},   {"7", "6", "6"},
                                 {"6", "", ""}};
        for (auto& row : rows) {
            CRukBBSData r = Rec(row[0], row[1], row[2]);
            r.mess = (std::string("line one ") + row[0] + "\nline two").c_str();
            r.mail = "m@example.jp";
            r.icon = "3";
            r.remote = (std::string("192.0.2.") + row[0]).c_str();
            if (std::string(row[0]) == "3")
                r.attach.Add("a.png", "1");
            w.m_aryData.Add(r);
        }
        ASSERT_EQ(w.WritePageData(dir.c_str(), false), 7);
    }
    const std::string before = ReadFile(dir / "bbs-message.dat");
    using Query = std::function<std::string(CRukBBSFile&)>;
    const struct {
        const char* name;
        Query run;
    } cases[] = {
        {"parents", [](CRukBBSFile& f) { CRukBBSDataAry o; int n = f.GetDataParents(o, 2, 1); return Dump(o) + Count(n); }},
        {"sequential", [](CRukBBSFile& f) { CRukBBSDataAry o; int n = f.GetDataSequential(o, 3, 2); return Dump(o) + Count(n); }},
        {"children", [](CRukBBSFile& f) { CRukBBSDataAry o; int n = f.GetDataChildren(o, "1", 1); return Dump(o) + Count(n); }},
        {"tree", [](CRukBBSFile& f) {
             CRukBBSDataAry kids, o;
             int n = f.GetDataChildren(kids, "1", -1);
             int p = 0, d = 0;
             n += f.GetDataRecursWithDepth(kids, o, "1", p, d);
             return Dump(o) + Count(n);
         }},
        {"walk of the loaded list", [](CRukBBSFile& f) { CRukBBSDataAry o; int n = f.GetDataRecurs(f.m_aryData, o, "1"); return Dump(o) + Count(n); }},
        {"one record", [](CRukBBSFile& f) {
             CRukBBSDataAry o;
             o.Add(*f.GetDataPP(f.GetData("4")));
             return Dump(o);
         }},
        {"find", [](CRukBBSFile& f) {
             CRukBBSDataAry o;
             CRukStrAry w;
             w.Add("line one 7");
             int n = f.FindData(o, w);
             return Dump(o) + Count(n);
         }},
        {"delete and write back", [&](CRukBBSFile& f) {
             bool bDeleted = f.DeleteDataOnly("2");
             int n = f.WritePageData(dir.c_str(), false);
             std::string after = Count(bDeleted) + Count(n) + ReadFile(dir / "bbs-message.dat");
             EXPECT_TRUE(WriteFile(dir / "bbs-message.dat", before));
             return after;
         }},
    };
    for (const auto& c : cases) {
        CRukBBSFile whole;
        ASSERT_EQ(whole.ReadPageData(dir.c_str(), true), 7);
        std::string expect = c.run(whole);
        CRukBBSFile keys;
        ASSERT_EQ(keys.ReadPageKeys(dir.c_str(), true), 7);
        EXPECT_EQ(keys.m_aryData[1].title.GetLength(), 0) << "not read yet";
        EXPECT_EQ(c.run(keys), expect) << c.name;
        EXPECT_FALSE(expect.empty()) << c.name;
    }
}

// Records written back from their keys come out byte for byte as the
// parsed records would: a stored line is copied only when it is already in
// that form.
TEST(BBSDataKeys, OddLinesAreWrittenAsParsed)
{
    const std::string normal = Line("9", "", "");
    const struct {
        const char* name;
        std::string line;
    } cases[] = {
        {"as written", Line("5", "", "")},
        {"few fields", "5\x1e\x1e\x1etitle\n"},
        {"address field used", "5" + std::string(12, '\x1e') + "x" + std::string(8, '\x1e') + "\n"},
        {"reserved field used", "5" + std::string(13, '\x1e') + "x" + std::string(7, '\x1e') + "\n"},
        {"last reserved field used", "5" + std::string(19, '\x1e') + "x\x1e\n"},
        {"odd attachment field", "5" + std::string(20, '\x1e') + "1\x1e" "a.png\n"},
        {"attachment pair", "5" + std::string(20, '\x1e') + "1\x1e" "a.png\x1e" "5\n"},
        {"carriage return", "5\x1e\x1e\x1e\x1eme\r" + std::string(16, '\x1e') + "\n"},
        {"0x1D outside the body", "5\x1e\x1e\x1e\x1e" "a\x1d" "b" + std::string(16, '\x1e') + "\n"},
        {"0x1D in the body", "5" + std::string(8, '\x1e') + "a\x1d" "b" + std::string(12, '\x1e') + "\n"},
        {"NUL in a field", std::string("5\x1e\x1e\x1e\x1e" "a\0b", 8) + std::string(16, '\x1e') + "\n"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string text = normal + c.line + Line("7", "", "");
        EXPECT_TRUE(WriteFile(dir / "bbs-message.dat", text));
        CRukBBSFile whole;
        ASSERT_GE(whole.ReadPageData(dir.c_str(), false), 3) << c.name;
        EXPECT_TRUE(whole.DeleteDataOnly("7")) << c.name;
        EXPECT_GE(whole.WritePageData(dir.c_str(), false), 2) << c.name;
        std::string expect = ReadFile(dir / "bbs-message.dat");

        EXPECT_TRUE(WriteFile(dir / "bbs-message.dat", text));
        CRukBBSFile keys;
        ASSERT_GE(keys.ReadPageKeys(dir.c_str(), false), 3) << c.name;
        EXPECT_TRUE(keys.DeleteDataOnly("7")) << c.name;
        EXPECT_GE(keys.WritePageData(dir.c_str(), false), 2) << c.name;
        EXPECT_EQ(ReadFile(dir / "bbs-message.dat"), expect) << c.name;

        EXPECT_TRUE(WriteFile(dir / "bbs-message.dat", text));
        CRukBBSFile store;  // the deletion reads the board by its keys
        EXPECT_EQ(store.WriteDeleteData(dir.c_str(), "7", true), 2) << c.name;
        EXPECT_EQ(ReadFile(dir / "bbs-message.dat"), expect) << c.name;

        // A new thread goes first; every other record follows as parsed.
        EXPECT_TRUE(WriteFile(dir / "bbs-message.dat", text));
        CRukBBSFile parsed;
        ASSERT_GE(parsed.ReadPageData(dir.c_str(), false), 3) << c.name;
        CRukBBSFile expected;
        expected.m_aryData.Add(Rec("8"));
        for (const CRukBBSData& r : parsed.m_aryData)
            expected.m_aryData.Add(r);
        TempDir other;
        ASSERT_GE(expected.WritePageData(other.c_str(), false), 4) << c.name;
        EXPECT_EQ(Post(dir, Rec("8")), 3) << c.name;
        EXPECT_EQ(ReadFile(dir / "bbs-message.dat"), ReadFile(other / "bbs-message.dat")) << c.name;
    }
}

// A record whose rest can no longer be read (the file was cut short under
// the open descriptor) is never handed out as an empty message: every
// query says it failed, until the next load.
TEST(BBSDataKeys, UnreadableRestIsAFailure)
{
    using Query = std::function<int(CRukBBSFile&)>;
    const struct {
        const char* name;
        Query run;
    } cases[] = {
        {"parents", [](CRukBBSFile& f) { CRukBBSDataAry o; return f.GetDataParents(o, 10, 0); }},
        {"sequential", [](CRukBBSFile& f) { CRukBBSDataAry o; return f.GetDataSequential(o, 10, 0); }},
        {"children", [](CRukBBSFile& f) { CRukBBSDataAry o; return f.GetDataChildren(o, "1", 1); }},
        {"tree", [](CRukBBSFile& f) {
             CRukBBSDataAry o;
             int p = 0, d = 0;
             return f.GetDataRecursWithDepth(f.m_aryData, o, "1", p, d);
         }},
        {"find", [](CRukBBSFile& f) { CRukBBSDataAry o; CRukStrAry w; return f.FindData(o, w); }},
        {"one record", [](CRukBBSFile& f) { return f.GetData("1") ? 1 : -1; }},
    };
    for (const auto& c : cases) {
        TempDir dir;
        EXPECT_TRUE(WriteFile(dir / "bbs-message.dat",
                              Line("2", "1", "1") + Line("1", "", "") + Line("5", "", "")));
        CRukBBSFile keys;
        ASSERT_EQ(keys.ReadPageKeys(dir.c_str(), false), 3) << c.name;
        EXPECT_FALSE(keys.HasReadFailed());
        ASSERT_EQ(truncate((dir / "bbs-message.dat").c_str(), 0), 0);
        EXPECT_EQ(c.run(keys), -1) << c.name;
        EXPECT_TRUE(keys.HasReadFailed()) << c.name;
        EXPECT_TRUE(WriteFile(dir / "bbs-message.dat", Line("1", "", "")));
        ASSERT_EQ(keys.ReadPageKeys(dir.c_str(), false), 1) << c.name;
        EXPECT_FALSE(keys.HasReadFailed()) << c.name;
        EXPECT_GE(c.run(keys), 0) << c.name;
    }
}

// The poster's address (field 12) survives every copy the store and the
// old-log moves make: lines copied from a board loaded by its keys, posts
// and deletions of other messages, and edits of the message itself, which
// keep the stored address whatever the edit carries.
TEST(BBSDataKeys, AddressSurvivesEveryCopy)
{
    TempDir dir;
    CRukBBSData root = Rec("1");
    root.remote = "198.51.100.7";
    ASSERT_EQ(Post(dir, root), 0);
    CRukBBSData other = Rec("2");
    other.remote = "203.0.113.9";
    ASSERT_EQ(Post(dir, other), 1);
    ASSERT_NE(ReadFile(dir / "bbs-message.dat").find("\x1e" "198.51.100.7\x1e"), std::string::npos);

    auto remoteOf = [&](const char* id) {
        CRukBBSFile f;
        if (f.ReadPageData(dir.c_str(), false) < 0 || !f.GetData(id))
            return std::string("<none>");
        return std::string(f.GetData(id)->remote.GetText());
    };
    ASSERT_EQ(Post(dir, Rec("3", "1", "1")), 1);
    CRukBBSFile del;
    EXPECT_EQ(del.WriteDeleteData(dir.c_str(), "3", true), 2);
    CRukBBSData edit = Rec("1", "", "", "edited");
    edit.remote = "192.0.2.1";  // the editor's address
    EXPECT_EQ(Edit(dir, edit), 1);
    EXPECT_EQ(remoteOf("1"), "198.51.100.7");
    EXPECT_EQ(remoteOf("2"), "203.0.113.9");

    // As the old-log moves copy records: loaded by keys, written elsewhere.
    CRukBBSFile keys;
    ASSERT_EQ(keys.ReadPageKeys(dir.c_str(), false), 2);
    CRukBBSDataAry moved;
    ASSERT_STREQ(keys.m_aryData[0].id.GetText(), "1");
    moved.Add(keys.m_aryData[0]);
    TempDir old;
    ASSERT_EQ(keys.WriteFile(moved, (old / "bbs-message.dat").c_str(), false, false), 1);
    std::string copied = ReadFile(old / "bbs-message.dat");
    EXPECT_NE(copied.find("\x1e" "198.51.100.7" + std::string(8, '\x1e')), std::string::npos);
}

// The rest of a record comes from the file the keys were read from, even
// after a post has put a new file in its place.
TEST(BBSDataKeys, RestComesFromTheSameFile)
{
    TempDir dir;
    EXPECT_TRUE(WriteFile(dir / "bbs-message.dat", Line("2", "1", "1") + Line("1", "", "")));
    CRukBBSFile keys;
    ASSERT_EQ(keys.ReadPageKeys(dir.c_str(), true), 2);
    ASSERT_EQ(Post(dir, Rec("3")), 2);  // renames a new file over the old one
    CRukBBSDataAry roots;
    EXPECT_EQ(keys.GetDataParents(roots, 10, 0), 1);
    ASSERT_EQ(roots.GetSize(), 1);
    EXPECT_STREQ(roots[0].title.GetText(), "title 1");
    EXPECT_STREQ(keys.GetData("2")->mess.GetText(), "body 2");
    EXPECT_EQ(FileIds(dir), "3,2,1");
}

TEST(BBSDataDepth, TreeColumns)
{
    struct Case {
        const char* name;
        std::vector<std::vector<const char*>> rows;  // id, pid
        const char* order;
        std::vector<const char*> marks;
    } cases[] = {
        {"worked example",
         {{"A", "R"}, {"B", "R"}, {"A1", "A"}, {"A2", "A"}},
         "A,A1,A2,B",
         {"+", "|+", "|L", "L"}},
        {"three siblings, middle one with a reply",
         {{"A", "R"}, {"B", "R"}, {"C", "R"}, {"B1", "B"}},
         "A,B,B1,C",
         {"+", "+", "|L", "L"}},
        {"deep last branch",
         {{"A", "R"}, {"A1", "A"}, {"A11", "A1"}, {"A12", "A1"}},
         "A,A1,A11,A12",
         {"L", " L", "  +", "  L"}},
    };
    for (const Case& c : cases) {
        CRukBBSFile file;
        CRukBBSDataAry src;
        for (auto& row : c.rows)
            src.Add(Rec(row[0], row[1], "R"));
        CRukBBSDataAry out;
        int nPDepth = 0, nDepth = 0;
        EXPECT_EQ(file.GetDataRecursWithDepth(src, out, "R", nPDepth, nDepth),
                  static_cast<int>(c.rows.size()))
            << c.name;
        EXPECT_EQ(nPDepth, 0) << c.name;
        EXPECT_EQ(nDepth, 0) << c.name;
        EXPECT_EQ(Ids(out), c.order) << c.name;
        for (size_t i = 0; i < c.marks.size() && i < static_cast<size_t>(out.GetSize()); i++)
            EXPECT_EQ(std::string(out[i].depth.GetData(), out[i].depth.GetSize()), c.marks[i])
                << c.name << " record " << i;
    }
}

// Hand-edited files may link records in a circle; each query must end and
// list every record at most once.
TEST(BBSDataDepth, PidCyclesEnd)
{
    CRukBBSFile file;
    file.m_aryData.Add(Rec("A", "B", "R"));
    file.m_aryData.Add(Rec("B", "A", "R"));
    file.m_aryData.Add(Rec("S", "S", "R"));

    CRukBBSDataAry out;
    EXPECT_EQ(file.GetDataRecurs(file.m_aryData, out, "A"), 2);
    EXPECT_EQ(Ids(out), "B,A");
    CRukBBSDataAry self;
    EXPECT_EQ(file.GetDataRecurs(file.m_aryData, self, "S"), 1);

    CRukBBSDataAry depth;
    int nPDepth = 0, nDepth = 0;
    EXPECT_EQ(file.GetDataRecursWithDepth(file.m_aryData, depth, "B", nPDepth, nDepth), 2);
    EXPECT_EQ(nDepth, 0);

    file.m_aryData.Add(Rec("X", "A", "Q"));
    EXPECT_TRUE(file.DeleteDataOnly("A"));
    EXPECT_EQ(Ids(file.m_aryData), "S");
}

// A chain of replies far deeper than any call stack could follow.
TEST(BBSDataDepth, LongChainDoesNotOverflow)
{
    CRukBBSFile file;
    const int n = 200000;
    for (int i = 1; i <= n; i++)
        file.m_aryData.Add(Rec(std::to_string(i).c_str(), std::to_string(i - 1).c_str(), "0"));
    CRukBBSDataAry out;
    EXPECT_EQ(file.GetDataRecurs(file.m_aryData, out, "0"), n);
    CRukBBSDataAry depth;
    int nPDepth = 0, nDepth = 0;
    CRukBBSDataAry src;
    for (int i = 1; i <= 2000; i++)
        src.Add(Rec(std::to_string(i).c_str(), std::to_string(i - 1).c_str(), "0"));
    EXPECT_EQ(file.GetDataRecursWithDepth(src, depth, "0", nPDepth, nDepth), 2000);
    EXPECT_EQ(depth[1999].depth.GetSize(), 2000u);
}

// ---------------------------------------------------------------------------
// Storing posts

TEST(BBSDataWrite, ThreadOrder)
{
    TempDir dir;
    EXPECT_EQ(Post(dir, Rec("1")), 0);  // first post creates the file
    EXPECT_EQ(Post(dir, Rec("2", "1", "1")), 0);
    EXPECT_EQ(Post(dir, Rec("3", "1", "1")), 0);
    EXPECT_EQ(Post(dir, Rec("10")), 3);
    EXPECT_EQ(Post(dir, Rec("11")), 4);
    EXPECT_EQ(FileIds(dir), "11,10,3,2,1");

    // A reply: its thread moves up, the reply first, the root last.
    EXPECT_EQ(Post(dir, Rec("4", "2", "1")), 2);
    EXPECT_EQ(FileIds(dir), "4,3,2,1,11,10");

    // An edit keeps its place in the thread and moves the thread up.
    CRukBBSData edit = Rec("10", "", "", "new title");
    CRukBBSFile writer;
    CRukBufAry none;
    EXPECT_EQ(writer.WriteInputData(dir.c_str(), edit, none, true), 5);
    EXPECT_EQ(Ids(writer.m_aryData), "10");  // the own records are the group
    edit = Rec("3", "1", "1", "edited");
    EXPECT_EQ(writer.WriteInputData(dir.c_str(), edit, none, true), 2);
    EXPECT_EQ(Ids(writer.m_aryData), "4,3,2,1");
    EXPECT_STREQ(writer.GetDataParent(writer.GetData("3"))->id.GetText(), "1");
    EXPECT_EQ(FileIds(dir), "4,3,2,1,10,11");
    CRukBBSFile check;
    ASSERT_GT(check.ReadPageData(dir.c_str(), false), 0);
    EXPECT_STREQ(check.GetData("3")->title.GetText(), "edited");
    EXPECT_STREQ(check.GetData("10")->title.GetText(), "new title");
}

TEST(BBSDataWrite, Duplicates)
{
    TempDir dir;
    ASSERT_EQ(Post(dir, Rec("1", "", "", "same")), 0);
    std::string before = ReadFile(dir / "bbs-message.dat");
    // The same text as a new thread right after it.
    CRukBBSData again = Rec("2", "", "", "same");
    again.mess = "body 1";
    CRukBBSFile file;
    CRukBufAry none;
    SRukWriteRules rules;
    rules.bNewKey = true;
    EXPECT_EQ(file.WriteInputData(dir.c_str(), again, none, true, rules), kStoreDuplicate);
    EXPECT_EQ(Ids(file.m_aryData), "1");  // the file as read
    EXPECT_EQ(ReadFile(dir / "bbs-message.dat"), before);

    // The same text as any message of the thread.
    ASSERT_EQ(Post(dir, Rec("2", "1", "1")), 0);
    CRukBBSData reply = Rec("3", "1", "1", "same");
    reply.mess = "body 1";
    EXPECT_EQ(Post(dir, reply), kStoreDuplicate);
    // An edit of a message to its own text is not a duplicate.
    CRukBBSData edit = Rec("1", "", "", "same");
    EXPECT_EQ(Edit(dir, edit), 0);
}

TEST(BBSDataWrite, Attachments)
{
    TempDir dir;
    CRukBBSData root = Rec("1");
    root.attach.Add("a.txt", "1");
    CRukBufAry files;
    files.Add("AAA", 3);
    ASSERT_EQ(Post(dir, root, &files), 0);
    EXPECT_EQ(ReadFile(dir / "1/a.txt"), "AAA");

    // Another message of the thread gets the name numbered.
    CRukBBSData reply = Rec("2", "1", "1");
    reply.attach.Add("a.txt", "1");
    CRukBufAry other;
    other.Add("BBB", 3);
    ASSERT_EQ(Post(dir, reply, &other), 0);
    EXPECT_EQ(ReadFile(dir / "1/a.txt"), "AAA");
    EXPECT_EQ(ReadFile(dir / "1/a-2.txt"), "BBB");

    // Deleting the reply takes its file only.
    CRukBBSFile del;
    EXPECT_EQ(del.WriteDeleteData(dir.c_str(), "2", true), 1);
    EXPECT_FALSE(Exists(dir / "1/a-2.txt"));
    EXPECT_EQ(ReadFile(dir / "1/a.txt"), "AAA");
}

// Names from a visitor never reach outside the thread directory.
TEST(BBSDataWrite, UnsafeAttachmentNamesAreRefused)
{
    TempDir dir;
    CRukBBSFile file;
    const char* names[][2] = {{"../evil", "1"}, {"x", ".."}, {"a/b", "1"}, {"", "1"}};
    for (auto& n : names) {
        CRukStrMap attach;
        attach.Add(n[0], n[1]);
        CRukBufAry data;
        data.Add("X", 1);
        EXPECT_EQ(file.WriteAttachFile(dir.c_str(), attach, data), -1) << n[0] << " " << n[1];
        EXPECT_EQ(file.DeleteAttachFile(dir.c_str(), attach), -1);
    }
    EXPECT_FALSE(Exists("/tmp/evil"));
}

TEST(BBSDataWrite, PruningRemovesOldestThreadWithFiles)
{
    TempDir dir;
    CRukBBSData oldest = Rec("1");
    oldest.attach.Add("f.bin", "1");
    CRukBufAry files;
    files.Add("F", 1);
    ASSERT_EQ(Post(dir, oldest, &files, 3, 1), 0);
    ASSERT_EQ(Post(dir, Rec("2"), nullptr, 3, 1), 1);
    ASSERT_EQ(Post(dir, Rec("3"), nullptr, 3, 1), 2);
    ASSERT_TRUE(Exists(dir / "1/f.bin"));
    EXPECT_EQ(Post(dir, Rec("4"), nullptr, 3, 1), 2);
    EXPECT_EQ(FileIds(dir), "4,3,2");
    EXPECT_FALSE(Exists(dir / "1"));
    // Without delete mode nothing is pruned.
    EXPECT_EQ(Post(dir, Rec("5"), nullptr, 3, 0), 3);
    EXPECT_EQ(FileIds(dir), "5,4,3,2");
}

TEST(BBSDataWrite, NewKeyAvoidsTakenIds)
{
    TempDir dir;
    ASSERT_EQ(Post(dir, Rec("199")), 0);
    ASSERT_EQ(Post(dir, Rec("200")), 1);
    // Without a new key the post would be an edit of 199.
    CRukBBSData rec = Rec("199", "", "", "fresh");
    rec.attach.Add("p.txt", "199");
    CRukBufAry files;
    files.Add("P", 1);
    CRukBBSFile file;
    SRukWriteRules rules;
    rules.bNewKey = true;
    EXPECT_EQ(file.WriteInputData(dir.c_str(), rec, files, true, rules), 2);
    EXPECT_STREQ(rec.id.GetText(), "201");
    EXPECT_STREQ(rec.attach[0].m_data.GetText(), "201");
    EXPECT_EQ(ReadFile(dir / "201/p.txt"), "P");
    EXPECT_EQ(FileIds(dir), "201,200,199");
    CRukBBSFile check;
    ASSERT_GT(check.ReadPageData(dir.c_str(), false), 0);
    EXPECT_STREQ(check.GetData("199")->title.GetText(), "title 199");

    // Carrying over every digit.
    ASSERT_EQ(Post(dir, Rec("99", "", "", "x")), 3);
    CRukBBSData nines = Rec("99", "", "", "y");
    EXPECT_GE(Post(dir, nines), 0);
    EXPECT_EQ(FileIds(dir).substr(0, 4), "100,");
}

// A write that fails half-way must leave the old file as it was.
TEST(BBSDataWrite, FailedWriteLeavesOldFile)
{
    TempDir dir;
    ASSERT_EQ(Post(dir, Rec("1")), 0);
    ASSERT_EQ(Post(dir, Rec("2", "1", "1")), 0);
    std::string before = ReadFile(dir / "bbs-message.dat");
    struct rlimit lim = {static_cast<rlim_t>(before.size()), static_cast<rlim_t>(before.size())};

    struct Case {
        const char* name;
        int (*run)(const TempDir&);
    } cases[] = {
        {"WriteInputData", [](const TempDir& d) { return Post(d, Rec("3")); }},
        {"WriteFile append",
         [](const TempDir& d) {
             CRukBBSFile f;
             f.m_aryData.Add(Rec("9"));
             return f.WriteFile(f.m_aryData, (d / "bbs-message.dat").c_str(), true, true);
         }},
        {"WritePageData",
         [](const TempDir& d) {
             CRukBBSFile f;
             if (f.ReadPageData(d.c_str(), false) < 0)
                 return -100;
             f.m_aryData.Add(Rec("9"));
             return f.WritePageData(d.c_str(), true);
         }},
    };
    for (const Case& c : cases) {
        int r = InChild([&] {
            signal(SIGXFSZ, SIG_IGN);
            setrlimit(RLIMIT_FSIZE, &lim);
            return c.run(dir);
        });
        EXPECT_EQ(r, -1) << c.name;
        EXPECT_EQ(ReadFile(dir / "bbs-message.dat"), before) << c.name;
    }
    // Without the limit the append does add its records.
    CRukBBSFile f;
    f.m_aryData.Add(Rec("9"));
    EXPECT_EQ(f.WriteFile(f.m_aryData, (dir / "bbs-message.dat").c_str(), true, true), 1);
    EXPECT_EQ(FileIds(dir), "2,1,9");
}

// A file that exists but cannot be read is never replaced.
TEST(BBSDataWrite, UnreadableFileIsNotReplaced)
{
    TempDir dir;
    mkdir((dir / "bbs-message.dat").c_str(), 0777);  // a directory in its place
    EXPECT_EQ(Post(dir, Rec("1")), -1);
    struct stat st;
    ASSERT_EQ(stat((dir / "bbs-message.dat").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    CRukBBSFile file;
    EXPECT_EQ(file.ReadPageData(dir.c_str(), false), -1);

    if (geteuid() != 0) {  // root reads whatever the mode says
        TempDir dir2;
        ASSERT_EQ(Post(dir2, Rec("1")), 0);
        chmod((dir2 / "bbs-message.dat").c_str(), 0);
        EXPECT_EQ(Post(dir2, Rec("2")), -1);
        chmod((dir2 / "bbs-message.dat").c_str(), 0644);
        EXPECT_EQ(FileIds(dir2), "1");
    }
}

// ---------------------------------------------------------------------------
// Deletion

TEST(BBSDataDelete, RootsAndSubtrees)
{
    TempDir dir;
    CRukBBSData root = Rec("1");
    root.attach.Add("r.txt", "1");
    CRukBufAry files;
    files.Add("R", 1);
    ASSERT_EQ(Post(dir, root, &files), 0);
    ASSERT_EQ(Post(dir, Rec("2", "1", "1")), 0);
    CRukBBSData deep = Rec("3", "2", "1");
    deep.attach.Add("d.txt", "1");
    ASSERT_EQ(Post(dir, deep, &files), 0);
    ASSERT_EQ(Post(dir, Rec("4", "1", "1")), 0);
    ASSERT_EQ(Post(dir, Rec("5")), 4);
    ASSERT_EQ(FileIds(dir), "5,4,3,2,1");

    // A reply takes its subtree (by pid) and its files, not its siblings.
    CRukBBSFile del;
    ASSERT_EQ(del.ReadPageData(dir.c_str(), true), 5);
    EXPECT_EQ(del.WriteDeleteData(dir.c_str(), del.GetData("2")->id.GetText(), true), 3);
    EXPECT_EQ(FileIds(dir), "5,4,1");
    EXPECT_FALSE(Exists(dir / "1/d.txt"));
    EXPECT_TRUE(Exists(dir / "1/r.txt"));

    // Unknown and empty ids change nothing.
    std::string before = ReadFile(dir / "bbs-message.dat");
    EXPECT_EQ(del.WriteDeleteData(dir.c_str(), "77", true), kStoreMissing);
    EXPECT_EQ(del.WriteDeleteData(dir.c_str(), "", true), kStoreMissing);
    EXPECT_EQ(ReadFile(dir / "bbs-message.dat"), before);

    // A root takes its whole thread and its directory.
    EXPECT_EQ(del.WriteDeleteData(dir.c_str(), "1", true), 1);
    EXPECT_EQ(FileIds(dir), "5");
    EXPECT_FALSE(Exists(dir / "1"));
}

// Deletion works on the file as it is, not on an older copy of it.
TEST(BBSDataDelete, KeepsPostsStoredSinceLoading)
{
    TempDir dir;
    ASSERT_EQ(Post(dir, Rec("1")), 0);
    ASSERT_EQ(Post(dir, Rec("2")), 1);
    CRukBBSFile del;
    ASSERT_EQ(del.ReadPageData(dir.c_str(), true), 2);
    ASSERT_EQ(Post(dir, Rec("3", "1", "1")), 1);  // another writer
    EXPECT_EQ(del.WriteDeleteData(dir.c_str(), "2", true), 2);
    EXPECT_EQ(FileIds(dir), "3,1");
}

TEST(BBSDataDelete, InMemory)
{
    TempDir dir;
    CRukBBSFile file;
    file.m_aryData.Add(Rec("3", "2", "1"));
    file.m_aryData.Add(Rec("2", "1", "1"));
    file.m_aryData.Add(Rec("1"));
    file.m_aryData[0].attach.Add("x.txt", "1");
    mkdir((dir / "1").c_str(), 0777);
    EXPECT_TRUE(WriteFile(dir / "1/x.txt", "X"));
    EXPECT_FALSE(file.DeleteDataAndAttachFile(dir.c_str(), "9"));
    EXPECT_TRUE(file.DeleteDataAndAttachFile(dir.c_str(), "2"));
    EXPECT_EQ(Ids(file.m_aryData), "1");
    EXPECT_FALSE(Exists(dir / "1"));
}

// ---------------------------------------------------------------------------
// Search

TEST(BBSDataSearch, FindReadAndFindData)
{
    TempDir dir;
    CRukBBSData a = Rec("1");
    a.name = "\x8e\x52\x93\x63";  // 山田
    a.mess = "Hello\nworld";
    a.mail = "yamada@example.jp";
    CRukBBSData b = Rec("2");
    b.name = "suzuki";
    b.mess = "hello again";
    CRukBBSFile w;
    w.m_aryData.Add(a);
    w.m_aryData.Add(b);
    ASSERT_EQ(w.WritePageData(dir.c_str(), false), 2);

    struct Case {
        std::vector<const char*> words;
        const char* read;  // ids found by FindRead
        const char* data;  // ids found by FindData
    } cases[] = {
        {{"\x8e\x52\x93\x63", "world"}, "1", "1"},  // name and body
        {{"yamada@"}, "1", ""},                    // mail: FindRead only
        {{"1\x1e\x1e\x1e"}, "", ""},               // never across fields
        {{"Hello world"}, "", ""},
        {{"Hello\nworld"}, "", "1"},  // the break is 0x1D on disk
        {{"hello"}, "2", "2"},        // case-sensitive
        {{}, "1,2", "1,2"},
        {{"hello", "nothing"}, "", ""},
    };
    for (const Case& c : cases) {
        CRukStrAry words;
        for (const char* w : c.words)
            words.Add(w);
        CRukBBSFile file;
        CRukBBSDataAry out;
        int n = file.FindRead(dir.c_str(), out, words, true);
        EXPECT_EQ(Ids(out), c.read);
        EXPECT_EQ(n, out.GetSize());
        EXPECT_EQ(file.GetCount(), 2);
        CRukBBSDataAry found;
        int nFound = file.FindData(found, words);
        EXPECT_EQ(nFound, found.GetSize());
        EXPECT_EQ(Ids(found), c.data);
    }
    CRukBBSFile none;
    CRukBBSDataAry out;
    out.Add(Rec("x"));
    CRukStrAry words;
    EXPECT_EQ(none.FindRead((dir / "none").c_str(), out, words, true), -1);
    EXPECT_EQ(out.GetSize(), 1);
}

// Search finds only what a visitor sees of a message. A word found only
// in a hidden field would tell whether that field holds it, so that a
// password code or an address could be read one character at a time.
TEST(BBSDataSearch, HiddenFieldsAreNeverSearched)
{
    TempDir dir;
    CRukBBSData r;
    r.id = "2000";
    r.date = "2025/08/09 09:08:09";
    r.name = "taro";
    r.mail = "t@example.jp";
    r.home = "http://example.jp/";
    r.title = "hello";
    r.mess = "body text";
    r.passwd = "$1$Ab3dEfGh$Zq*9xYw";
    r.resmail = "1";
    r.preform = "1";
    r.icon = "17";
    r.remote = "192.0.2.77";
    r.attach.Add("photo.jpg", "2000");
    CRukBBSFile w;
    w.m_aryData.Add(r);
    w.m_aryData.Add(Rec("3000", "", "", "plain"));
    ASSERT_EQ(w.WritePageData(dir.c_str(), false), 2);
    const struct {
        std::string word;
        const char* found;
    } cases[] = {
        {"*", ""},
        {"$", ""},
        {"$1$Ab3dEfGh$Zq*9xYw", ""},
        {"Zq", ""},
        {"192.0.2.77", ""},
        {"1", ""},     // resmail, preform, icon
        {"2000", ""},  // the id and the thread of the attachment
        {"taro\x1et@", ""},
        {"taro", "2000"},
        {"t@example", "2000"},
        {"example.jp/", "2000"},
        {"hello", "2000"},
        {"body", "2000,3000"},
        {"2025/08/09", "2000"},
        {"photo.jpg", "2000"},
    };
    for (const auto& c : cases) {
        CRukStrAry words;
        words.Add(c.word.c_str());
        CRukBBSFile file;
        CRukBBSDataAry out;
        int n = file.FindRead(dir.c_str(), out, words, true);
        EXPECT_EQ(n, out.GetSize()) << c.word;
        EXPECT_EQ(Ids(out), c.found) << c.word;
    }
}

// ---------------------------------------------------------------------------
// Locking between processes

// One message looked up in the file, as edits and deletions check their
// password, without loading the board.
TEST(BBSDataSearch, FindRecordReadsOneMessage)
{
    TempDir dir;
    EXPECT_TRUE(WriteFile(dir / "bbs-message.dat",
             Line("3", "1", "1") + Line("2", "1", "1") + Line("1", "", "") + Line("12", "", "")));
    const struct {
        const char* id;
        int result;
        const char* title;
        bool bHasChild;
    } cases[] = {
        {"1", 1, "title 1", true},
        {"2", 1, "title 2", false},
        {"12", 1, "title 12", false},
        {"4", 0, "", false},
        {"", 0, "", false},  // an empty id names nothing, not every root
    };
    for (const auto& c : cases) {
        CRukBBSFile file;
        CRukBBSData rec;
        bool bHasChild = true;
        EXPECT_EQ(file.FindRecord(dir.c_str(), c.id, rec, bHasChild, true), c.result) << c.id;
        EXPECT_STREQ(rec.title.GetText(), c.title) << c.id;
        EXPECT_EQ(bHasChild, c.bHasChild) << c.id;
        EXPECT_EQ(file.m_aryData.GetSize(), 0) << c.id;
    }
    CRukBBSFile none;
    CRukBBSData rec;
    bool bHasChild = false;
    EXPECT_EQ(none.FindRecord((dir / "nothing").c_str(), "1", rec, bHasChild, false), -1);
}

TEST(BBSDataLock, ReadersShareWritersExclude)
{
    testutil::Restore wait(go.m_nLockWait, 0);  // refused at once, as the children see it
    TempDir dir;
    ASSERT_EQ(Post(dir, Rec("1")), 0);
    std::string data = dir / "bbs-message.dat";
    auto read = [&] {
        CRukBBSFile f;
        return f.ReadPageData(dir.c_str(), true);
    };
    auto write = [&] { return Post(dir, Rec("2")); };
    auto find = [&] {
        CRukBBSFile f;
        CRukBBSDataAry out;
        CRukStrAry words;
        return f.FindRead(dir.c_str(), out, words, true);
    };
    auto del = [&] {
        CRukBBSFile f;
        return f.WriteDeleteData(dir.c_str(), "1", true);
    };
    {
        CRukBBSLock lock;
        ASSERT_EQ(lock.Lock(data.c_str(), true), 0);
        EXPECT_EQ(InChild(read), 1);
        EXPECT_EQ(InChild(find), 1);
        EXPECT_EQ(InChild(write), -2);
        EXPECT_EQ(InChild(del), -2);
    }
    {
        CRukBBSLock lock;
        ASSERT_EQ(lock.Lock((dir / "any-file").c_str(), false), 0);  // same lock file
        EXPECT_EQ(InChild(read), -2);
        EXPECT_EQ(InChild(find), -2);
        EXPECT_EQ(InChild(write), -2);
    }
    EXPECT_EQ(InChild(write), 1);
    EXPECT_TRUE(Exists(dir / "lockfile.lock"));
}

namespace {

// True when another process holds byte 1 of the lock file exclusively:
// the gate a writer closes while it waits for the readers inside (see
// CRukFlock::Lock), as F_GETLK reports it. This process must hold no lock
// of that file, since closing the descriptor would drop it.
bool GateClosed(const std::string& lockFile)
{
    int fd = open(lockFile.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct flock fl = {};
    fl.l_type = F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 1;
    fl.l_len = 1;
    bool bClosed = fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type == F_WRLCK;
    close(fd);
    return bClosed;
}

// Waits up to five seconds for GateClosed: true once it is.
bool WaitForGate(const std::string& lockFile)
{
    for (int i = 0; i < 5000; i++) {
        if (GateClosed(lockFile))
            return true;
        usleep(1000);
    }
    return false;
}

}  // namespace

// A post waits for the page views in progress instead of being refused,
// and page views that arrive while it waits queue behind it.
TEST(BBSDataLock, WriterWaitsAndHoldsOffNewReaders)
{
    TempDir dir;
    ASSERT_EQ(Post(dir, Rec("1")), 0);
    std::string data = dir / "bbs-message.dat";
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    // A page view in progress: holds the shared lock until it is told to
    // finish.
    pid_t reader = testutil::StartChild([&] {
        CRukBBSLock lock;
        int r = lock.Lock(data.c_str(), true);
        char c = 'x';
        if (write(ready[1], &c, 1) != 1 || read(release[0], &c, 1) != 1)
            return 1;
        return r == 0 ? 0 : 1;
    });
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    pid_t writer;
    {
        testutil::Restore wait(go.m_nLockWait, 5000);
        writer = testutil::StartChild([&] { return Post(dir, Rec("2")); });
    }
    EXPECT_TRUE(WaitForGate(dir / "lockfile.lock")) << "the post never waited";
    {
        testutil::Restore wait(go.m_nLockWait, 0);
        EXPECT_EQ(InChild([&] {
                      CRukBBSFile f;
                      return f.ReadPageData(dir.c_str(), true);
                  }),
                  -2);
    }
    EXPECT_EQ(write(release[1], &c, 1), 1);
    EXPECT_EQ(testutil::WaitChild(writer), 1);  // stored before record 1
    EXPECT_EQ(testutil::WaitChild(reader), 0);
    EXPECT_EQ(FileIds(dir), "2,1");
    for (int fd : {ready[0], ready[1], release[0], release[1]})
        close(fd);
}

// ---------------------------------------------------------------------------
// Trace log

TEST(BBSDataTrace, LinesOfReadAndTreeWalk)
{
    TempDir dir;
    std::string log = dir / "trace.log";
    {
        testutil::TraceTo trace(log);
        ASSERT_EQ(Post(dir, Rec("1")), 0);
        CRukBBSFile file;
        ASSERT_EQ(file.ReadPageData(dir.c_str(), true), 1);
        CRukBBSDataAry src, out;
        src.Add(Rec("A", "R", "R"));
        src.Add(Rec("B", "R", "R"));
        int nPDepth = 0, nDepth = 0;
        EXPECT_EQ(file.GetDataRecursWithDepth(src, out, "R", nPDepth, nDepth), 2);
    }

    std::string text = ReadFile(log);
    const char* expected[] = {
        "-->> CRukBBSFile::WriteInputData(",
        "CRukBBSLock::Lock(",
        "---->> CRukBBSFile::ReadFile(",
        "----<< CRukBBSFile::ReadFile END num = 1 ----",
        "GetDataRecursWithDepth(R) nPDepth=0 nDepth=1",
        "GetDataRecursWithDepth [0] col 0 'L' -> '+'",
    };
    for (const char* line : expected)
        EXPECT_NE(text.find(line), std::string::npos) << line;
}
