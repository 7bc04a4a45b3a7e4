// The store's writes copy the lines they leave alone as byte ranges. What
// they write must be byte for byte what writing the parsed records gives:
// the line scan against the line parser on random lines, and every write
// against the record path on boards of awkward files (carriage returns,
// no last line feed, blank and record-less lines, a thread spread over
// the file, lines not in the written form). A write that fails leaves the
// old files whole.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "rukbbsdata.h"
#include "rukbbsdata_impl.h"
#include "rukglobal.h"
#include "testutil.h"

namespace {

using testutil::InChild;
using testutil::ReadFile;
using testutil::Rec;
using testutil::TempDir;
using testutil::WriteFile;

const std::string kSep = "\x1e";

// A stored line in the written form, with its keys, title and body.
std::string Line(const std::string& id, const std::string& pid, const std::string& ppid,
                 const std::string& mess = "body")
{
    return id + kSep + pid + kSep + ppid + kSep + "2026/01/31" + kSep + "name" + kSep + kSep +
           kSep + "title " + id + kSep + mess + kSep + "code" + std::string(12, '\x1e') + "\n";
}

// What a key of a parsed record reads as (up to its first NUL).
std::string Key(const CRukString& s)
{
    return s.GetText();
}

// The bytes the record path writes for the records of list.
std::string Written(CRukBBSDataAry& list)
{
    TempDir out;
    CRukBBSFile file;
    std::string path = out / "bbs-message.dat";
    EXPECT_GE(file.WriteFile(list, path.c_str(), false, false), 0);
    return ReadFile(path);
}

// The records of text, parsed whole.
CRukBBSDataAry Parsed(const std::string& text)
{
    TempDir dir;
    EXPECT_TRUE(WriteFile(dir / "bbs-message.dat", text));
    CRukBBSFile file;
    EXPECT_GE(file.ReadPageData(dir.c_str(), false), 0);
    return file.m_aryData;
}

// The scan of text lists exactly the lines the parser finds records in,
// with the parser's keys and its verdict on the written form.
void ExpectScanAgrees(const std::string& text, int nRound)
{
    rukbbsdata::CRukBoardText scan;
    scan.Index(text.data(), text.size());
    int nLine = 0;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        const char* p = text.data() + at;
        size_t n = end - at;
        CRukBBSData keys;
        if (rukbbsdata::ParseKeys(p, n, keys)) {
            ASSERT_LT(nLine, scan.Count()) << nRound;
            const rukbbsdata::SLineRef& ref = scan[nLine];
            EXPECT_EQ(ref.at, at) << nRound;
            EXPECT_EQ(ref.len, n) << nRound;
            EXPECT_EQ(ref.bFeed, end < text.size()) << nRound;
            EXPECT_EQ(ref.bCanonical, rukbbsdata::IsCanonicalLine(p, n)) << nRound;
            EXPECT_EQ(Key(scan.Id(nLine)), Key(keys.id)) << nRound;
            EXPECT_EQ(std::string(p + ref.pidAt, ref.nPid), Key(keys.pid)) << nRound;
            EXPECT_EQ(std::string(p + ref.ppidAt, ref.nPpid), Key(keys.ppid)) << nRound;
            nLine++;
        }
        at = end + 1;
    }
    EXPECT_EQ(scan.Count(), nLine) << nRound;
}

}  // namespace

// The one pass over the text finds the lines that hold records, their keys
// and whether they can be copied exactly as the line parser decides, on
// random lines of the bytes that matter (lines cross the 16-byte steps of
// the scan at every offset).
TEST(BBSDataCopy, LineScanAgreesWithTheParser)
{
    const char alphabet[] = {'\x1e', '\x1e', '\x1e', '\x1e', '\x1d', '\r', '\0', 'a', '1', '\n', '\t'};
    std::mt19937 rng(7);
    for (int nRound = 0; nRound < 3000; nRound++) {
        std::string text;
        int nLen = static_cast<int>(rng() % 120);
        for (int k = 0; k < nLen; k++)
            text += alphabet[rng() % sizeof(alphabet)];
        // Some lines of the written form, a few of them spoilt.
        if (nRound % 3 == 0) {
            std::string line = Line(std::to_string(rng() % 50), "", "1");
            if (rng() % 2)
                line[rng() % (line.size() - 1)] = alphabet[rng() % 7];
            text += line;
        }
        ExpectScanAgrees(text, nRound);
    }
}

