// The message file reader and the tree queries on what it read; a write
// of the records reads back with the same fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzzutil.h"
#include "rukbbsdata.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static FuzzFile file;
    std::string path = file.Write(data, size);
    CRukBBSFile bbs;
    if (bbs.ReadFile(bbs.m_aryData, path.c_str(), false) < 0)
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
    return 0;
}
