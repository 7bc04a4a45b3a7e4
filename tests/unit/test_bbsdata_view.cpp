// The key table of the reading pages (ReadPageView, and FindRead into it)
// against the records loaded by their keys (ReadPageKeys): on message files
// with odd lines, both must answer every query with the same records.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "rukbbsdata.h"
#include "testutil.h"

namespace {

using testutil::TempDir;
using testutil::WriteFile;

const std::string kSep = "\x1e";

// A stored line: the keys, then a name, title and body, the rest empty.
std::string Line(const std::string& id, const std::string& pid, const std::string& ppid,
                 const std::string& body = "body", const std::string& end = "\n")
{
    return id + kSep + pid + kSep + ppid + kSep + "2024/01/02" + kSep + "name " + id + kSep +
           kSep + kSep + "title " + id + kSep + body + std::string(12, '\x1e') + end;
}

// Every field of the records, as one text.
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

std::string Result(const CRukBBSDataAry& list, int n)
{
    return Dump(list) + "=" + std::to_string(n) + "\n";
}

// What every query of the reading pages answers on a loaded board, as
// one text: the records by place, the thread count, pages of roots and of
// records, and for every key of the file (and a few that are not in it)
// the thread, its tree, the record and whether it has replies (on a large
// board the keys of every nStep-th record).
std::string Survey(CRukBBSFile& f, int nStep = 1)
{
    std::string s = "count " + std::to_string(f.GetCount()) + "\n";
    std::set<std::string> keys = {"", "missing", "1"};
    for (int i = 0; i < f.GetCount(); i++) {
        s += std::string(f.IdAt(i)) + "/" + f.PpidAt(i) + "\n";
        if (i % nStep == 0) {
            keys.insert(f.IdAt(i));
            keys.insert(f.PpidAt(i));
        }
    }
    s += "threads " + std::to_string(f.GetPPNum()) + "\n";
    const int pages[][2] = {{0, 1}, {0, 3}, {1, 2}, {2, 100}, {-1, 2}, {100, 5}};
    for (const auto& page : pages) {
        CRukBBSDataAry roots, seq;
        int nRoots = f.GetDataParents(roots, page[1], page[0]);
        int nSeq = f.GetDataSequential(seq, page[1], page[0]);
        s += "parents " + Result(roots, nRoots) + "sequential " + Result(seq, nSeq);
    }
    for (const std::string& key : keys) {
        s += "key " + key + "\n";
        for (int nOrder : {-1, 0, 1}) {
            CRukBBSDataAry kids;
            s += Result(kids, f.GetDataChildren(kids, key.c_str(), nOrder));
        }
        CRukBBSDataAry kids, tree;
        int nKids = f.GetDataChildren(kids, key.c_str(), -1);
        int p = 0, d = 0;
        s += Result(tree, nKids + f.GetDataRecursWithDepth(kids, tree, key.c_str(), p, d));
        const CRukBBSData* pRec = f.GetData(key.c_str());
        CRukBBSDataAry one;
        if (pRec)
            one.Add(*pRec);
        if (const CRukBBSData* pRoot = f.GetDataPP(pRec))
            one.Add(*pRoot);
        s += Dump(one) + "child " + std::to_string(f.CheckExistChild(key.c_str())) + "\n";
        for (int i = 0; i < f.GetCount(); i++)
            if (key == f.IdAt(i)) {
                const CRukBBSData* pAt = f.RecordAt(i);
                s += pAt ? std::string(pAt->title.GetText()) + "\n" : "null\n";
            }
    }
    s += f.HasReadFailed() ? "failed\n" : "read\n";
    return s;
}

// Message files whose lines the table must read as the record loader does.
struct SBoardCase {
    const char* name;
    std::string text;
};

std::vector<SBoardCase> Boards()
{
    std::vector<SBoardCase> cases;
    std::string normal = Line("3", "", "") + Line("5", "3", "3") + Line("4", "3", "3") +
                         Line("1", "", "") + Line("2", "1", "1");
    cases.push_back({"ordinary", normal});
    cases.push_back({"empty file", ""});
    cases.push_back({"crlf", Line("3", "", "", "a", "\r\n") + Line("4", "3", "3", "b", "\r\n") +
                                 Line("1", "", "", "c", "\r\n")});
    cases.push_back({"last line without line feed",
                     Line("3", "", "") + Line("4", "3", "3", "end", "")});
    cases.push_back({"empty and separator-less lines",
                     "\n\n" + Line("3", "", "") + "no separator here\n\n" +
                         Line("4", "3", "3") + "\n"});
    // Thread 1's replies are far from their root, one answers a message
    // that is gone and one names a root that is gone.
    cases.push_back({"scattered and orphaned",
                     Line("1", "", "") + Line("7", "", "") + Line("8", "7", "7") +
                         Line("2", "1", "1") + Line("9", "6", "1") + Line("10", "11", "11") +
                         Line("12", "2", "1")});
    cases.push_back({"short lines", "5" + kSep + "\n" + "6" + kSep + "5\n" + "7" + kSep + "5" +
                                        kSep + "5\n" + kSep + kSep + "\n" + kSep + "\n"});
    cases.push_back({"duplicate ids", Line("1", "", "") + Line("2", "1", "1", "first") +
                                          Line("2", "1", "1", "second")});
    // A NUL ends a key where it stands, as in a record; one in a body only
    // cuts the body.
    cases.push_back({"nul bytes", Line(std::string("1\0x", 3), "", "") +
                                      Line("2", std::string("1\0y", 3), std::string("1\0z", 3)) +
                                      Line("3", "", "", std::string("a\0b", 3)) +
                                      Line(std::string("\0", 1), "", "")});
    // Keys that end just before, at and after 64 bytes into the line, and
    // lines of 63, 64 and 65 bytes.
    std::string edges;
    for (int n : {58, 59, 60, 61, 62, 63, 64, 65, 70})
        edges += Line(std::string(static_cast<size_t>(n), 'r'), "", "");
    for (int n : {20, 21, 22, 23, 24, 30})
        edges += Line(std::string(static_cast<size_t>(n), 'c'), std::string(20, 'r'),
                      std::string(static_cast<size_t>(n), 'r'));
    for (int n : {61, 62, 63, 64, 65})
        edges += std::string(static_cast<size_t>(n - 3), 'i') + kSep + "p" + kSep + "\n";
    for (int n : {61, 62, 63, 64, 65})
        edges += std::string(static_cast<size_t>(n - 1), 'j') + kSep + "\n";
    edges += std::string(100, 'k') + kSep + std::string(100, 'k') + kSep +
             std::string(100, 'k') + kSep + "x\n";
    cases.push_back({"keys around 64 bytes", edges});
    // Many threads over several blocks of the reader, with a line longer
    // than a block; each thread's replies come after the next thread.
    std::string blocks;
    for (int t = 0; t < 120; t++) {
        std::string root = std::to_string(1000 + t);
        blocks += Line(root, "", "", std::string(static_cast<size_t>(t * 37 % 900), 'x'));
        if (t > 0) {
            std::string prev = std::to_string(999 + t);
            blocks += Line(std::to_string(5000 + t), prev, prev,
                           std::string(t == 60 ? 200000 : static_cast<size_t>(t * 53 % 1500),
                                       'y'));
            blocks += Line(std::to_string(7000 + t), std::to_string(5000 + t), prev);
        }
    }
    cases.push_back({"long board", blocks});
    return cases;
}

}  // namespace