// Lines of the written form with long bodies, body breaks and many pairs
// after the icon, spoilt at random places (a byte replaced or put in):
// the scan and the parser agree wherever the line crosses the 32-byte
// blocks of the scan and wherever the spoilt byte falls.
TEST(BBSDataCopy, LineScanAgreesOnLongLines)
{
    const char spoil[] = {'\x1e', '\x1d', '\r', '\0', '\n', 'a'};
    std::mt19937 rng(11);
    for (int nRound = 0; nRound < 2000; nRound++) {
        std::string text;
        for (int nLine = 0; nLine < 3; nLine++) {
            std::string body;
            int nBody = static_cast<int>(rng() % 200);
            for (int k = 0; k < nBody; k++)
                body += rng() % 17 == 0 ? '\x1d' : static_cast<char>('a' + k % 26);
            std::string line = Line(std::to_string(rng() % 1000000), "7", "", body);
            line.pop_back();
            for (int nPair = static_cast<int>(rng() % 4); nPair > 0; nPair--)
                line += kSep + "f" + kSep + std::to_string(nPair);
            if (rng() % 2) {
                size_t at = rng() % (line.size() + 1);
                char c = spoil[rng() % sizeof(spoil)];
                if (rng() % 2 && at < line.size())
                    line[at] = c;
                else
                    line.insert(at, 1, c);
            }
            text += std::string(rng() % 40, 'x') + line + "\n";
        }
        if (rng() % 2)
            text.pop_back();
        ExpectScanAgrees(text, nRound);
    }
}

// The count of a board's records (shown on the old-log page) is the
// number of records the parser finds, on files of awkward lines.
TEST(BBSDataCopy, CountRecordsCountsParsedRecords)
{
    const std::string line = Line("5", "", "");
    const std::string texts[] = {
        "",
        line + line,
        line + line.substr(0, line.size() - 1),
        "\n\njunk\n" + line + "\n\x1e\n",
        line.substr(0, line.size() - 1) + "\r\n" + "a\r\n",
        std::string("\x1e", 1) + "\n" + std::string(300, 'x') + "\x1e",
        std::string(100, 'x') + "\n" + std::string("\0\x1e\n", 3),
    };
    for (const std::string& text : texts) {
        TempDir dir;
        ASSERT_TRUE(WriteFile(dir / "bbs-message.dat", text));
        CRukBBSFile file;
        EXPECT_EQ(file.CountRecords(dir.c_str(), true), Parsed(text).GetSize()) << text;
    }
    TempDir none;
    CRukBBSFile file;
    EXPECT_EQ(file.CountRecords(none.c_str(), true), -1);
}

// A ranked read of the file as it is finds the records the parser finds,
// whole, with their ids as the parser cuts them (at a NUL), also in files
// with blank lines, carriage returns, no last line feed and NUL bytes.
TEST(BBSDataCopy, RankedReadsFindParsedRecords)
{
    const std::string line = Line("5", "", "");
    const std::string texts[] = {
        line + Line("7", "5", "5"),
        line + line.substr(0, line.size() - 1),
        "\n\njunk\n" + line + "\n\x1e\n",
        line.substr(0, line.size() - 1) + "\r\n" + "a\r\n",
        std::string("9\0x", 3) + kSep + "\n" + Line("8", "", ""),
        std::string(100, 'x') + "\n" + std::string("\0\x1e\n", 3),
    };
    for (const std::string& text : texts) {
        TempDir dir;
        ASSERT_TRUE(WriteFile(dir / "bbs-message.dat", text));
        std::vector<std::string> ids;
        auto rank = [&](const char* p, size_t n) {
            ids.emplace_back(p, n);
            return std::make_pair(0, 0ULL);  // all equal: the file order stays
        };
        CRukBBSDataAry out;
        CRukBBSFile file;
        int nTotal = file.ReadRanked(dir.c_str(), true, rank,
                                     [](int n) { return std::make_pair(0, n); }, out);
        CRukBBSDataAry parsed = Parsed(text);
        ASSERT_EQ(nTotal, parsed.GetSize()) << text;
        ASSERT_EQ(ids.size(), static_cast<size_t>(parsed.GetSize())) << text;
        for (int i = 0; i < parsed.GetSize(); i++)
            EXPECT_EQ(ids[static_cast<size_t>(i)], Key(parsed[i].id)) << text;
        EXPECT_EQ(Written(out), Written(parsed)) << text;
    }
}

