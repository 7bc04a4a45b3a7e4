// The store's writes as the board uses them: checks made under the write
// lock (with real processes racing for it), attachments kept and named
// through edits, nothing half-written when a file cannot be written, the
// posting rate, pruning into the monthly old log and deleting several
// messages at once.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
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
using testutil::TempDir;

std::string Board(const TempDir& dir)
{
    return testutil::ReadFile(dir / "bbs-message.dat");
}

// testutil::Rec with a password code, as the board stores every post.
CRukBBSData Rec(const char* id, const char* pid = "", const char* ppid = "",
                const char* title = nullptr)
{
    CRukBBSData r = testutil::Rec(id, pid, ppid, title);
    r.passwd = "code";
    return r;
}

// Rec with attachments: names and their data, side by side.
CRukBBSData WithFiles(CRukBBSData r, CRukBufAry& files, std::vector<std::string> names,
                      std::vector<std::string> data = {})
{
    for (size_t i = 0; i < names.size(); i++) {
        CRukStrPair pair;
        pair.m_strTag = names[i].c_str();
        pair.m_data = r.ppid.IsEmpty() ? r.id : r.ppid;
        // Appended as is: a post may name one file twice.
        r.attach.CRukAry<CRukStrPair>::Add(std::move(pair));
        std::string d = i < data.size() ? data[i] : names[i];
        files.Add(d.data(), static_cast<unsigned>(d.size()));
    }
    return r;
}

std::string Names(const CRukStrMap& attach)
{
    std::string s;
    for (const CRukStrPair& a : attach)
        s += (s.empty() ? "" : ",") + std::string(a.m_strTag.GetText());
    return s;
}

// The stored record of id in dir (empty when there is none).
CRukBBSData Stored(const std::string& dir, const char* id)
{
    CRukBBSFile file;
    CRukBBSData rec;
    bool bHasChild = false;
    if (file.FindRecord(dir.c_str(), id, rec, bHasChild, false) != 1)
        return CRukBBSData();
    return rec;
}

// A new message; rec receives its key and attachments as stored.
int PostInto(const TempDir& dir, CRukBBSData& rec, CRukBufAry* pFiles = nullptr)
{
    CRukBBSFile file;
    CRukBufAry none;
    SRukWriteRules rules;
    rules.bNewKey = true;
    return file.WriteInputData(dir.path().c_str(), rec, pFiles ? *pFiles : none, true, rules);
}

int Post(const TempDir& dir, CRukBBSData rec, CRukBufAry* pFiles = nullptr)
{
    return PostInto(dir, rec, pFiles);
}

// An edit; rec receives the attachments as stored.
int Edit(const TempDir& dir, CRukBBSData& rec, CRukBufAry* pFiles = nullptr,
         std::vector<std::string> remove = {}, FRukCheck check = nullptr)
{
    CRukBBSFile file;
    CRukBufAry none;
    CRukStrAry names;
    for (const std::string& n : remove)
        names.Add(n.c_str());
    SRukWriteRules rules;
    rules.pRemoveAttach = &names;
    rules.check = check;
    return file.WriteInputData(dir.path().c_str(), rec, pFiles ? *pFiles : none, true, rules);
}

}  // namespace

// ---------------------------------------------------------------------------
// Checks under the write lock

