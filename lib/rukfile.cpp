#include "rukfile.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "rukatomicfile.h"
#include "rukglobal.h"

CRukFlock::CRukFlock() : m_fd(-1) {}

CRukFlock::~CRukFlock()
{
    Unlock();
}

// Opens the lock file, creating it with go's file mode when it is missing.
int CRukFlock::Open(const char* pPath)
{
    if (!pPath || !*pPath)
        pPath = "lockfile.lock";
    Unlock();
    struct stat st;
    if (stat(pPath, &st) != 0) {
        int fd = open(pPath, O_WRONLY | O_CREAT | O_CLOEXEC, go.m_nFileMode);
        if (fd < 0)
            return -1;
        close(fd);
        chmod(pPath, go.m_nFileMode);
    }
    m_fd = open(pPath, O_RDWR | O_CLOEXEC);
    return m_fd < 0 ? -1 : 0;
}

int CRukFlock::LockRange(short nType, long nStart, long nLen)
{
    struct flock fl;
    memset(&fl, 0, sizeof(fl));
    fl.l_type = nType;
    fl.l_whence = SEEK_SET;
    fl.l_start = nStart;
    fl.l_len = nLen;
    return fcntl(m_fd, F_SETLK, &fl) == 0 ? 0 : -1;
}

// Byte 0 of a lock file guards the data. Byte 1 is a gate: a reader
// passes it (shared) on the way in, a writer closes it (exclusive) while it
// waits for the readers inside to leave and while it works.
static const long s_nDataByte = 0;
static const long s_nGateByte = 1;

// Pause between two attempts while another process holds the lock.
static const useconds_t s_nLockPollUs = 3000;

// Takes the lock as the header describes, waiting up to go.m_nLockWait
// milliseconds for other processes.
int CRukFlock::Lock(const char* pPath, bool bShared)
{
    if (Open(pPath) != 0)
        return -1;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(go.m_nLockWait);
    auto take = [&](short nType, long nByte) {
        for (;;) {
            if (LockRange(nType, nByte, 1) == 0)
                return true;
            if (std::chrono::steady_clock::now() >= deadline)
                return false;
            usleep(s_nLockPollUs);
        }
    };
    bool bLocked;
    if (bShared) {
        bLocked = take(F_RDLCK, s_nGateByte) && take(F_RDLCK, s_nDataByte);
        if (bLocked)
            (void)LockRange(F_UNLCK, s_nGateByte, 1);  // the gate is only passed
    } else {
        bLocked = take(F_WRLCK, s_nGateByte) && take(F_WRLCK, s_nDataByte);
    }
    if (!bLocked) {
        // refused: keep no descriptor, so that IsLocked tells the truth
        (void)Unlock();
        return -2;
    }
    return 0;
}

int CRukFlock::Unlock()
{
    if (m_fd < 0)
        return -1;
    struct flock fl;
    memset(&fl, 0, sizeof(fl));
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    int r = fcntl(m_fd, F_SETLK, &fl);
    if (close(m_fd) != 0)
        r = -1;
    m_fd = -1;
    return r == 0 ? 0 : -1;
}

CRukFile::CRukFile() : m_fp(stdout) {}

CRukFile::~CRukFile()
{
    Close();
    Unlock();
}

static bool IsStandardStream(FILE* fp)
{
    return fp == stdout || fp == stdin || fp == stderr;
}

bool CRukFile::IsOpen() const
{
    return m_fp && !IsStandardStream(m_fp);
}

// A mode that only reads ("r", "rb") takes the lock shared.
static bool IsReadOnlyMode(const char* pMode)
{
    return pMode && pMode[0] == 'r' && !strchr(pMode, '+');
}

int CRukFile::Open(const char* pPath, const char* pMode, bool bLock, const char* pLockPath)
{
    Close();
    if (bLock) {
        int r = Lock(pLockPath, IsReadOnlyMode(pMode));
        if (r != 0) {
            Unlock();
            return r == -1 ? -1 : -2;
        }
    }
    FILE* fp = (pPath && pMode) ? fopen(pPath, pMode) : nullptr;
    if (!fp) {
        Unlock();
        return -1;
    }
    m_fp = fp;
    m_strPath = pPath;
    return 0;
}

void CRukFile::Close()
{
    if (!IsOpen())
        return;
    fclose(m_fp);
    m_fp = stdout;
    m_strPath.Free();
    Unlock();
}

int CRukFile::Lock(const char* pLockPath, bool bShared)
{
    m_lock.Unlock();
    return m_lock.Lock(pLockPath, bShared);
}

int CRukFile::Unlock()
{
    return m_lock.Unlock();
}

int CRukFile::Seek(long nOffset, int nWhence)
{
    if (!IsOpen())
        return -1;
    return fseek(m_fp, nOffset, nWhence);
}

