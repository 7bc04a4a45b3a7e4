#include "rukglobal.h"

#include <malloc.h>

// A request is one short process that builds its page in a few large
// strings: the memory they free is kept for the next ones (never handed
// back to the system, which would hand fresh pages again, each a page
// fault), and the heap grows in steps of 4 MiB.
static void KeepFreedMemory()
{
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    mallopt(M_TOP_PAD, 4 << 20);
}

CRukGlobal::CRukGlobal() : m_strSendmail("sendmail"), m_nFileMode(0666), m_nDirMode(0777), m_nLockWait(10000)
{
    KeepFreedMemory();
    m_env.GetEnv();
}

CRukGlobal go;