// The check sees the message as stored when the write holds the lock, and
// what it refuses changes nothing; an id that names no stored message is
// refused before any check.
TEST(BBSStoreChecks, SeeTheStoredMessage)
{
    struct Seen {
        int nCalls = 0;
        std::string id, passwd;
        bool bHasReplies = false;
    };
    const struct {
        const char* name;
        std::function<int(const TempDir&, FRukCheck)> write;
        int nAnswer;  // what the check returns
        int nResult;
        int nCalls;
        const char* passwd;  // what the check saw
        bool bHasReplies;
        const char* idsAfter;
    } cases[] = {
        {"delete a root with a reply",
         [](const TempDir& d, FRukCheck c) {
             CRukBBSFile f;
             return f.WriteDeleteData(d.path().c_str(), "1", true, c);
         },
         0, 1, 1, "code1", true, "5"},
        {"delete refused",
         [](const TempDir& d, FRukCheck c) {
             CRukBBSFile f;
             return f.WriteDeleteData(d.path().c_str(), "2", true, c);
         },
         kStoreRefused, kStoreRefused, 1, "code2", false, "2,1,5"},
        {"delete refused for its replies",
         [](const TempDir& d, FRukCheck c) {
             CRukBBSFile f;
             return f.WriteDeleteData(d.path().c_str(), "1", true, c);
         },
         kStoreHasReplies, kStoreHasReplies, 1, "code1", true, "2,1,5"},
        {"delete of a message not stored",
         [](const TempDir& d, FRukCheck c) {
             CRukBBSFile f;
             return f.WriteDeleteData(d.path().c_str(), "77", true, c);
         },
         0, kStoreMissing, 0, "", false, "2,1,5"},
        {"edit",
         [](const TempDir& d, FRukCheck c) {
             CRukBBSData rec = Rec("2", "", "", "edited");
             return Edit(d, rec, nullptr, {}, c);
         },
         0, 1, 1, "code2", false, "2,1,5"},
        {"edit refused",
         [](const TempDir& d, FRukCheck c) {
             CRukBBSData rec = Rec("5", "", "", "edited");
             return Edit(d, rec, nullptr, {}, c);
         },
         kStoreRefused, kStoreRefused, 1, "code5", false, "2,1,5"},
        {"edit of a message not stored: never stored under the chosen id",
         [](const TempDir& d, FRukCheck c) {
             CRukBBSData rec = Rec("77", "", "", "chosen");
             return Edit(d, rec, nullptr, {}, c);
         },
         0, kStoreMissing, 0, "", false, "2,1,5"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        for (CRukBBSData r : {Rec("5"), Rec("1"), Rec("2", "1", "1")}) {
            r.passwd = (std::string("code") + r.id.GetText()).c_str();
            ASSERT_GE(Post(dir, r), 0);
        }
        std::string before = Board(dir);
        Seen seen;
        int nAnswer = c.nAnswer;
        auto check = [&](const CRukBBSData& stored, bool bHasReplies) {
            seen.nCalls++;
            seen.id = stored.id.GetText();
            seen.passwd = stored.passwd.GetText();
            seen.bHasReplies = bHasReplies;
            return nAnswer;
        };
        EXPECT_EQ(c.write(dir, check), c.nResult) << c.name;
        EXPECT_EQ(seen.nCalls, c.nCalls) << c.name;
        EXPECT_EQ(seen.passwd, c.passwd) << c.name;
        EXPECT_EQ(seen.bHasReplies, c.bHasReplies) << c.name;
        EXPECT_EQ(FileIds(dir.path()), c.idsAfter) << c.name;
        if (c.nResult < 0) {
            EXPECT_EQ(Board(dir), before) << c.name;
        }
    }
}

// Another request that writes while a delete or an edit is being checked
// waits for the lock: it is either told it was not stored (busy) or stored
// after the write, never stored and then silently undone. The check starts
// the other request as a process and waits for it.
TEST(BBSStoreChecks, WritesDuringACheckWait)
{
    const struct {
        const char* name;
        std::function<int(const TempDir&, FRukCheck)> write;
        std::function<int(const TempDir&)> other;
        const char* idsAfter;
        const char* title1;  // of message 1 afterwards ("" when gone)
    } cases[] = {
        {"a reply while its parent is deleted",
         [](const TempDir& d, FRukCheck c) {
             CRukBBSFile f;
             return f.WriteDeleteData(d.path().c_str(), "1", true, c);
         },
         [](const TempDir& d) { return Post(d, Rec("2", "1", "1")); }, "5", ""},
        {"an edit while another edit is checked",
         [](const TempDir& d, FRukCheck c) {
             CRukBBSData rec = Rec("1", "", "", "checked edit");
             return Edit(d, rec, nullptr, {}, c);
         },
         [](const TempDir& d) {
             CRukBBSData rec = Rec("1", "", "", "other edit");
             return Edit(d, rec);
         },
         "1,5", "checked edit"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        ASSERT_GE(Post(dir, Rec("5")), 0);
        ASSERT_GE(Post(dir, Rec("1")), 0);
        int nOther = 1;
        auto check = [&](const CRukBBSData&, bool bHasReplies) {
            // The other request gives up after 300 ms if the lock is held.
            testutil::Restore wait(go.m_nLockWait, 300);
            nOther = InChild([&] { return c.other(dir); });
            return bHasReplies ? kStoreHasReplies : 0;
        };
        EXPECT_GE(c.write(dir, check), 0) << c.name;
        EXPECT_EQ(nOther, kStoreBusy) << c.name;
        EXPECT_EQ(FileIds(dir.path()), c.idsAfter) << c.name;
        EXPECT_STREQ(Stored(dir.path(), "1").title.GetText(), c.title1) << c.name;
    }
}

// A reply that reaches the lock only after its parent was deleted is
// refused and stores nothing (not an orphan the board cannot show).
TEST(BBSStoreChecks, ReplyAfterItsParentWasDeletedIsRefused)
{
    TempDir dir;
    ASSERT_GE(Post(dir, Rec("5")), 0);
    ASSERT_GE(Post(dir, Rec("1")), 0);
    ASSERT_GE(Post(dir, Rec("2", "1", "1")), 0);
    pid_t reply = -1;
    auto check = [&](const CRukBBSData&, bool) {
        // Started while the delete holds the lock: it can only store after.
        testutil::Restore wait(go.m_nLockWait, 20000);
        reply = testutil::StartChild([&] { return Post(dir, Rec("3", "2", "1")); });
        return 0;
    };
    CRukBBSFile del;
    EXPECT_EQ(del.WriteDeleteData(dir.path().c_str(), "1", true, check), 1);
    ASSERT_GT(reply, 0);
    EXPECT_EQ(testutil::WaitChild(reply), kStoreNoParent);
    EXPECT_EQ(FileIds(dir.path()), "5");

    // A reply to a message of another thread, or with a root that is no
    // root, is refused as well.
    std::string before = Board(dir);
    ASSERT_GE(Post(dir, Rec("6")), 0);
    before = Board(dir);
    for (CRukBBSData r : {Rec("7", "5", "6"), Rec("7", "6", "5"), Rec("7", "9", "")}) {
        EXPECT_EQ(Post(dir, r), kStoreNoParent) << r.pid.GetText() << " " << r.ppid.GetText();
        EXPECT_EQ(Board(dir), before);
    }
    // Without the root key it is found from the parent.
    ASSERT_GE(Post(dir, Rec("7", "6", "")), 0);
    EXPECT_STREQ(Stored(dir.path(), "7").ppid.GetText(), "6");
}

// ---------------------------------------------------------------------------
// Attachments through edits

TEST(BBSStoreAttach, EditsKeepAttachments)
{
    TempDir dir;
    CRukBufAry files;
    ASSERT_GE(Post(dir, WithFiles(Rec("1"), files, {"a.txt", "b.txt"}), &files), 0);

    const struct {
        const char* name;
        std::vector<std::string> add;
        std::vector<std::string> remove;
        const char* names;  // stored afterwards, in order
        std::vector<const char*> present, gone;
    } steps[] = {
        {"an edit without files keeps them", {}, {}, "a.txt,b.txt", {"a.txt", "b.txt"}, {}},
        {"a new file is added after the kept ones", {"c.txt"}, {}, "a.txt,b.txt,c.txt",
         {"c.txt"}, {}},
        {"one named to drop goes", {}, {"a.txt"}, "b.txt,c.txt", {"b.txt"}, {"a.txt"}},
        {"a dropped name may come back as a new file", {"b.txt"}, {"b.txt"}, "c.txt,b-2.txt",
         {"b-2.txt"}, {"b.txt"}},
        {"names not stored are ignored", {}, {"zzz", "a.txt"}, "c.txt,b-2.txt", {"c.txt"}, {}},
    };
    for (const auto& s : steps) {
        CRukBufAry data;
        CRukBBSData rec = WithFiles(Rec("1", "", "", s.name), data, s.add);
        ASSERT_EQ(Edit(dir, rec, &data, s.remove), 0) << s.name;
        EXPECT_EQ(Names(rec.attach), s.names) << s.name;
        EXPECT_EQ(Names(Stored(dir.path(), "1").attach), s.names) << s.name;
        for (const char* p : s.present)
            EXPECT_TRUE(Exists(dir / (std::string("1/") + p))) << s.name << " " << p;
        for (const char* p : s.gone)
            EXPECT_FALSE(Exists(dir / (std::string("1/") + p))) << s.name << " " << p;
    }
    EXPECT_EQ(testutil::ReadFile(dir / "1/b-2.txt"), "b.txt");

    CRukBBSData rec = Rec("1");
    ASSERT_EQ(Edit(dir, rec, nullptr, {"c.txt", "b-2.txt"}), 0);
    EXPECT_EQ(rec.attach.GetSize(), 0);
    EXPECT_FALSE(Exists(dir / "1"));
}

// A name already used in the thread, by a kept file of the same message or
// twice in one post, is stored numbered before its extension.
TEST(BBSStoreAttach, NamesAreNumberedNotRefused)
{
    TempDir dir;
    CRukBufAry files;
    ASSERT_GE(Post(dir, WithFiles(Rec("1"), files, {"image.jpg", "README"}), &files), 0);
    const struct {
        const char* name;
        CRukBBSData rec;
        bool bEdit;
        std::vector<std::string> add;
        const char* names;  // rec.attach afterwards
    } steps[] = {
        {"used by another message", Rec("2", "1", "1"), false, {"image.jpg"}, "image-2.jpg"},
        {"twice in one post and without an extension", Rec("3", "2", "1"), false,
         {"x.png", "x.png", "README"}, "x.png,x-2.png,README-2"},
        {"the next free number", Rec("4", "1", "1"), false, {"image.jpg"}, "image-3.jpg"},
        {"kept by the edited message", Rec("1"), true, {"image.jpg", "new.gif"},
         "image.jpg,README,image-4.jpg,new.gif"},
        {"other threads are not looked at", Rec("9"), false, {"image.jpg"}, "image.jpg"},
    };
    for (const auto& s : steps) {
        CRukBufAry data;
        CRukBBSData rec = WithFiles(s.rec, data, s.add);
        int r = s.bEdit ? Edit(dir, rec, &data) : PostInto(dir, rec, &data);
        ASSERT_GE(r, 0) << s.name;
        EXPECT_EQ(Names(rec.attach), s.names) << s.name;
        EXPECT_EQ(Names(Stored(dir.path(), rec.id.GetText()).attach), s.names) << s.name;
        for (const CRukStrPair& a : rec.attach)
            EXPECT_TRUE(Exists(dir / (std::string(a.m_data.GetText()) + "/" + a.m_strTag.GetText())))
                << s.name << " " << a.m_strTag.GetText();
    }
    // Every file kept its own content.
    EXPECT_EQ(testutil::ReadFile(dir / "1/image.jpg"), "image.jpg");
    EXPECT_EQ(testutil::ReadFile(dir / "1/x-2.png"), "x.png");
    EXPECT_EQ(testutil::ReadFile(dir / "1/README"), "README");

    // Names that are no plain file name are refused before anything.
    std::string before = Board(dir);
    for (const char* pBad : {"../evil", "a/b", "..", ""}) {
        CRukBufAry data;
        EXPECT_EQ(Post(dir, WithFiles(Rec("20"), data, {pBad}), &data), kStoreFailed) << pBad;
        EXPECT_EQ(Board(dir), before) << pBad;
    }
}

// ---------------------------------------------------------------------------
// Files that cannot be written

// A file that cannot be written stores nothing: the files this write made
// are removed again, the message file stays as it was, and the files of
// the message edited stay.
TEST(BBSStoreAttach, FailedFilesStoreNothing)
{
    const struct {
        const char* name;
        std::function<void(const TempDir&)> prepare;
        rlim_t nFileLimit;  // largest file the write may make (0: no limit)
        CRukBBSData rec;
        bool bEdit;
        std::vector<std::string> add, data;
    } cases[] = {
        {"thread directory cannot be made",
         [](const TempDir& d) { testutil::WriteFile(d / "3", "in the way"); }, 0, Rec("3"), false,
         {"a.txt"}, {"A"}},
        {"second file too large", nullptr, 1000, Rec("3"), false, {"a.txt", "b.txt"},
         {"A", std::string(5000, 'B')}},
        {"second file too large in an existing directory", nullptr, 1000, Rec("2", "1", "1"),
         false, {"a.txt", "b.txt"}, {"A", std::string(5000, 'B')}},
        {"message file too large", nullptr, 200, Rec("1", "", "", std::string(400, 'T').c_str()),
         true, {"c.txt"}, {"C"}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        CRukBufAry files;
        ASSERT_GE(Post(dir, WithFiles(Rec("1"), files, {"keep.txt"}), &files), 0);
        if (c.prepare)
            c.prepare(dir);
        std::string before = Board(dir);
        int r = InChild([&] {
            if (c.nFileLimit > 0) {
                signal(SIGXFSZ, SIG_IGN);
                struct rlimit lim = {c.nFileLimit, c.nFileLimit};
                setrlimit(RLIMIT_FSIZE, &lim);
            }
            CRukBufAry data;
            CRukBBSData rec = WithFiles(c.rec, data, c.add, c.data);
            return c.bEdit ? Edit(dir, rec, &data, {"keep.txt"}) : Post(dir, rec, &data);
        });
        EXPECT_EQ(r, kStoreFailed) << c.name;
        EXPECT_EQ(Board(dir), before) << c.name;
        EXPECT_EQ(testutil::ReadFile(dir / "1/keep.txt"), "keep.txt") << c.name;
        for (const char* p : {"1/a.txt", "1/b.txt", "1/c.txt", "3/a.txt", "3/b.txt"})
            EXPECT_FALSE(Exists(dir / p)) << c.name << " " << p;
        struct stat st;
        EXPECT_TRUE(stat((dir / "3").c_str(), &st) != 0 || S_ISREG(st.st_mode)) << c.name;
    }
}

// ---------------------------------------------------------------------------
// Posting rate

TEST(BBSStoreRate, NewPostsOfOneClientAreSpaced)
{
    const struct {
        const char* name;
        int nInterval, nBurst;
        std::vector<const char*> clients;  // one new post each, in order
        std::vector<int> results;          // >= 0 stored, or the code
        int nMostWait;
    } cases[] = {
        {"interval", 60, 0, {"1.2.3.4", "1.2.3.4", "5.6.7.8"}, {0, kStoreTooSoon, 0}, 60},
        {"burst", 0, 3, {"a", "a", "a", "b", "a"}, {0, 0, 0, 0, kStoreTooSoon}, 600},
        {"no limit", 0, 0, {"a", "a", "a"}, {0, 0, 0}, 0},
        {"no client", 60, 1, {nullptr, nullptr}, {0, 0}, 0},
    };
    for (const auto& c : cases) {
        TempDir dir;
        int nWaitSeen = 0;
        for (size_t i = 0; i < c.clients.size(); i++) {
            std::string before = Board(dir);
            CRukBBSFile file;
            CRukBufAry none;
            SRukWriteRules rules;
            rules.bNewKey = true;
            rules.pClient = c.clients[i];
            rules.nPostInterval = c.nInterval;
            rules.nPostBurst = c.nBurst;
            int nWait = 0;
            rules.pWait = &nWait;
            CRukBBSData rec = Rec(std::to_string(i + 1).c_str());
            int r = file.WriteInputData(dir.path().c_str(), rec, none, true, rules);
            if (c.results[i] >= 0) {
                EXPECT_GE(r, 0) << c.name << " post " << i;
            } else {
                EXPECT_EQ(r, c.results[i]) << c.name << " post " << i;
                EXPECT_EQ(Board(dir), before) << c.name << " post " << i;
                EXPECT_GE(nWait, 1) << c.name;
                EXPECT_LE(nWait, c.nMostWait) << c.name;
                nWaitSeen = nWait;
            }
        }
        EXPECT_EQ(nWaitSeen > 0, c.nMostWait > 0) << c.name;
        EXPECT_EQ(Exists(dir / "bbs-rate.dat"), c.nMostWait > 0) << c.name;
    }

    // Edits are not new posts; the events are read back from the file.
    TempDir dir;
    SRukWriteRules rules;
    rules.pClient = "1.2.3.4";
    rules.nPostInterval = 60;
    CRukBufAry none;
    CRukBBSFile file;
    CRukBBSData rec = Rec("1");
    rules.bNewKey = true;
    ASSERT_EQ(file.WriteInputData(dir.path().c_str(), rec, none, true, rules), 0);
    EXPECT_NE(testutil::ReadFile(dir / "bbs-rate.dat").find(" 1.2.3.4\n"), std::string::npos);
    rules.bNewKey = false;
    rec.title = "edited";
    EXPECT_EQ(file.WriteInputData(dir.path().c_str(), rec, none, true, rules), 0);
    // An event older than the interval no longer counts.
    testutil::WriteFile(dir / "bbs-rate.dat",
                        std::to_string(time(nullptr) - 61) + " 1.2.3.4\n");
    rules.bNewKey = true;
    CRukBBSData next = Rec("2");
    EXPECT_EQ(file.WriteInputData(dir.path().c_str(), next, none, true, rules), 1);
}

// ---------------------------------------------------------------------------
// Pruning into the monthly old log

namespace {

// The old log pruned threads go to now: "old/YYYY-MM" in local time.
std::string MonthDir(const TempDir& dir)
{
    time_t now = time(nullptr);
    struct tm tmNow;
    localtime_r(&now, &tmNow);
    char sz[16];
    strftime(sz, sizeof(sz), "%Y-%m", &tmNow);
    return dir / (std::string("old/") + sz);
}

int PostPruning(const TempDir& dir, CRukBBSData rec, CRukBufAry* pFiles, int nMax)
{
    CRukBBSFile file;
    file.m_nMaxData = nMax;
    file.m_nDeleteMode = 1;
    file.m_bArchive = true;
    CRukBufAry none;
    SRukWriteRules rules;
    rules.bNewKey = true;
    return file.WriteInputData(dir.path().c_str(), rec, pFiles ? *pFiles : none, true, rules);
}

}  // namespace

// A flood of new threads over the board's maximum: every thread is either
// on the board or in the old log of the month, with its files and its
// address, and the old log stays sorted newest first.
TEST(BBSStoreArchive, PrunedThreadsMoveToTheMonthlyOldLog)
{
    TempDir dir;
    const int nMax = 4;
    std::vector<std::string> roots;
    for (int i = 0; i < 12; i++) {
        std::string id = std::to_string(100 + i);
        CRukBufAry files;
        CRukBBSData root = WithFiles(Rec(id.c_str()), files, {"f.txt"}, {"file of " + id});
        root.remote = ("10.0.0." + std::to_string(i)).c_str();
        ASSERT_GE(PostPruning(dir, root, &files, nMax), 0) << id;
        roots.push_back(id);
        if (i % 3 == 0) {
            std::string reply = std::to_string(500 + i);
            ASSERT_GE(PostPruning(dir, Rec(reply.c_str(), id.c_str(), id.c_str()), nullptr, nMax), 0);
        }
    }
    std::string month = MonthDir(dir);
    CRukBBSFile board, old;
    ASSERT_GT(board.ReadPageData(dir.path().c_str(), false), 0);
    ASSERT_GT(old.ReadPageData(month.c_str(), false), 0);
    EXPECT_LE(board.m_aryData.GetSize(), nMax + 1);
    for (const std::string& id : roots) {
        bool bOnBoard = board.GetData(id.c_str()) != nullptr;
        CRukBBSData* pOld = old.GetData(id.c_str());
        EXPECT_NE(bOnBoard, pOld != nullptr) << id;
        std::string home = bOnBoard ? dir.path() : month;
        EXPECT_EQ(testutil::ReadFile(home + "/" + id + "/f.txt"), "file of " + id) << id;
        EXPECT_FALSE(Exists((bOnBoard ? month : dir.path()) + "/" + id)) << id;
        if (pOld) {
            EXPECT_EQ(std::string(pOld->remote.GetText()).substr(0, 7), "10.0.0.") << id;
        }
    }
    // Replies went with their threads.
    EXPECT_TRUE(old.GetData("500") != nullptr);
    EXPECT_STREQ(old.GetData("500")->ppid.GetText(), "100");
    for (int i = 1; i < old.m_aryData.GetSize(); i++)
        EXPECT_GT(strcmp(old.m_aryData[i - 1].id.GetText(), old.m_aryData[i].id.GetText()), 0);
    EXPECT_TRUE(Exists(month + "/lockfile.lock"));
    struct stat st;
    ASSERT_EQ(stat(month.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, static_cast<unsigned>(go.m_nDirMode) & 0777);
}

// When the old log cannot be written nothing moves: the post is refused,
// the board and its files stay as they were.
TEST(BBSStoreArchive, OldLogFailureChangesNothing)
{
    TempDir dir;
    CRukBufAry files;
    ASSERT_GE(PostPruning(dir, WithFiles(Rec("1"), files, {"f.txt"}), &files, 2), 0);
    ASSERT_GE(PostPruning(dir, Rec("2"), nullptr, 2), 0);
    std::string month = MonthDir(dir);
    mkdir((dir / "old").c_str(), 0777);
    ASSERT_TRUE(testutil::WriteFile(month, "a file where the old log goes"));
    std::string before = Board(dir);
    CRukBufAry more;
    EXPECT_EQ(PostPruning(dir, WithFiles(Rec("3"), more, {"g.txt"}), &more, 2), kStoreFailed);
    EXPECT_EQ(Board(dir), before);
    EXPECT_TRUE(Exists(dir / "1/f.txt"));
    EXPECT_FALSE(Exists(dir / "3"));

    // Without the obstacle the thread moves, and a second month's worth
    // merges into the same old log.
    ASSERT_EQ(unlink(month.c_str()), 0);
    EXPECT_GE(PostPruning(dir, WithFiles(Rec("3"), more, {"g.txt"}), &more, 2), 0);
    EXPECT_EQ(FileIds(dir.path()), "3,2");
    EXPECT_EQ(FileIds(month), "1");
    EXPECT_TRUE(Exists(month + "/1/f.txt"));
    EXPECT_GE(PostPruning(dir, Rec("4"), nullptr, 2), 0);
    EXPECT_EQ(FileIds(month), "2,1");
}

// ---------------------------------------------------------------------------
// Deleting several messages at once

TEST(BBSStoreDelete, SeveralAtOnce)
{
    const struct {
        const char* name;
        std::vector<const char*> ids;
        int nResult;
        const char* idsAfter;
        std::vector<const char*> gone, kept;
    } cases[] = {
        {"a subtree, a thread and an unknown id", {"2", "5", "77"}, 2, "4,1",
         {"1/d.txt", "5"}, {"1/r.txt"}},
        {"a message and its own thread", {"3", "1"}, 1, "5", {"1"}, {"5/e.txt"}},
        {"nothing stored", {"77", ""}, kStoreMissing, "5,4,3,2,1", {}, {"1/d.txt"}},
        {"everything", {"1", "5"}, 0, "", {"1", "5"}, {}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        CRukBufAry a, b, e;
        ASSERT_GE(Post(dir, WithFiles(Rec("1"), a, {"r.txt"}), &a), 0);
        ASSERT_GE(Post(dir, Rec("2", "1", "1")), 0);
        ASSERT_GE(Post(dir, WithFiles(Rec("3", "2", "1"), b, {"d.txt"}), &b), 0);
        ASSERT_GE(Post(dir, Rec("4", "1", "1")), 0);
        ASSERT_GE(Post(dir, WithFiles(Rec("5"), e, {"e.txt"}), &e), 0);
        CRukStrAry ids;
        for (const char* p : c.ids)
            ids.Add(p);
        CRukBBSFile file;
        EXPECT_EQ(file.WriteDeleteData(dir.path().c_str(), ids, true), c.nResult) << c.name;
        EXPECT_EQ(FileIds(dir.path()), c.idsAfter) << c.name;
        for (const char* p : c.gone)
            EXPECT_FALSE(Exists(dir / p)) << c.name << " " << p;
        for (const char* p : c.kept)
            EXPECT_TRUE(Exists(dir / p)) << c.name << " " << p;
    }
}
