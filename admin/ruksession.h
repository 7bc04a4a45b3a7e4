// CRukSession: the logins of the administration program. A login starts a
// session: a random token of 256 bits (getrandom) that the browser keeps in
// a cookie and the server keeps only as a hash, the scope the login opened
// ("*" for the administrator, otherwise one board id) and a form token that
// every form of the session sends back, so that no other site can make a
// logged-in browser act.
//
// File format ("dat-session.dat" in the site directory), one session a line:
//   "LAST CREATED SCOPE FORM HASH\n"
// LAST and CREATED are the decimal seconds since the epoch of the session's
// latest request and of its login; SCOPE is "*" or a board id; FORM is the
// form token (64 hex digits); HASH is the cookie token's code. Lines in any
// other form are dropped when read. A session ends after two hours without
// a request, twelve hours after its login, at its logout, or when the
// password of its scope changes; ended sessions are dropped whenever the
// file is written. The file is replaced whole (temporary file and rename)
// under its own lock file "dat-session.lock"; it is created readable by its
// owner only, and web servers refuse both files.
//
// The hash is libcrypt's SHA-256 crypt ("$5$") with its least number of
// rounds (1000) and one fixed salt: a token of 256 random bits needs no
// slowness against guessing and no salt against tables, only a one-way
// function from a well-kept library, so that the file read by someone else
// opens no session. The fixed salt lets one hash per request find the
// session; it costs about a millisecond.
#ifndef RUKSESSION_H
#define RUKSESSION_H

#include <ctime>
#include <string>
#include <vector>

#include "rukfile.h"
#include "rukstring.h"

class CRukSession {
public:
    // Seconds a session lives without a request, and at most.
    static constexpr long s_nIdle = 2 * 3600;
    static constexpr long s_nLifetime = 12 * 3600;
    // The session's latest request is written at most this often.
    static constexpr long s_nRefresh = 60;
    // Sessions kept at most; the least recently used go first.
    static constexpr size_t s_nMaxSessions = 200;
    // Hex digits of a cookie token and of a form token.
    static constexpr int s_nTokenDigits = 64;
    // The scope of the administrator's login.
    static const char* const s_pAdminScope;

    explicit CRukSession(const char* pPath = "dat-session.dat",
                         const char* pLockPath = "dat-session.lock");
    CRukSession(const CRukSession&) = delete;
    CRukSession& operator=(const CRukSession&) = delete;
    virtual ~CRukSession() = default;

    // Looks up the live session of a cookie token at now and notes the
    // request in it: 0 found (Scope and FormToken are set), 1 no live
    // session has that token, -1 the file cannot be read, -2 busy.
    [[nodiscard]] int Find(const char* pToken, time_t now);
    // Starts a session of pScope: 0 (Token, Scope and FormToken are set),
    // -1 no random bytes or the file cannot be written, -2 busy.
    [[nodiscard]] int Start(const char* pScope, time_t now);
    // Ends the session of a cookie token: 0, -1, -2.
    [[nodiscard]] int End(const char* pToken, time_t now);
    // Ends every session of pScope: 0, -1, -2.
    [[nodiscard]] int EndScope(const char* pScope, time_t now);

    const CRukString& Token() const { return m_strToken; }
    const CRukString& Scope() const { return m_strScope; }
    const CRukString& FormToken() const { return m_strForm; }

    // nBytes random bytes from getrandom as lower-case hex digits, or the
    // empty string when the kernel gives none.
    static CRukString RandomHex(size_t nBytes);
    // True for a token as RandomHex makes them: s_nTokenDigits lower-case
    // hex digits.
    static bool IsTokenText(const char* pText);
    // True when both texts are equal; the time taken depends only on
    // their lengths, never on where they differ.
    static bool IsSameText(const char* pA, const char* pB);

private:
    struct SEntry {
        time_t last;
        time_t created;
        std::string scope;
        std::string form;
        std::string hash;
    };

    // Takes the lock and reads the sessions: 0, -1, -2.
    int Load(bool bShared);
    // Writes the live sessions at now (the lock is held): 0, or -1.
    int Save(time_t now);
    bool IsLive(const SEntry& e, time_t now) const;
    // The entry of a token's hash that is live at now, or null.
    SEntry* Lookup(const std::string& hash, time_t now);
    // The stored code of a cookie token (empty when libcrypt fails).
    static std::string Hash(const char* pToken);

    CRukString m_strPath;
    CRukString m_strLockPath;
    std::vector<SEntry> m_entries;
    CRukFlock m_lock;
    CRukString m_strToken;
    CRukString m_strScope;
    CRukString m_strForm;
};

#endif