// Lines are put in the order CRukBBSFile::Sort gives their records, both
// ways, for ids within the 16 bytes compared at once and longer ones.
TEST(BBSDataCopy, LinesSortAsRecords)
{
    const std::vector<std::vector<std::string>> sets = {
        {"10", "9", "100", "", "9", "1796922362632", "1796922362633", "abc", "10"},
        {"12345678901234567", "12345678901234566", "1234567890123456", "12345678901234567",
         "2", "123456789012345678", "1234567890123457"},
        // Bytes below the separator in ids, equal ids followed by other
        // bytes (only the id orders a line).
        {"9", "9\t", "9", "10", "1\t0", "12345678\t", "12345678", "12345678", "123456781\t",
         "123456781"},
        // Digits of one length, as a board's ids mostly are.
        {"1796922362632", "1796922362633", "1796922362632", "1796922361999", "1796922370000",
         "1795000000000", "1796922362640", "1896922362632", "1796922362632"},
    };
    for (const auto& ids : sets) {
        for (int nDescending : {0, 1}) {
            std::string text;
            CRukBBSDataAry records;
            for (size_t i = 0; i < ids.size(); i++) {
                text += Line(ids[i], std::to_string(i % 3), "", "body " + std::to_string(i));
                CRukBBSData r = Rec(ids[i].c_str());
                r.mess = std::to_string(i).c_str();
                records.Add(r);
            }
            rukbbsdata::CRukBoardText lines;
            lines.Index(text.data(), text.size());
            std::vector<rukbbsdata::SLinePick> picks;
            for (int i = 0; i < lines.Count(); i++)
                picks.push_back({&lines, i});
            rukbbsdata::SortById(picks, nDescending != 0);
            CRukBBSFile sorter;
            sorter.Sort(records, nDescending);
            ASSERT_EQ(picks.size(), static_cast<size_t>(records.GetSize()));
            for (size_t i = 0; i < picks.size(); i++)
                EXPECT_EQ(std::to_string(picks[i].nLine), records[static_cast<int>(i)].mess.GetText())
                    << ids[0] << " " << nDescending << " at " << i;
        }
    }
}