TEST(BBSDataView, AnswersAsTheKeysLoad)
{
    for (const SBoardCase& c : Boards()) {
        TempDir dir;
        ASSERT_TRUE(WriteFile(dir / "bbs-message.dat", c.text));
        CRukBBSFile keys, view;
        int nKeys = keys.ReadPageKeys(dir.c_str(), true);
        EXPECT_EQ(view.ReadPageView(dir.c_str(), true), nKeys) << c.name;
        EXPECT_EQ(view.m_aryData.GetSize(), 0) << c.name;
        EXPECT_EQ(Survey(view), Survey(keys)) << c.name;
    }
}

// A board whose tables are large enough for memory of their own.
TEST(BBSDataView, LargeBoardAnswersAsTheKeysLoad)
{
    std::string text;
    for (int t = 0; t < 12000; t++) {
        std::string root = std::to_string(100000 + t);
        text += root + kSep + kSep + kSep + "\n";
        text += std::to_string(200000 + t) + kSep + root + kSep + root + kSep + "\n";
        text += std::to_string(300000 + t) + kSep + std::to_string(200000 + t) + kSep + root +
                kSep + "\n";
    }
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "bbs-message.dat", text));
    CRukBBSFile keys, view;
    ASSERT_EQ(keys.ReadPageKeys(dir.c_str(), true), 36000);
    ASSERT_EQ(view.ReadPageView(dir.c_str(), true), 36000);
    EXPECT_EQ(Survey(view, 997), Survey(keys, 997));
}

