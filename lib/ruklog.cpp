#include "ruklog.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

// Field names whose values are secrets, besides any holding "passwd" or
// "password".
const char* const s_rgSecretNames[] = {"token"};

// The pieces of pText separated by cSep, each passed through
// mask(piece, length, out), which appends the piece as it should appear.
template <class Mask>
CRukString EachPiece(const char* pText, char cSep, Mask mask)
{
    CRukString out;
    const char szSep[2] = {cSep, 0};
    for (const char* p = pText;;) {
        const char* pEnd = strchr(p, cSep);
        size_t n = pEnd ? static_cast<size_t>(pEnd - p) : strlen(p);
        mask(p, n, out);
        if (!pEnd)
            break;
        out += szSep;
        p = pEnd + 1;
    }
    return out;
}

// "yyyy/mm/dd hh:mm:ss.mmm, pid, " for the present moment.
CRukString LinePrefix()
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    time_t t = tv.tv_sec;
    struct tm tmNow;
    localtime_r(&t, &tmNow);
    CRukString prefix;
    prefix.Format("%04d/%02d/%02d %02d:%02d:%02d.%03d, %u, ", tmNow.tm_year + 1900,
                  tmNow.tm_mon + 1, tmNow.tm_mday, tmNow.tm_hour, tmNow.tm_min, tmNow.tm_sec,
                  static_cast<int>(tv.tv_usec / 1000), static_cast<unsigned>(getpid()));
    return prefix;
}

// Writes all n bytes, going on after a short write or a signal; a line the
// log cannot take is lost, as the header says.
void WriteAll(int fd, const char* p, size_t n)
{
    while (n > 0) {
        ssize_t r = write(fd, p, n);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return;
        p += r;
        n -= static_cast<size_t>(r);
    }
}

}  // namespace

const char* const CRukLog::s_pMask = "********";

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
// caller's text, expanded whole however long. The line goes to the file in
// one write, so that lines of requests running at the same time do not mix
// in the middle. The file is opened without following a symbolic link,
// must be a plain file, and is kept at s_nLogMode.
void CRukLog::Write(int nVerbosity, const char* pFormat, va_list args)
{
    if (!m_nEnabled || nVerbosity > m_nLimit || m_strPath.IsEmpty() || !pFormat)
        return;
    CRukString line = LinePrefix();
    CRukString text;
    text.FormatV(pFormat, args);
    line += text;
    line += "\n";
    int fd = open(m_strPath.GetText(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC,
                  s_nLogMode);
    if (fd < 0)
        return;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return;
    }
    if ((st.st_mode & 07777) != s_nLogMode && fchmod(fd, s_nLogMode) != 0 && (st.st_mode & 077)) {
        close(fd);  // still readable by others: write nothing into it
        return;
    }
    WriteAll(fd, line.GetText(), static_cast<size_t>(line.GetLength()));
    close(fd);
}

bool CRukLog::IsSecretName(const char* pName)
{
    if (!pName)
        return false;
    if (strcasestr(pName, "passwd") || strcasestr(pName, "password"))
        return true;
    for (const char* pSecret : s_rgSecretNames)
        if (strcasecmp(pName, pSecret) == 0)
            return true;
    return false;
}

// Pieces at "; ": each name stays, each value becomes the mask; a piece
// without "=" is all value.
CRukString CRukLog::MaskCookies(const char* pHeader)
{
    return EachPiece(pHeader ? pHeader : "", ';', [](const char* p, size_t n, CRukString& o) {
        const char* pEq = static_cast<const char*>(memchr(p, '=', n));
        size_t nKeep = pEq ? static_cast<size_t>(pEq - p) + 1 : strspn(p, " ");
        if (nKeep > n)
            nKeep = n;
        o.Append(p, static_cast<int>(nKeep));
        if (pEq || nKeep < n)
            o += s_pMask;
    });
}

// "name=value&..." pieces; a secret name keeps its "=" and gets the mask.
CRukString CRukLog::MaskQuery(const char* pText)
{
    return EachPiece(pText ? pText : "", '&', [](const char* q, size_t n, CRukString& o) {
        const char* pEq = static_cast<const char*>(memchr(q, '=', n));
        CRukString name;
        if (pEq)
            name.Append(q, static_cast<int>(strnlen(q, static_cast<size_t>(pEq - q))));
        if (pEq && IsSecretName(name.PerHexToChar().GetText())) {
            o.Append(q, static_cast<int>(pEq - q + 1));
            o += s_pMask;
        } else {
            o.Append(q, static_cast<int>(n));
        }
    });
}

// The URL up to its first "?" as it is, the query after it masked.
CRukString CRukLog::MaskUrl(const char* pText)
{
    const char* p = pText ? pText : "";
    const char* pQuery = strchr(p, '?');
    if (!pQuery)
        return CRukString(p);
    CRukString out;
    out.Append(p, static_cast<int>(pQuery - p) + 1);
    out += MaskQuery(pQuery + 1);
    return out;
}

CRukString CRukLog::Printable(const char* pData, unsigned nSize, unsigned nMax)
{
    CRukString out;
    unsigned n = nSize < nMax ? nSize : nMax;
    out.Reserve(static_cast<int>(n) + 3);
    for (unsigned i = 0; i < n; i++) {
        unsigned char c = static_cast<unsigned char>(pData[i]);
        if (c < 0x20 || c == 0x7F) {
            char sz[8];
            snprintf(sz, sizeof(sz), "\\x%02X", c);
            out.Append(sz, 4);
        } else {
            out.Append(pData + i, 1);
        }
    }
    if (nSize > nMax)
        out += "...";
    return out;
}