// Every write on a board of awkward lines gives the bytes the record path
// gives: the records parsed whole, changed, and written again.
TEST(BBSDataCopy, WritesMatchTheRecordPath)
{
    // Thread 1 (root 1; replies 2, 3 below 2, 4) is spread over the file;
    // thread 5 has reply 6; 7 is alone.
    const std::vector<std::string> lines = {
        Line("4", "1", "1"), Line("7", "", ""), Line("6", "5", "5"), Line("3", "2", "1"),
        Line("5", "", ""),   Line("2", "1", "1"), Line("1", "", ""),
    };
    auto join = [&](auto change) {
        std::string text;
        for (size_t i = 0; i < lines.size(); i++)
            text += change(lines[i], i);
        return text;
    };
    const struct {
        const char* name;
        std::string text;
    } boards[] = {
        {"written form", join([](std::string l, size_t) { return l; })},
        {"carriage returns",
         join([](std::string l, size_t) { return l.substr(0, l.size() - 1) + "\r\n"; })},
        {"no last line feed",
         join([&](std::string l, size_t i) {
             return i + 1 == lines.size() ? l.substr(0, l.size() - 1) : l;
         })},
        {"blank and record-less lines",
         join([](std::string l, size_t i) { return (i % 2 ? "\n" : "junk\n\n") + l; })},
        {"reserved field used",
         join([](std::string l, size_t i) {
             return i % 3 ? l : l.substr(0, l.size() - 3) + "x" + l.substr(l.size() - 3);
         })},
        {"body break outside the body",
         join([](std::string l, size_t i) {
             return i % 2 ? l : l.replace(l.find("name"), 4, "na\x1dme");
         })},
    };

    struct Op {
        const char* name;
        // Runs the write on dir; the number written or a kStore code.
        std::function<int(const TempDir&, CRukBBSData&)> write;
        // Changes the parsed records as the write should.
        std::function<void(CRukBBSFile&, const CRukBBSData&)> expect;
    };
    auto threadFirst = [](CRukBBSFile& f, const CRukBBSData& rec, const char* pKey,
                          bool bEdit) {
        CRukBBSDataAry group, rest;
        if (!bEdit)
            group.Add(rec);
        CRukBBSData root;
        bool bRoot = false;
        for (CRukBBSData& r : f.m_aryData) {
            if (r.ppid == pKey) {
                group.Add(bEdit && r.id == rec.id ? rec : r);
            } else if (!bRoot && r.ppid.IsEmpty() && r.id == pKey) {
                root = bEdit && r.id == rec.id ? rec : r;
                bRoot = true;
            } else {
                rest.Add(r);
            }
        }
        if (bRoot)
            group.Add(root);
        for (CRukBBSData& r : rest)
            group.Add(r);
        f.m_aryData = group;
    };
    const Op ops[] = {
        {"delete a root",
         [](const TempDir& d, CRukBBSData&) {
             CRukBBSFile f;
             return f.WriteDeleteData(d.c_str(), "1", true);
         },
         [](CRukBBSFile& f, const CRukBBSData&) { EXPECT_TRUE(f.DeleteDataOnly("1")); }},
        {"delete a subtree",
         [](const TempDir& d, CRukBBSData&) {
             CRukBBSFile f;
             return f.WriteDeleteData(d.c_str(), "2", true);
         },
         [](CRukBBSFile& f, const CRukBBSData&) { EXPECT_TRUE(f.DeleteDataOnly("2")); }},
        {"delete several",
         [](const TempDir& d, CRukBBSData&) {
             CRukBBSFile f;
             CRukStrAry ids;
             ids.Add("6");
             ids.Add("3");
             ids.Add("99");
             return f.WriteDeleteData(d.c_str(), ids, true);
         },
         [](CRukBBSFile& f, const CRukBBSData&) {
             EXPECT_TRUE(f.DeleteDataOnly("6"));
             EXPECT_TRUE(f.DeleteDataOnly("3"));
         }},
        {"reply",
         [](const TempDir& d, CRukBBSData& rec) {
             rec = Rec("8", "3", "");
             rec.passwd = "code";
             CRukBBSFile f;
             CRukBufAry none;
             SRukWriteRules rules;
             rules.bNewKey = true;
             return f.WriteInputData(d.c_str(), rec, none, true, rules);
         },
         [&](CRukBBSFile& f, const CRukBBSData& rec) { threadFirst(f, rec, "1", false); }},
        {"new thread",
         [](const TempDir& d, CRukBBSData& rec) {
             rec = Rec("9");
             CRukBBSFile f;
             CRukBufAry none;
             SRukWriteRules rules;
             rules.bNewKey = true;
             return f.WriteInputData(d.c_str(), rec, none, true, rules);
         },
         [](CRukBBSFile& f, const CRukBBSData& rec) { f.m_aryData.InsertAt(0, rec); }},
        {"edit",
         [](const TempDir& d, CRukBBSData& rec) {
             rec = Rec("2", "", "", "edited");
             CRukBBSFile f;
             CRukBufAry none;
             return f.WriteInputData(d.c_str(), rec, none, true);
         },
         [&](CRukBBSFile& f, const CRukBBSData& rec) { threadFirst(f, rec, "1", true); }},
    };

    for (const auto& board : boards) {
        for (const Op& op : ops) {
            TempDir dir;
            ASSERT_TRUE(WriteFile(dir / "bbs-message.dat", board.text));
            CRukBBSData rec;
            int r = op.write(dir, rec);
            EXPECT_GE(r, 0) << board.name << ": " << op.name;
            CRukBBSFile expected;
            expected.m_aryData = Parsed(board.text);
            op.expect(expected, rec);
            if (op.name[0] == 'd') {
                EXPECT_EQ(r, expected.m_aryData.GetSize()) << board.name << ": " << op.name;
            }
            EXPECT_EQ(ReadFile(dir / "bbs-message.dat"), Written(expected.m_aryData))
                << board.name << ": " << op.name;
        }

        // The old-log moves: the first half of the threads to a new log
        // (sorted by id, descending), then the log merged back.
        TempDir dir;
        ASSERT_TRUE(WriteFile(dir / "bbs-message.dat", board.text));
        mkdir((dir / "new").c_str(), 0777);
        std::string target = dir / "new/bbs-message.dat";
        CRukStrAry seen;
        CRukBBSFile mover;
        EXPECT_EQ(mover.MoveThreads(dir.c_str(), 0, 2, target.c_str(),
                                    [&](const CRukStrAry& roots) {
                                        seen = roots;
                                        return true;
                                    }),
                  1)
            << board.name;
        ASSERT_EQ(seen.GetSize(), 1) << board.name;
        EXPECT_STREQ(seen[0].GetText(), "7") << board.name;
        CRukBBSFile moved, kept;
        for (CRukBBSData& r : Parsed(board.text))
            (r.id == "7" || r.ppid == "7" ? moved : kept).m_aryData.Add(r);
        moved.Sort(moved.m_aryData, 1);
        EXPECT_EQ(ReadFile(target), Written(moved.m_aryData)) << board.name;
        EXPECT_EQ(ReadFile(dir / "bbs-message.dat"), Written(kept.m_aryData)) << board.name;

        CRukBBSFile merger;
        int nAll = static_cast<int>(Parsed(board.text).GetSize());
        EXPECT_EQ(merger.MergeLogs((dir / "new").c_str(), dir.c_str(),
                                   [&](const CRukStrAry& ids) {
                                       EXPECT_EQ(ids.GetSize(), 1) << board.name;
                                       return true;
                                   }),
                  nAll)
            << board.name;
        CRukBBSFile all;
        all.m_aryData = Parsed(board.text);
        all.Sort(all.m_aryData, 1);
        EXPECT_EQ(ReadFile(dir / "bbs-message.dat"), Written(all.m_aryData)) << board.name;
    }
}

