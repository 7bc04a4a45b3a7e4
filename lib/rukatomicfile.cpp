#include "rukatomicfile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

CRukAtomicFile::CRukAtomicFile() : m_fp(nullptr), m_bFailed(false) {}

CRukAtomicFile::~CRukAtomicFile()
{
    Abort();
}

// The permissions a file created by fopen would get: 0666 less the umask.
static mode_t DefaultMode()
{
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Creates a uniquely named temporary file in the target's directory, with
// the target's permissions (or those of a new file).
int CRukAtomicFile::Open(const char* pPath)
{
    Abort();
    if (!pPath || !*pPath)
        return -1;
    m_strPath = pPath;
    m_strTemp = pPath;
    m_strTemp += ".tmpXXXXXX";
    char* pTemplate = m_strTemp.ReAlloc(m_strTemp.GetLength());
    int fd = mkstemp(pTemplate);
    if (fd < 0) {
        m_strTemp.Free();
        return -1;
    }
    struct stat st;
    mode_t mode = (stat(pPath, &st) == 0) ? (st.st_mode & 07777) : DefaultMode();
    m_fp = fchmod(fd, mode) == 0 ? fdopen(fd, "wb") : nullptr;
    if (!m_fp) {
        close(fd);
        unlink(m_strTemp.GetText());
        m_strTemp.Free();
        return -1;
    }
    m_bFailed = false;
    return 0;
}

int CRukAtomicFile::Write(const char* pData, size_t n)
{
    if (!m_fp)
        return -1;
    if (n > 0 && fwrite(pData, 1, n, m_fp) != n)
        m_bFailed = true;
    return m_bFailed ? -1 : 0;
}

// Flushes the data to disk and renames the temporary file over the
// target; on any failure the target is left as it was.
int CRukAtomicFile::Commit()
{
    if (!m_fp)
        return -1;
    bool bOk = !m_bFailed && !ferror(m_fp) && fflush(m_fp) == 0 && fsync(fileno(m_fp)) == 0;
    if (fclose(m_fp) != 0)
        bOk = false;
    m_fp = nullptr;
    if (bOk && rename(m_strTemp.GetText(), m_strPath.GetText()) == 0) {
        m_strTemp.Free();
        return 0;
    }
    unlink(m_strTemp.GetText());
    m_strTemp.Free();
    return -1;
}

void CRukAtomicFile::Abort()
{
    if (m_fp) {
        fclose(m_fp);
        m_fp = nullptr;
    }
    if (!m_strTemp.IsEmpty()) {
        unlink(m_strTemp.GetText());
        m_strTemp.Free();
    }
}
