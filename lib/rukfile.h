// CRukFlock and CRukFile: the system's access to files.
//
// CRukFlock is an advisory lock taken on a separate lock file with fcntl:
// shared for readers, exclusive for writers. This is the one lock policy
// of the system, for settings files, message files and every other file
// guarded by a lock file:
// - readers never keep each other out;
// - a writer waits for the readers inside to leave, and keeps new readers
//   out while it waits and works (so a steady stream of page views cannot
//   keep a post or a save out for ever);
// - a reader waits while a writer waits or works;
// - nobody waits longer than go.m_nLockWait milliseconds: then the lock is
//   refused (-2) and the request says it is busy.
// The lock file is created with go's file mode when missing and is never
// deleted. Locks are per process: a process must not open and close a lock
// file it already holds through another object, or it loses the lock.
//
// CRukFile is a stdio stream (standard output while no file is open) with
// an optional lock held from Open to Close. WriteFile replaces a file
// atomically: the bytes go to a temporary file in the same directory, which
// is renamed over the old one only when every byte was written.
#ifndef RUKFILE_H
#define RUKFILE_H

#include <cstdio>

#include "rukbuffer.h"
#include "rukstring.h"

class CRukFlock {
public:
    CRukFlock();
    CRukFlock(const CRukFlock&) = delete;
    CRukFlock& operator=(const CRukFlock&) = delete;
    virtual ~CRukFlock();

    // Locks pPath ("lockfile.lock" when null): 0 locked, -1 the lock file
    // cannot be opened, -2 other processes held it past the wait.
    [[nodiscard]] int Lock(const char* pPath, bool bShared = false);
    // 0 released, -1 when no lock was held or the release failed.
    int Unlock();
    bool IsLocked() const { return m_fd >= 0; }

protected:
    // Opens pPath (creating it as Lock does) and keeps the descriptor
    // without locking anything: 0, or -1.
    int Open(const char* pPath);
    // One non-blocking attempt to set nType (F_RDLCK, F_WRLCK, F_UNLCK) on
    // nLen bytes from nStart of the open lock file (0 bytes: to its end and
    // beyond): 0, or -1 when refused.
    int LockRange(short nType, long nStart, long nLen);

private:
    int m_fd;
};

class CRukFile {
public:
    CRukFile();
    CRukFile(const CRukFile&) = delete;
    CRukFile& operator=(const CRukFile&) = delete;
    virtual ~CRukFile();

    // With bLock the lock on pLockPath is taken first: shared for a
    // read-only mode ("r", "rb"), exclusive otherwise.
    [[nodiscard]] int Open(const char* pPath, const char* pMode, bool bLock = false,
             const char* pLockPath = nullptr);
    void Close();
    [[nodiscard]] int Lock(const char* pLockPath, bool bShared = false);
    int Unlock();
    int Seek(long nOffset, int nWhence);
    bool IsOpen() const;
    FILE* GetStream() { return m_fp; }
    const CRukString& GetPath() const { return m_strPath; }

    [[nodiscard]] int WriteFile(const char* pPath, const char* pData, int nLength, bool bLock = false,
                  const char* pLockPath = nullptr);
    [[nodiscard]] int ReadFile(const char* pPath, CRukBuffer& out, bool bLock = false,
                 const char* pLockPath = nullptr);
    CRukBuffer ReadFile(const char* pPath, bool bLock = false,
                        const char* pLockPath = nullptr);

    [[nodiscard]] int WriteBuffer(const char* pData, int nLength);
    [[nodiscard]] int WriteString(const char* pText);
    [[nodiscard]] int WriteFormat(const char* pFormat, ...) __attribute__((format(printf, 2, 3)));
    int ReadBuffer(char* pTo, int n);
    CRukBuffer ReadBuffer(int n);
    int ReadString(char* pTo, int n);
    CRukString ReadString(int n);
    int ReadString(CRukString& line);

    static long GetFileSize(const char* pPath);
    static int GetFileAttr(const char* pPath);

    // Writes pData to a temporary file beside pPath and renames it over
    // pPath. The old file stays byte for byte as it was on any failure.
    // The new file keeps the old file's permissions (or 0666 less the
    // umask for a new file). Returns nLength or -1.
    [[nodiscard]] static int ReplaceFile(const char* pPath, const char* pData, long nLength);

private:
    CRukString m_strPath;
    FILE* m_fp;
    CRukFlock m_lock;
};

#endif