// A write that cannot be completed (the file size limit stops it) leaves
// every file as it was and says so; a move that its caller refuses writes

// Moves on many threads whose ids differ only in their first bytes (and
// so share the bytes an id is hashed by): each thread moves whole or
// stays whole, and a merge names each id of the moved log once.
TEST(BBSDataCopy, MovesTellApartIdsOfOneEnding)
{
    std::string text;
    CRukBBSDataAry all;
    for (int n = 0; n < 60; n++) {
        std::string root = std::string(1, static_cast<char>('A' + n % 26)) +
                           std::to_string(n / 26) + "00000000001";
        std::string reply = root + "9";
        text += Line(reply, root, root) + Line(root, "", "") + Line(reply, root, root);
    }
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "bbs-message.dat", text));
    mkdir((dir / "new").c_str(), 0777);
    CRukStrAry roots;
    CRukBBSFile mover;
    ASSERT_EQ(mover.MoveThreads(dir.c_str(), 25, 0, (dir / "new/bbs-message.dat").c_str(),
                                [&](const CRukStrAry& r) {
                                    roots = r;
                                    return true;
                                }),
              35);
    auto isMoved = [&](const CRukBBSData& r) {
        for (const CRukString& id : roots)
            if (r.id == id || r.ppid == id)
                return true;
        return false;
    };
    CRukBBSFile moved, kept;
    for (CRukBBSData& r : Parsed(text))
        (isMoved(r) ? moved : kept).m_aryData.Add(r);
    ASSERT_EQ(moved.m_aryData.GetSize(), 35 * 3);
    moved.Sort(moved.m_aryData, 1);
    EXPECT_EQ(ReadFile(dir / "new/bbs-message.dat"), Written(moved.m_aryData));
    EXPECT_EQ(ReadFile(dir / "bbs-message.dat"), Written(kept.m_aryData));

    CRukBBSFile merger;
    EXPECT_EQ(merger.MergeLogs((dir / "new").c_str(), dir.c_str(),
                               [&](const CRukStrAry& ids) {
                                   EXPECT_EQ(ids.GetSize(), 35 * 2);
                                   return true;
                               }),
              60 * 3);
}