// A search into the key table finds what a search next to loaded records
// finds, and the board is loaded as ReadPageView loads it.
TEST(BBSDataView, SearchFindsAsTheRecordLoad)
{
    const std::vector<std::vector<std::string>> searches = {
        {"title"},          {"title 2"},         {"name 1", "body"}, {"x", "nothing"},
        {"b"},              {"2024"},            {"\x1e"},           {"1\x1e"},
        {},                 {"y", "title 5001"}, {"z"},
    };
    for (const SBoardCase& c : Boards()) {
        TempDir dir;
        ASSERT_TRUE(WriteFile(dir / "bbs-message.dat", c.text));
        for (const auto& search : searches) {
            CRukStrAry words;
            for (const std::string& w : search)
                words.Add(w.c_str());
            CRukBBSFile held, fresh, view;
            ASSERT_GE(held.ReadPageData(dir.c_str(), true), 0);
            CRukBBSDataAry heldOut, freshOut;
            int nHeld = held.FindRead(dir.c_str(), heldOut, words, true);
            int nFresh = fresh.FindRead(dir.c_str(), freshOut, words, true);
            std::string what = std::string(c.name) + " / " + std::to_string(search.size());
            EXPECT_EQ(Result(freshOut, nFresh), Result(heldOut, nHeld)) << what;
            ASSERT_GE(view.ReadPageView(dir.c_str(), true), 0);
            EXPECT_EQ(Survey(fresh), Survey(view)) << what;
        }
    }
}

// FindRecord reads one message of a file without loading it: the first
// line whose id field is the key byte for byte, and whether a line's pid
// field is (a field counts when a separator follows it).
TEST(BBSDataView, FindRecordMatchesWholeFields)
{
    for (const SBoardCase& c : Boards()) {
        TempDir dir;
        ASSERT_TRUE(WriteFile(dir / "bbs-message.dat", c.text));
        std::vector<std::vector<std::string>> lines;  // fields of each line
        std::set<std::string> keys = {"", "1", "3" + kSep, "missing"};
        size_t nAt = 0;
        while (nAt < c.text.size()) {
            size_t nEnd = c.text.find('\n', nAt);
            std::string line = c.text.substr(nAt, nEnd == std::string::npos ? nEnd : nEnd - nAt);
            nAt = nEnd == std::string::npos ? c.text.size() : nEnd + 1;
            std::vector<std::string> fields;
            size_t nField = 0, nSep;
            while ((nSep = line.find('\x1e', nField)) != std::string::npos) {
                fields.push_back(line.substr(nField, nSep - nField));
                nField = nSep + 1;
            }
            lines.push_back(fields);  // the fields that a separator ends
            for (const std::string& f : fields)
                keys.insert(f);
        }
        for (const std::string& key : keys) {
            if (key.find('\0') != std::string::npos)
                continue;  // a key is a C string
            std::string title = "-";
            bool bChild = false;
            for (const auto& f : lines) {
                if (title == "-" && !key.empty() && f.size() >= 1 && f[0] == key)
                    title = f.size() > 7 ? f[7] : "";
                bChild = bChild || (!key.empty() && f.size() >= 2 && f[1] == key);
            }
            CRukBBSFile file;
            CRukBBSData found;
            bool bHasChild = true;
            int r = file.FindRecord(dir.c_str(), key.c_str(), found, bHasChild, true);
            std::string what = std::string(c.name) + " / " + key;
            EXPECT_EQ(r, title == "-" ? 0 : 1) << what;
            if (r == 1) {
                EXPECT_EQ(found.title.GetText(), title.substr(0, title.find('\0'))) << what;
            }
            EXPECT_EQ(bHasChild, bChild) << what;
        }
    }
}
