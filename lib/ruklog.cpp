#include "ruklog.h"

#include <cstdio>
#include <sys/stat.h>
#include <sys/time.h>
#include <ctime>
#include <unistd.h>

#include "rukglobal.h"

CRukLog::CRukLog() : m_nEnabled(1), m_nLimit(10), m_nDefault(0) {}

void CRukLog::Initialize(const char* pPath)
{
    if (pPath)
        m_strPath = pPath;
}

void CRukLog::Trace(const char* pFormat, ...)
{
    va_list args;
    va_start(args, pFormat);
    Write(m_nDefault, pFormat, args);
    va_end(args);
}

void CRukLog::Trace(int nVerbosity, const char* pFormat, ...)
{
    va_list args;
    va_start(args, pFormat);
    Write(nVerbosity, pFormat, args);
    va_end(args);
}

// Appends one line: local time with milliseconds, the process id and the
// caller's text. The caller's format is embedded in the line format and
// expanded once, by the second pass.
void CRukLog::Write(int nVerbosity, const char* pFormat, va_list args)
{
    if (!m_nEnabled || nVerbosity > m_nLimit || m_strPath.IsEmpty() || !pFormat)
        return;
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    time_t t = tv.tv_sec;
    struct tm tmNow;
    localtime_r(&t, &tmNow);
    CRukString line;
    line.Format("%04d/%02d/%02d %02d:%02d:%02d.%03d, %u, %s\n", tmNow.tm_year + 1900,
                tmNow.tm_mon + 1, tmNow.tm_mday, tmNow.tm_hour, tmNow.tm_min, tmNow.tm_sec,
                static_cast<int>(tv.tv_usec / 1000), static_cast<unsigned>(getpid()), pFormat);
    FILE* fp = fopen(m_strPath.GetText(), "a+");
    if (!fp)
        return;
    vfprintf(fp, line.GetText(), args);
    fclose(fp);
    chmod(m_strPath.GetText(), go.m_nFileMode);
}
