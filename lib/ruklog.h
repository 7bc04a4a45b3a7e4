// CRukLog: the trace log. Each line is appended to the log file as
// "yyyy/mm/dd hh:mm:ss.mmm, pid, text" when tracing is enabled and the
// line's verbosity is within the limit; an unwritable log loses the line.
#ifndef RUKLOG_H
#define RUKLOG_H

#include <cstdarg>

#include "rukstring.h"

class CRukLog {
public:
    CRukLog();
    virtual ~CRukLog() = default;

    void Initialize(const char* pPath);
    void SetEnabled(int nEnabled) { m_nEnabled = nEnabled; }
    int GetEnabled() const { return m_nEnabled; }
    const CRukString& GetPath() const { return m_strPath; }
    // True when a line of the default verbosity would be written.
    bool IsActive() const { return m_nEnabled && !m_strPath.IsEmpty() && m_nDefault <= m_nLimit; }

    void Trace(const char* pFormat, ...) __attribute__((format(printf, 2, 3)));
    void Trace(int nVerbosity, const char* pFormat, ...) __attribute__((format(printf, 3, 4)));

private:
    void Write(int nVerbosity, const char* pFormat, va_list args);

    CRukString m_strPath;
    int m_nEnabled;
    int m_nLimit;
    int m_nDefault;
};

#endif
