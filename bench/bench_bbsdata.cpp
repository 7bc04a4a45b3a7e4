// The message store on generated boards of 1,000, 10,000 and 100,000
// messages (about 300 bytes each, threads of 1 to 10 messages, Shift_JIS
// text), beside two plain baselines: reading and splitting the same file
// with getline into std::string fields, and reading it and writing it back
// once through a temporary file with the same fsync and rename.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ftw.h>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

#include "rukbbsdata.h"

namespace {

// One generated board: its directory, the bytes of its file and the ids
// the cases work on.
struct SBoard {
    std::string dir;
    std::string path;
    std::string text;
    std::string firstRoot;  // root of the thread at the top of the file
    std::string lastRoot;   // root of the oldest thread
};

int RemoveOne(const char* p, const struct stat*, int, struct FTW*)
{
    remove(p);
    return 0;
}

// Every generated board, removed from disk at exit.
class CBoards {
public:
    ~CBoards()
    {
        for (auto& b : m_boards)
            nftw(b.second.dir.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
    }

    const SBoard& Get(int nMessages)
    {
        auto it = m_boards.find(nMessages);
        if (it == m_boards.end())
            it = m_boards.emplace(nMessages, Make(nMessages)).first;
        return it->second;
    }

private:
    // Builds the board newest thread first, each thread's replies newest
    // first and its root last, as the board program keeps them.
    static SBoard Make(int nMessages)
    {
        SBoard b;
        char sz[] = "/tmp/ruk-bench-bbs-XXXXXX";
        if (!mkdtemp(sz))
            abort();
        b.dir = sz;
        b.path = b.dir + "/bbs-message.dat";
        CRukBBSFile file;
        srand(12345);
        long long nId = 1700000000000LL + nMessages * 20LL;
        int nLeft = nMessages;
        int nThread = 0;
        while (nLeft > 0) {
            int nSize = 1 + rand() % 10;
            if (nSize > nLeft)
                nSize = nLeft;
            std::string root = std::to_string(nId - nSize + 1);
            for (int k = 0; k < nSize; k++) {
                CRukBBSData r;
                bool bRoot = k == nSize - 1;
                r.id = std::to_string(nId--).c_str();
                if (!bRoot) {
                    r.pid = root.c_str();
                    r.ppid = root.c_str();
                }
                r.date = "2024/05/06 07:08:09";
                r.name = "\x8e\x52\x93\x63\x91\xbe\x98\x59";  // 山田太郎
                r.mail = "yamada@example.jp";
                r.home = "http://example.jp/~yamada/";
                std::string title = "\x93\x8a\x8d\x65\x82\xcc\x8c\x8f\x96\xbc ";  // 投稿の件名
                title += std::to_string(nThread);
                r.title = title.c_str();
                std::string mess;
                for (int line = 0; line < 4; line++) {
                    // こんにちは、掲示板のテストです。
                    mess += "\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\x81\x41\x8c\x66\x8e\xa6"
                            "\x94\xc2\x82\xcc\x83\x65\x83\x58\x83\x67\x82\xc5\x82\xb7\x81\x42";
                    mess += "\n";
                }
                mess += "no." + std::to_string(nMessages - nLeft);
                r.mess = mess.c_str();
                r.passwd = "$1$abcdefgh$0123456789abcdefghijk";
                r.icon = "3";
                file.m_aryData.Add(std::move(r));
                nLeft--;
            }
            if (nThread == 0)
                b.firstRoot = root;
            b.lastRoot = root;
            nThread++;
        }
        if (file.WritePageData(b.dir.c_str(), false) != nMessages)
            abort();
        FILE* fp = fopen(b.path.c_str(), "rb");
        if (!fp)
            abort();
        char buf[1 << 16];
        size_t n;
        while ((n = fread(buf, 1, sizeof(buf), fp)) > 0)
            b.text.append(buf, n);
        fclose(fp);
        return b;
    }

    std::map<int, SBoard> m_boards;
};

CBoards g_boards;

// Puts the board's file back as generated.
void Restore(const SBoard& b)
{
    FILE* fp = fopen(b.path.c_str(), "wb");
    if (!fp)
        abort();
    fwrite(b.text.data(), 1, b.text.size(), fp);
    fclose(fp);
}

void BM_ReadPageData(benchmark::State& state)
{
    const SBoard& b = g_boards.Get(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        CRukBBSFile file;
        int n = file.ReadPageData(b.dir.c_str(), true);
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * b.text.size());
}

void BM_WriteInputDataReply(benchmark::State& state)
{
    const SBoard& b = g_boards.Get(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        Restore(b);
        CRukBBSData rec;
        rec.id = "9999999999999";
        rec.pid = b.firstRoot.c_str();
        rec.ppid = b.firstRoot.c_str();
        rec.name = "\x97\xe9\x96\xd8";  // 鈴木
        rec.title = "Re: reply";
        rec.mess = "\x95\xd4\x90\x4d\x82\xc5\x82\xb7\x81\x42";  // 返信です。
        CRukBufAry files;
        state.ResumeTiming();
        CRukBBSFile file;
        SRukWriteRules rules;
        rules.bNewKey = true;
        int r = file.WriteInputData(b.dir.c_str(), rec, files, true, rules);
        if (r < 0)
            state.SkipWithError("WriteInputData failed");
    }
    Restore(b);
}

void BM_WriteDeleteDataThread(benchmark::State& state)
{
    const SBoard& b = g_boards.Get(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        Restore(b);
        state.ResumeTiming();
        CRukBBSFile file;
        int r = file.WriteDeleteData(b.dir.c_str(), b.lastRoot.c_str(), true);
        if (r <= 0)
            state.SkipWithError("WriteDeleteData failed");
    }
    Restore(b);
}

void BM_FindReadTwoWords(benchmark::State& state)
{
    const SBoard& b = g_boards.Get(static_cast<int>(state.range(0)));
    CRukStrAry words;
    words.Add("\x8c\x66\x8e\xa6\x94\xc2");  // 掲示板
    words.Add("no.7");
    for (auto _ : state) {
        CRukBBSFile file;
        CRukBBSDataAry out;
        int n = file.FindRead(b.dir.c_str(), out, words, true);
        benchmark::DoNotOptimize(n);
    }
}

// One page of the tree view: the first 10 roots, the messages of each and
// their tree columns. With a true argument the thread index is dropped
// before every page, as a request that shows one page pays for it.
void BM_PageOfTrees(benchmark::State& state, bool bFresh)
{
    const SBoard& b = g_boards.Get(static_cast<int>(state.range(0)));
    CRukBBSFile file;
    if (file.ReadPageData(b.dir.c_str(), false) < 0)
        state.SkipWithError("ReadPageData failed");
    for (auto _ : state) {
        if (bFresh)
            file.ForgetIndex();
        CRukBBSDataAry roots;
        int n = file.GetDataParents(roots, 10, 0);
        for (const CRukBBSData& root : roots) {
            CRukBBSDataAry thread;
            n += file.GetDataChildren(thread, root.id.GetText(), 1);
            CRukBBSDataAry tree;
            int nPDepth = 0, nDepth = 0;
            n += file.GetDataRecursWithDepth(thread, tree, root.id.GetText(), nPDepth, nDepth);
        }
        benchmark::DoNotOptimize(n);
    }
}

// Baseline: read the file with getline and split each line at 0x1E into
// std::string fields.
void BM_BaselineReadSplit(benchmark::State& state)
{
    const SBoard& b = g_boards.Get(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        std::vector<std::vector<std::string>> rows;
        FILE* fp = fopen(b.path.c_str(), "rb");
        char* pLine = nullptr;
        size_t nCap = 0;
        ssize_t n;
        while ((n = getline(&pLine, &nCap, fp)) > 0) {
            std::vector<std::string> fields;
            const char* p = pLine;
            const char* pEnd = pLine + n - (pLine[n - 1] == '\n' ? 1 : 0);
            for (;;) {
                const char* q = static_cast<const char*>(memchr(p, '\x1e', pEnd - p));
                if (!q) {
                    fields.emplace_back(p, pEnd);
                    break;
                }
                fields.emplace_back(p, q);
                p = q + 1;
            }
            rows.push_back(std::move(fields));
        }
        free(pLine);
        fclose(fp);
        benchmark::DoNotOptimize(rows.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * b.text.size());
}

// Baseline: read the whole file and write it back once through a temporary
// file, flushed with fsync and renamed over it.
void BM_BaselineReadWrite(benchmark::State& state)
{
    const SBoard& b = g_boards.Get(static_cast<int>(state.range(0)));
    std::string temp = b.path + ".base";
    for (auto _ : state) {
        std::string text;
        FILE* fp = fopen(b.path.c_str(), "rb");
        char buf[1 << 16];
        size_t n;
        while ((n = fread(buf, 1, sizeof(buf), fp)) > 0)
            text.append(buf, n);
        fclose(fp);
        FILE* out = fopen(temp.c_str(), "wb");
        fwrite(text.data(), 1, text.size(), out);
        fflush(out);
        fsync(fileno(out));
        fclose(out);
        rename(temp.c_str(), b.path.c_str());
    }
}

}  // namespace

#define RUK_BOARD_SIZES ->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_ReadPageData) RUK_BOARD_SIZES;
BENCHMARK(BM_BaselineReadSplit) RUK_BOARD_SIZES;
BENCHMARK(BM_WriteInputDataReply) RUK_BOARD_SIZES;
BENCHMARK(BM_WriteDeleteDataThread) RUK_BOARD_SIZES;
BENCHMARK(BM_BaselineReadWrite) RUK_BOARD_SIZES;
BENCHMARK(BM_FindReadTwoWords) RUK_BOARD_SIZES;
BENCHMARK_CAPTURE(BM_PageOfTrees, indexed, false) RUK_BOARD_SIZES;
BENCHMARK_CAPTURE(BM_PageOfTrees, with_index_build, true) RUK_BOARD_SIZES;
