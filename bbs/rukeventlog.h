// CRukEventLog: a small file of recent events by key, for the limits that
// must hold across requests: posts per client address, failed password
// checks per client address, notice mails per recipient.
//
// File format: one event per line, "SECONDS KEY\n", SECONDS the time of the
// event (decimal, since the epoch) and KEY percent-encoded (no blank, no
// line feed). Lines in any other form are dropped when read. Saving keeps
// only the events younger than the log's keeping time, so the file never
// grows past what the limits look at. It is replaced whole (temporary file
// and rename) and lives beside other private files of the site; web
// servers refuse it.
//
// Locking: a log that is written on its own is guarded by a lock file of
// its own, named when the log is made; Load(true) takes it exclusively and
// the log holds it until it is destroyed. A log written as part of another
// write (the posting rate beside a board's message file, under the board
// lock) is made without a lock file and loaded with false.
#ifndef RUKEVENTLOG_H
#define RUKEVENTLOG_H

#include <ctime>
#include <string>
#include <vector>

#include "rukfile.h"
#include "rukstring.h"

class CRukEventLog {
public:
    // pPath: the log file; nKeep: seconds an event is kept; pLockPath: its
    // lock file, or null when the caller guards the log.
    CRukEventLog(const char* pPath, long nKeep, const char* pLockPath = nullptr);
    CRukEventLog(const CRukEventLog&) = delete;
    CRukEventLog& operator=(const CRukEventLog&) = delete;
    virtual ~CRukEventLog() = default;

    // Reads the log (a missing file holds no event), with its lock when
    // asked: 0, -1 (the lock file or the log cannot be opened, or there is
    // no lock file to take), -2 (the lock stayed busy).
    [[nodiscard]] int Load(bool bLock);
    // Events of pKey no older than nWindow seconds before now.
    int Count(const char* pKey, long nWindow, time_t now) const;
    // The time of the latest event of pKey, or 0.
    time_t Latest(const char* pKey) const;
    // The time of the oldest event of pKey no older than nWindow seconds
    // before now, or 0.
    time_t Oldest(const char* pKey, long nWindow, time_t now) const;
    void Add(const char* pKey, time_t now);
    // Writes the events kept at now: 0, or -1 (the old file stays).
    [[nodiscard]] int Save(time_t now);

private:
    struct SEvent {
        time_t at;
        std::string key;  // percent-encoded as in the file
    };
    static std::string Encode(const char* pKey);

    CRukString m_strPath;
    long m_nKeep;
    CRukString m_strLockPath;
    std::vector<SEvent> m_events;
    CRukFlock m_lock;
};

#endif