// nothing.
TEST(BBSDataCopy, FailedWritesLeaveTheFilesWhole)
{
    std::string text;
    for (int t = 10; t > 0; t--) {
        text += Line(std::to_string(t * 10 + 2), std::to_string(t * 10 + 1),
                     std::to_string(t * 10));
        text += Line(std::to_string(t * 10 + 1), std::to_string(t * 10), std::to_string(t * 10));
        text += Line(std::to_string(t * 10), "", "");
    }
    struct rlimit lim = {64, 64};
    const struct {
        const char* name;
        int (*run)(const TempDir&);
    } cases[] = {
        {"delete",
         [](const TempDir& d) {
             CRukBBSFile f;
             return f.WriteDeleteData(d.c_str(), "11", true);
         }},
        {"reply",
         [](const TempDir& d) {
             CRukBBSData rec = Rec("200", "11", "10");
             CRukBBSFile f;
             CRukBufAry none;
             SRukWriteRules rules;
             rules.bNewKey = true;
             return f.WriteInputData(d.c_str(), rec, none, true, rules);
         }},
        {"move threads",
         [](const TempDir& d) {
             CRukBBSFile f;
             return f.MoveThreads(d.c_str(), 2, 0, (d / "moved.dat").c_str(),
                                  [](const CRukStrAry&) { return true; });
         }},
        {"merge logs",
         [](const TempDir& d) {
             CRukBBSFile f;
             return f.MergeLogs((d / "other").c_str(), d.c_str(),
                                [](const CRukStrAry&) { return true; });
         }},
    };
    for (const auto& c : cases) {
        TempDir dir;
        ASSERT_TRUE(WriteFile(dir / "bbs-message.dat", text));
        mkdir((dir / "other").c_str(), 0777);
        ASSERT_TRUE(WriteFile(dir / "other/bbs-message.dat", Line("5", "", "")));
        int r = InChild([&] {
            signal(SIGXFSZ, SIG_IGN);
            setrlimit(RLIMIT_FSIZE, &lim);
            return c.run(dir);
        });
        EXPECT_EQ(r, kStoreFailed) << c.name;
        EXPECT_EQ(ReadFile(dir / "bbs-message.dat"), text) << c.name;
        EXPECT_EQ(ReadFile(dir / "other/bbs-message.dat"), Line("5", "", "")) << c.name;
        EXPECT_FALSE(testutil::Exists(dir / "moved.dat")) << c.name;
    }

    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "bbs-message.dat", text));
    CRukBBSFile f;
    EXPECT_EQ(f.MoveThreads(dir.c_str(), 2, 0, (dir / "moved.dat").c_str(),
                            [](const CRukStrAry&) { return false; }),
              kStoreRefused);
    EXPECT_EQ(ReadFile(dir / "bbs-message.dat"), text);
    EXPECT_FALSE(testutil::Exists(dir / "moved.dat"));
}

// A deletion takes what hangs below the message however the replies are
// spread: a long chain (followed round by round, then through an index)
// and a wide fan of replies, with replies filed under another thread.
TEST(BBSDataCopy, DeletionFollowsLongAndWideReplyTrees)
{
    std::string text = Line("500", "", "");
    for (int i = 1; i <= 30; i++)  // a chain: 1 answers 500, 2 answers 1, ...
        text += Line(std::to_string(i), i == 1 ? "500" : std::to_string(i - 1), i % 7 ? "500" : "9");
    for (int i = 100; i < 120; i++)  // a fan below 3, and one reply below each
        text += Line(std::to_string(i), "3", "500") + Line(std::to_string(i + 100), std::to_string(i), "500");
    text += Line("9", "", "") + Line("40", "9", "9");
    for (const char* pId : {"2", "3", "25", "500"}) {
        TempDir dir;
        ASSERT_TRUE(WriteFile(dir / "bbs-message.dat", text));
        CRukBBSFile store;
        int r = store.WriteDeleteData(dir.c_str(), pId, true);
        CRukBBSFile expected;
        expected.m_aryData = Parsed(text);
        EXPECT_TRUE(expected.DeleteDataOnly(pId)) << pId;
        EXPECT_EQ(r, expected.m_aryData.GetSize()) << pId;
        EXPECT_EQ(ReadFile(dir / "bbs-message.dat"), Written(expected.m_aryData)) << pId;
    }
}

