// CRukLog: the trace log. Each line is appended to the log file as
// "yyyy/mm/dd hh:mm:ss.mmm, pid, text" when tracing is enabled and the
// line's verbosity is within the limit; an unwritable log loses the line.
//
// The log is private whatever mode the site gives its other files: it is
// created readable and writable by its owner only, a log found with a
// wider mode is narrowed to that, and a symbolic link in its place is not
// followed. Secrets never reach it: the helpers below mask the values of
// password-like form fields and of cookies for the callers that trace
// request data.
#ifndef RUKLOG_H
#define RUKLOG_H

#include <cstdarg>

#include "rukstring.h"

class CRukLog {
public:
    // The mode of the log file.
    static const int s_nLogMode = 0600;
    // What a trace line shows in place of a secret.
    static const char* const s_pMask;

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

    // True for a field whose value is a secret: passwd, passwd2, passwd3,
    // wpasswd, admin_passwd, token, and any name holding "passwd" or
    // "password" (letter case ignored).
    static bool IsSecretName(const char* pName);
    // A Cookie header with every value masked and the names kept.
    static CRukString MaskCookies(const char* pHeader);
    // A query string with the values of secret fields masked (their names
    // percent-decoded to be judged).
    static CRukString MaskQuery(const char* pText);
    // A URL with the values of secret fields of its query masked.
    static CRukString MaskUrl(const char* pText);
    // At most nMax bytes of the data for a trace line, control bytes
    // written as \xNN so that a value cannot forge a line; "..." marks a
    // cut.
    static CRukString Printable(const char* pData, unsigned nSize, unsigned nMax);

private:
    void Write(int nVerbosity, const char* pFormat, va_list args);

    CRukString m_strPath;
    int m_nEnabled;
    int m_nLimit;
    int m_nDefault;
};

#endif
