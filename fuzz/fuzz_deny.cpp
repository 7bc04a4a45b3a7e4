// The access-deny check on a deny list from the input.
#include <cstddef>
#include <cstdint>

#include "fuzzutil.h"
#include "rukbbsformbase.h"
#include "rukglobal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static FuzzFile file;
    static CRukBBSFormBase* pBase = new CRukBBSFormBase;
    std::string path = file.Write(data, size);
    go.m_env.REMOTE_ADDR = "127.0.0.1";  // resolved from the hosts file
    go.m_env.HTTP_VIA = (size > 0 && data[0] & 1) ? "1.1 proxy" : "";
    pBase->AccessDenyCheck(path.c_str());
    return 0;
}