// The records ranked by id: read from the file, and after a deletion from
// the lines as the deletion wrote them (the same records, without reading
// the file again, so a later change of the file does not show).
TEST(BBSDataCopy, RankedRecordsAfterADeletion)
{
    std::string text;
    for (int t = 9; t > 0; t--)
        text += Line(std::to_string(t * 10 + 1), std::to_string(t * 10), std::to_string(t * 10)) +
                Line(std::to_string(t * 10), "", "");
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "bbs-message.dat", text));
    auto rank = [](const char* p, size_t n) {
        return std::make_pair(static_cast<int>(n), std::stoull(std::string(p, n)));
    };
    auto ids = [&](CRukBBSFile& file, int nFirst, int nEnd, int& nTotal) {
        CRukBBSDataAry out;
        nTotal = file.ReadRanked(dir.c_str(), true, rank,
                                 [&](int) { return std::make_pair(nFirst, nEnd); }, out);
        return testutil::Ids(out);
    };
    int nTotal = 0;
    CRukBBSFile fresh;
    EXPECT_EQ(ids(fresh, 0, 4, nTotal), "91,90,81,80");
    EXPECT_EQ(nTotal, 18);
    EXPECT_EQ(ids(fresh, 16, 30, nTotal), "11,10");

    CRukBBSFile moderator;
    moderator.m_bKeepWritten = false;
    CRukStrAry gone;
    gone.Add("90");
    gone.Add("21");
    ASSERT_EQ(moderator.WriteDeleteData(dir.c_str(), gone, true), 15);
    ASSERT_TRUE(WriteFile(dir / "bbs-message.dat", Line("99", "", "")));  // changed since
    EXPECT_EQ(ids(moderator, 0, 4, nTotal), "81,80,71,70");
    EXPECT_EQ(nTotal, 15);
    EXPECT_EQ(ids(moderator, 12, 20, nTotal), "20,11,10");
    EXPECT_EQ(ids(fresh, 0, 4, nTotal), "99");
}

// The look-up before an edit or a deletion finds what FindRecord finds:
// the first line of the id, and whether a line answers it (its pid ended
// by a separator), also for ids that hold a separator or a line feed.
TEST(BBSDataCopy, FindStoredAgreesWithFindRecord)
{
    const std::string text = Line("3", "2", "1") + "2\x1e" "1\x1e" "1\n" + Line("1", "", "") +
                             "junk\n\n" + Line("1", "", "", "second") + "9\x1e" "1" +
                             Line("5\x1e" "7", "", "") + "x\x1e" "5\x1e" "7\x1e\n" +
                             Line("8", "", "").substr(0, Line("8", "", "").size() - 1);
    TempDir dir;
    ASSERT_TRUE(WriteFile(dir / "bbs-message.dat", text));
    for (const char* pId : {"1", "2", "3", "5", "7", "8", "9", "5\x1e" "7", "", "4", "1\n"}) {
        CRukBBSFile a, b;
        CRukBBSData ra, rb;
        bool bChildA = false, bChildB = true;
        int na = a.FindRecord(dir.c_str(), pId, ra, bChildA, true);
        int nb = b.FindStored(dir.c_str(), pId, rb, bChildB, true);
        EXPECT_EQ(nb, na) << pId;
        EXPECT_EQ(bChildB, bChildA) << pId;
        CRukBBSDataAry la, lb;
        la.Add(ra);
        lb.Add(rb);
        EXPECT_EQ(Written(lb), Written(la)) << pId;
    }
    TempDir none;
    CRukBBSFile c;
    CRukBBSData r;
    bool bChild = false;
    EXPECT_EQ(c.FindStored(none.c_str(), "1", r, bChild, false), -1);
}
