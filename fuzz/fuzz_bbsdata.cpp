// The message file reader and the tree queries on what it read. Loading by
// keys must agree with loading whole: every record completes to the same
// fields (the address of field 12 included), and writing the board back
// from its keys (which copies stored lines it judges already in written
// form) gives the same bytes as writing the parsed records. An input that
// starts with "?WORD\n" also searches for WORD: the store must find
// exactly the records that hold it in a field a visitor sees. The key
// table of the reading pages (ReadPageView) must hand out the same records
// as the whole load, by place, by thread and by page of roots.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "../tests/unit/testutil.h"
#include "rukbbsdata.h"

namespace {

// Every field of a record as one text.
std::string Fields(const CRukBBSData& r)
{
    std::string s;
    for (const CRukString* f : {&r.id, &r.pid, &r.ppid, &r.date, &r.name, &r.mail, &r.home,
                                &r.title, &r.mess, &r.passwd, &r.resmail, &r.preform, &r.icon,
                                &r.remote}) {
        s += f->GetText();
        s += '\x1f';
    }
    for (const CRukStrPair& a : r.attach) {
        s += a.m_strTag.GetText();
        s += '=';
        s += a.m_data.GetText();
        s += '\x1f';
    }
    return s;
}

// True when the word lies in a field of r a visitor sees (the body as
// stored, its line feeds as 0x1D).
bool Visible(const CRukBBSData& r, const std::string& word)
{
    std::string body = r.mess.GetText();
    for (char& c : body)
        if (c == '\n')
            c = '\x1d';
    std::vector<std::string> fields = {r.date.GetText(), r.name.GetText(),  r.mail.GetText(),
                                       r.home.GetText(), r.title.GetText(), body};
    for (const CRukStrPair& a : r.attach)
        fields.push_back(a.m_strTag.GetText());
    for (const std::string& f : fields)
        if (f.find(word) != std::string::npos)
            return true;
    return false;
}

// The search for the word of a "?WORD\n" first line against every parsed
// record; inputs holding NUL are left out (a field ends there when parsed).
void CheckSearch(const std::string& input, const std::string& dir, const CRukBBSDataAry& all)
{
    size_t nEnd = input.find('\n');
    if (input.empty() || input[0] != '?' || nEnd == std::string::npos || nEnd > 9 ||
        input.find('\0') != std::string::npos)
        return;
    std::string word = input.substr(1, nEnd - 1);
    if (word.empty() || word.find_first_of("\x1e ") != std::string::npos)
        return;
    std::string expect;
    for (const CRukBBSData& r : all)
        if (Visible(r, word))
            expect += std::string(r.id.GetText()) + "\n";
    CRukBBSFile search;
    CRukStrAry words;
    words.Add(word.c_str());
    CRukBBSDataAry found;
    int n = search.FindRead(dir.c_str(), found, words, false);
    std::string got;
    for (const CRukBBSData& r : found)
        got += std::string(r.id.GetText()) + "\n";
    if (n != found.GetSize() || got != expect)
        __builtin_trap();
}

// The records of a list as one text.
std::string AllFields(const CRukBBSDataAry& list)
{
    std::string s;
    for (const CRukBBSData& r : list)
        s += Fields(r) + "\n";
    return s;
}

void CheckView(const std::string& dir, CRukBBSFile& whole)
{
    CRukBBSFile view;
    const CRukBBSDataAry& all = whole.m_aryData;
    if (view.ReadPageView(dir.c_str(), false) != all.GetSize() ||
        view.GetPPNum() != whole.GetPPNum())
        __builtin_trap();
    for (int i = 0; i < view.GetCount(); i++) {
        const CRukBBSData* p = view.RecordAt(i);
        if (!p || Fields(*p) != Fields(all[i]) || strcmp(view.IdAt(i), all[i].id.GetText()) != 0)
            __builtin_trap();
    }
    for (int i = 0; i < all.GetSize() && i < 20; i++) {
        const char* pId = all[i].id.GetText();
        CRukBBSDataAry a, b, c, d;
        if (view.GetDataChildren(a, pId, 1) != whole.GetDataChildren(b, pId, 1) ||
            AllFields(a) != AllFields(b) ||
            view.GetDataParents(c, 3, i) != whole.GetDataParents(d, 3, i) ||
            AllFields(c) != AllFields(d) ||
            view.CheckExistChild(pId) != whole.CheckExistChild(pId))
            __builtin_trap();
        const CRukBBSData* pView = view.GetData(pId);
        const CRukBBSData* pWhole = whole.GetData(pId);
        if (!pView || !pWhole || Fields(*pView) != Fields(*pWhole))
            __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static testutil::TempDir scratch(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    static const std::string in = scratch / "in";
    static const std::string outWhole = scratch / "whole";
    static const std::string outKeys = scratch / "keys";
    for (const std::string* pDir : {&in, &outWhole, &outKeys})
        mkdir(pDir->c_str(), 0700);
    if (!testutil::WriteFile(in + "/bbs-message.dat",
                             std::string(reinterpret_cast<const char*>(data), size)))
        return 0;

    CRukBBSFile bbs;
    if (bbs.ReadPageData(in.c_str(), false) < 0)
        return 0;
    for (int i = 0; i < bbs.m_aryData.GetSize() && i < 20; i++) {
        const CRukBBSData& rec = bbs.m_aryData[i];
        CRukBBSDataAry children, ordered;
        CRukBBSDataAry depth;
        int nPDepth = 0, nDepth = 0;
        // Whole records never fail to complete.
        const char* pId = rec.id.GetText();
        if (bbs.GetDataChildren(children, pId, 1) < 0 ||
            bbs.GetDataRecurs(bbs.m_aryData, ordered, pId) < 0 ||
            bbs.GetDataRecursWithDepth(bbs.m_aryData, depth, pId, nPDepth, nDepth) < 0 ||
            bbs.CheckExistChild(pId) < 0)
            __builtin_trap();
        bbs.GetDataPP(&rec);
    }
    if (bbs.GetPPNum() > bbs.m_aryData.GetSize() || bbs.HasReadFailed())
        __builtin_trap();
    CheckSearch(std::string(reinterpret_cast<const char*>(data), size), in, bbs.m_aryData);

    CRukBBSFile keys;
    if (keys.ReadPageKeys(in.c_str(), false) != bbs.m_aryData.GetSize())
        __builtin_trap();
    for (int i = 0; i < keys.m_aryData.GetSize(); i++) {
        CRukBBSData rec = keys.m_aryData[i];
        if (!keys.Complete(rec) || Fields(rec) != Fields(bbs.m_aryData[i]))
            __builtin_trap();
    }
    CheckView(in, bbs);

    if (bbs.WritePageData(outWhole.c_str(), false) < 0 ||
        keys.WritePageData(outKeys.c_str(), false) < 0)
        return 0;  // the scratch directory is full: nothing to compare
    if (testutil::ReadFile(outWhole + "/bbs-message.dat") !=
        testutil::ReadFile(outKeys + "/bbs-message.dat"))
        __builtin_trap();
    return 0;
}
