// The message file reader and the tree queries on what it read. Loading by
// keys must agree with loading whole: every record completes to the same
// fields, and writing the board back from its keys (which copies stored
// lines it judges already in written form) gives the same bytes as
// writing the parsed records.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "../tests/unit/testutil.h"
#include "rukbbsdata.h"

namespace {

// Every field of a record as one text.
std::string Fields(const CRukBBSData& r)
{
    std::string s;
    for (const CRukString* f : {&r.id, &r.pid, &r.ppid, &r.date, &r.name, &r.mail, &r.home,
                                &r.title, &r.mess, &r.passwd, &r.resmail, &r.preform, &r.icon}) {
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
        bbs.GetDataChildren(children, rec.id.GetText(), 1);
        bbs.GetDataRecurs(bbs.m_aryData, ordered, rec.id.GetText());
        CRukBBSDataAry depth;
        int nPDepth = 0, nDepth = 0;
        bbs.GetDataRecursWithDepth(bbs.m_aryData, depth, rec.id.GetText(), nPDepth, nDepth);
        bbs.GetDataPP(&rec);
        bbs.CheckExistChild(rec.id.GetText());
    }
    bbs.GetPPNum();

    CRukBBSFile keys;
    if (keys.ReadPageKeys(in.c_str(), false) != bbs.m_aryData.GetSize())
        __builtin_trap();
    for (int i = 0; i < keys.m_aryData.GetSize(); i++) {
        CRukBBSData rec = keys.m_aryData[i];
        if (!keys.Complete(rec) || Fields(rec) != Fields(bbs.m_aryData[i]))
            __builtin_trap();
    }
    bbs.WritePageData(outWhole.c_str(), false);
    keys.WritePageData(outKeys.c_str(), false);
    if (testutil::ReadFile(outWhole + "/bbs-message.dat") !=
        testutil::ReadFile(outKeys + "/bbs-message.dat"))
        __builtin_trap();
    return 0;
}