// Replaces pPath with nLength bytes of pData, atomically, under the lock
// when asked. Returns nLength, -1 when the file cannot be written (the old
// file then stays as it was) or the lock result.
int CRukFile::WriteFile(const char* pPath, const char* pData, int nLength, bool bLock,
                        const char* pLockPath)
{
    Close();
    if (bLock) {
        int r = Lock(pLockPath, false);
        if (r != 0) {
            Unlock();
            return r;
        }
    }
    if (!pData || nLength < 0)
        nLength = 0;  // nothing to write: the file becomes empty
    int r = ReplaceFile(pPath, pData, nLength);
    Unlock();
    return r < 0 ? -1 : nLength;
}

int CRukFile::ReadFile(const char* pPath, CRukBuffer& out, bool bLock, const char* pLockPath)
{
    out.Free();
    int r = Open(pPath, "rb", bLock, pLockPath);
    if (r != 0)
        return r;
    // The size of the file really opened: the path may have been replaced
    // since. A file too large for the int result is refused.
    struct stat st;
    if (fstat(fileno(m_fp), &st) != 0 || st.st_size > INT_MAX) {
        Close();
        return -1;
    }
    long nSize = static_cast<long>(st.st_size);
    int nRead = 0;
    if (nSize > 0) {
        char* p = out.Alloc(static_cast<unsigned>(nSize));
        size_t n = fread(p, 1, nSize, m_fp);
        if (n != static_cast<size_t>(nSize)) {
            out.ReAlloc(static_cast<unsigned>(n));
            Close();
            return -1;
        }
        nRead = static_cast<int>(n);
    }
    Close();
    return nRead;
}

CRukBuffer CRukFile::ReadFile(const char* pPath, bool bLock, const char* pLockPath)
{
    CRukBuffer out;
    // This form is for callers that take any failure as an empty file;
    // the other form tells which.
    (void)ReadFile(pPath, out, bLock, pLockPath);
    return out;
}

int CRukFile::WriteBuffer(const char* pData, int nLength)
{
    if (!pData || nLength <= 0)
        return 0;
    size_t n = fwrite(pData, 1, nLength, m_fp);
    return n == static_cast<size_t>(nLength) ? nLength : -1;
}

int CRukFile::WriteString(const char* pText)
{
    if (!pText)
        return 0;
    if (fputs(pText, m_fp) < 0)
        return -1;
    return static_cast<int>(strlen(pText));
}

int CRukFile::WriteFormat(const char* pFormat, ...)
{
    va_list args;
    va_start(args, pFormat);
    int r = pFormat ? vfprintf(m_fp, pFormat, args) : 0;
    va_end(args);
    return r;
}

int CRukFile::ReadBuffer(char* pTo, int n)
{
    if (!pTo || n <= 0)
        return 0;
    size_t r = fread(pTo, 1, n, m_fp);
    if (r == 0)
        return ferror(m_fp) ? -1 : 0;
    return static_cast<int>(r);
}

CRukBuffer CRukFile::ReadBuffer(int n)
{
    CRukBuffer out;
    if (n > 0) {
        char* p = out.Alloc(static_cast<unsigned>(n));
        size_t r = fread(p, 1, n, m_fp);
        (void)r;  // bytes that were not read stay zero
    }
    return out;
}

int CRukFile::ReadString(char* pTo, int n)
{
    if (!pTo || n <= 0)
        return 0;
    if (fgets(pTo, n, m_fp))
        return 1;
    return ferror(m_fp) ? -1 : 0;
}

CRukString CRukFile::ReadString(int n)
{
    CRukString str;
    if (n > 0) {
        char* p = str.Alloc(n);
        if (!fgets(p, n + 1, m_fp))
            str.Free();
    }
    return str;
}

// Reads one whole line of any length, including its line feed.
int CRukFile::ReadString(CRukString& line)
{
    line.Free();
    char sz[2049];
    int r = 0;
    for (;;) {
        r = ReadString(sz, sizeof(sz));
        if (r != 1)
            break;
        size_t n = strlen(sz);
        line.Append(sz, static_cast<int>(n));
        if (n > 0 && sz[n - 1] == '\n')
            break;
    }
    return line.IsEmpty() ? r : 1;
}

long CRukFile::GetFileSize(const char* pPath)
{
    struct stat st;
    if (!pPath || stat(pPath, &st) != 0)
        return -1;
    return static_cast<long>(st.st_size);
}

int CRukFile::GetFileAttr(const char* pPath)
{
    struct stat st;
    if (!pPath || stat(pPath, &st) != 0)
        return -1;
    return static_cast<int>(st.st_mode);
}

int CRukFile::ReplaceFile(const char* pPath, const char* pData, long nLength)
{
    CRukAtomicFile file;
    if (file.Open(pPath) != 0)
        return -1;
    if (nLength > 0 && file.Write(pData, nLength) != 0)
        return -1;
    if (file.Commit() != 0)
        return -1;
    return static_cast<int>(nLength);
}
