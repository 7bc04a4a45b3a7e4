// Template reading with the common tags and the cutting and putting back
// of the board template's blocks.
#include <cstddef>
#include <cstdint>

#include "fuzzutil.h"
#include "rukbbsformmain.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static FuzzFile file;
    std::string path = file.Write(data, size);
    CRukBBSFormMain bbs;
    bbs.m_strSkinUrl = "/skin/";
    bbs.m_strBBSID = "b";
    CRukString page = bbs.GetTemplate(path.c_str());
    CRukString input, nav, tparent, tchild, iparent, ichild, fword, fresult;
    bbs.GetTemplateBlock(page, input, nav, tparent, tchild, iparent, ichild, fword, fresult);
    CRukString table = tparent, title = iparent;
    bbs.PutRealizeBlock(page, input, nav, table, title);
    return 0;
}
