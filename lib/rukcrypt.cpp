// CRukCrypt: making and checking password codes. New codes come from
// libcrypt (crypt_gensalt_rn and crypt_rn) with salt bytes from getrandom;
// stored crypt codes are checked only after their cost is found bounded, so
// that a code planted in a message file cannot make each check take seconds
// and gigabytes. The old table scheme lives on here only to verify codes
// that installed boards still hold.
#include "rukcrypt.h"

#include <crypt.h>
#include <sys/random.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "rukglobal.h"

namespace {

// The methods of new codes, the first that libcrypt offers at run time.
// Cost measured on this machine (2 cores) with crypt_rn, best and mean of
// ten checks, and the peak memory of the process:
//   yescrypt count 4:  8.2 ms /  8.4 ms,  11 MB
//   yescrypt count 5: 16.9 ms / 17.5 ms,  19 MB   <- chosen
//   yescrypt count 6: 34.2 ms / 39.1 ms,  36 MB
//   yescrypt count 7: 68.5 ms / 70.5 ms,  69 MB
//   bcrypt cost 8: 11.7 ms, 9: 23.2 ms, 10: 45.9 ms, 11: 92.5 ms
// A request that deletes or edits a message checks two codes (the board's
// and the message's) and a flood of such requests shares two cores, so the
// lower end of 10-50 ms is taken: yescrypt count 5 (libcrypt's own default),
// and bcrypt cost 9 of the same order.
struct NewMethod {
    const char* pPrefix;
    unsigned long nCount;
};
const NewMethod s_rgNewMethods[] = {
    {"$y$", 5},   // yescrypt
    {"$2b$", 9},  // bcrypt, only where libcrypt lacks yescrypt
};

// The crypt methods a stored code may use, each with the highest cost that
// is checked. Higher costs are refused: old message files may hold codes
// that visitors chose (the old scheme stored "*code*" typed as a password
// unchanged), and one check must stay within a few times a normal one.
enum CostRule {
    COST_FIXED,    // the method has no cost parameter
    COST_GENSALT,  // the code starts with what crypt_gensalt makes for a count up to nMax
    COST_ROUNDS,   // "rounds=N$" after the prefix, N up to nMax, or none (5000)
};
struct KnownMethod {
    const char* pPrefix;
    CostRule nRule;
    unsigned long nMax;
};
const KnownMethod s_rgKnownMethods[] = {
    {"$y$", COST_GENSALT, 7},   {"$gy$", COST_GENSALT, 7},      // about 70 ms
    {"$2b$", COST_GENSALT, 11}, {"$2a$", COST_GENSALT, 11},     // about 90 ms
    {"$2y$", COST_GENSALT, 11},
    {"$6$", COST_ROUNDS, 400000}, {"$5$", COST_ROUNDS, 400000},  // about 80 ms
    {"$1$", COST_FIXED, 0},
};

// Bytes of salt for a new code: 128 bits.
const int s_nSaltBytes = 16;
// libcrypt refuses longer passphrases; the bytes after these are ignored.
const size_t s_nMaxPassphrase = CRYPT_MAX_PASSPHRASE_SIZE - 1;
// An old code is a two-character salt and at most eight code characters;
// the shortest ("++" for an empty password) has four.
const int s_nOldCodeMin = 4;
const int s_nOldCodeMax = 10;
// The stored form when no code could be made: no password matches it.
const char* const s_pLockedCode = "*!*";
// The characters of a crypt code after its method prefix.
const char* const s_pCodeChars =
    "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz$";

bool StartsWith(const char* pText, const char* pPrefix)
{
    return strncmp(pText, pPrefix, strlen(pPrefix)) == 0;
}

// Whether two byte strings are equal, in a time that depends only on the
// length of b (the stored side), not on where they first differ.
bool ConstantTimeEqual(const char* a, size_t na, const char* b, size_t nb)
{
    unsigned char diff = na != nb;
    for (size_t i = 0; i < nb; i++)
        diff |= static_cast<unsigned char>((i < na ? a[i] : 0) ^ b[i]);
    return diff == 0;
}

bool ConstantTimeEqual(const char* a, const char* b)
{
    return ConstantTimeEqual(a, strlen(a), b, strlen(b));
}

// Fills pBuf with n bytes from the kernel's random source.
bool FillRandom(char* pBuf, size_t n)
{
    size_t nDone = 0;
    while (nDone < n) {
        ssize_t r = getrandom(pBuf + nDone, n - nDone, 0);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        nDone += static_cast<size_t>(r);
    }
    return true;
}

// The setting crypt_gensalt makes for a method and cost from the given
// salt bytes (or from the operating system's when pBytes is null); empty
// when libcrypt does not offer the method or cost.
std::string Gensalt(const char* pPrefix, unsigned long nCount, const char* pBytes, int nBytes)
{
    char sz[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!crypt_gensalt_rn(pPrefix, nCount, pBytes, nBytes, sz, sizeof(sz)))
        return std::string();
    return sz;
}

// The method and cost part of a setting: up to its last "$" (the salt
// follows it in every method with a cost).
std::string ParamsOf(const std::string& setting)
{
    size_t n = setting.rfind('$');
    return n == std::string::npos ? std::string() : setting.substr(0, n + 1);
}

// The method and cost part of the settings crypt_gensalt makes for a
// method and cost, from fixed salt bytes; empty where not offered.
std::string GensaltParams(const char* pPrefix, unsigned long nCount)
{
    const char rgFixed[s_nSaltBytes] = {};
    return ParamsOf(Gensalt(pPrefix, nCount, rgFixed, sizeof(rgFixed)));
}

// The method of new codes: its table entry and the method and cost part of
// its codes ("$y$j9T$"). Decided once per process.
struct CurrentMethod {
    const NewMethod* pMethod = nullptr;
    std::string params;
};

const CurrentMethod& Current()
{
    static const CurrentMethod current = [] {
        CurrentMethod c;
        for (const auto& m : s_rgNewMethods) {
            c.params = GensaltParams(m.pPrefix, m.nCount);
            if (!c.params.empty()) {
                c.pMethod = &m;
                break;
            }
        }
        return c;
    }();
    return current;
}

// A fresh setting for a new code: the current method and cost and salt
// bytes from getrandom; should getrandom fail, libcrypt takes them from the
// operating system itself. Empty when neither works.
std::string NewSetting()
{
    const CurrentMethod& current = Current();
    if (!current.pMethod)
        return std::string();
    const NewMethod& m = *current.pMethod;
    char rgBytes[s_nSaltBytes];
    std::string setting;
    if (FillRandom(rgBytes, sizeof(rgBytes)))
        setting = Gensalt(m.pPrefix, m.nCount, rgBytes, sizeof(rgBytes));
    else
        setting = Gensalt(m.pPrefix, m.nCount, nullptr, 0);
    explicit_bzero(rgBytes, sizeof(rgBytes));
    return setting;
}

// The crypt code of pPassword under pSetting (a setting or a whole stored
// code); empty when libcrypt refuses the setting. The password's copies are
// cleared before returning.
std::string CryptCode(const char* pPassword, const char* pSetting)
{
    std::string phrase(pPassword, strnlen(pPassword, s_nMaxPassphrase));
    auto data = std::make_unique<crypt_data>();
    const char* pCode = crypt_rn(phrase.c_str(), pSetting, data.get(), sizeof(crypt_data));
    std::string code = pCode ? pCode : "";
    explicit_bzero(&phrase[0], phrase.size());
    explicit_bzero(data.get(), sizeof(crypt_data));
    return code;
}

// Whether a "rounds=N$" field after the prefix, if any, stays within nMax.
bool RoundsWithin(const char* pAfterPrefix, unsigned long nMax)
{
    const char* pRounds = "rounds=";
    if (!StartsWith(pAfterPrefix, pRounds))
        return true;
    const char* p = pAfterPrefix + strlen(pRounds);
    size_t nDigits = strspn(p, "0123456789");
    if (nDigits == 0 || nDigits > 9 || p[nDigits] != '$')
        return false;
    return strtoul(p, nullptr, 10) <= nMax;
}

// Whether a stored crypt code stays within its method's bound.
bool CostWithin(const KnownMethod& m, const char* pCode)
{
    switch (m.nRule) {
    case COST_FIXED:
        return true;
    case COST_ROUNDS:
        return RoundsWithin(pCode + strlen(m.pPrefix), m.nMax);
    case COST_GENSALT:
        for (unsigned long n = 1; n <= m.nMax; n++) {
            std::string params = GensaltParams(m.pPrefix, n);
            if (!params.empty() && StartsWith(pCode, params.c_str()))
                return true;
        }
        return false;
    }
    return false;
}

// Whether a stored crypt code uses a known method at a cost that is
// checked; traced (cut short) when it is refused.
bool IsAffordable(const char* pCode)
{
    for (const auto& m : s_rgKnownMethods) {
        if (!StartsWith(pCode, m.pPrefix))
            continue;
        if (CostWithin(m, pCode))
            return true;
        go.m_log.Trace("Crypt refused the cost of (%.120s)", pCode);
        return false;
    }
    go.m_log.Trace("Crypt refused the method of (%.120s)", pCode);
    return false;
}

// The code inside a stored value "*code*" (no asterisk inside); false for
// any other value, which is an old plain-text password.
bool Unwrap(const char* pStored, CRukString& code)
{
    size_t n = strlen(pStored);
    if (n < 3 || pStored[0] != '*' || pStored[n - 1] != '*' ||
        memchr(pStored + 1, '*', n - 2) != nullptr)
        return false;
    code = CRukString();
    code.Append(pStored + 1, static_cast<int>(n - 2));
    return true;
}

}  // namespace

CRukString CRukCrypt::Hash(const char* pPassword)
{
    if (!pPassword || !*pPassword)
        return CRukString();
    std::string setting = NewSetting();
    std::string code = setting.empty() ? std::string() : CryptCode(pPassword, setting.c_str());
    if (code.empty()) {
        go.m_log.Trace("Crypt Hash could not make a code (%s)", setting.c_str());
        return CRukString(s_pLockedCode);
    }
    go.m_log.Trace("Crypt Hash -> a new code");
    return CRukString("*") + code.c_str() + "*";
}

bool CRukCrypt::Verify(const char* pPassword, const char* pStored)
{
    if (!pStored || !*pStored || !pPassword || !*pPassword)
        return false;
    CRukString code;
    if (!Unwrap(pStored, code)) {
        bool bMatch = ConstantTimeEqual(pPassword, pStored);
        go.m_log.Trace("Crypt Verify plain text -> %d", bMatch);
        return bMatch;
    }
    bool bMatch = code.GetText()[0] == '$' && code.GetLength() > s_nOldCodeMax
                      ? VerifyCrypt(pPassword, code)
                      : VerifyOld(pPassword, code);
    go.m_log.Trace("Crypt Verify -> %d", bMatch);
    return bMatch;
}

// A crypt(3) code: the password hashed with the stored code as setting
// gives the same code.
bool CRukCrypt::VerifyCrypt(const char* pPassword, const CRukString& code)
{
    if (!IsAffordable(code.GetText()))
        return false;
    std::string result = CryptCode(pPassword, code.GetText());
    return !result.empty() && ConstantTimeEqual(result.c_str(), code.GetText());
}

// An old code: the salt is its first two characters.
bool CRukCrypt::VerifyOld(const char* pPassword, const CRukString& code)
{
    if (code.GetLength() < s_nOldCodeMin || code.GetLength() > s_nOldCodeMax)
        return false;
    CRukString salt = code.Left(2);
    CRukString made = OldCode(pPassword, salt.GetText());
    return ConstantTimeEqual(made.GetText(), code.GetText());
}

bool CRukCrypt::IsCurrent(const char* pStored)
{
    const CurrentMethod& current = Current();
    CRukString code;
    if (!pStored || current.params.empty() || !Unwrap(pStored, code) ||
        !StartsWith(code.GetText(), current.params.c_str()))
        return false;
    const char* pRest = code.GetText() + current.params.size();
    return *pRest && strspn(pRest, s_pCodeChars) == strlen(pRest);
}

CRukString CRukCrypt::CryptEx(const char* pPassword, const char* /*pSalt*/)
{
    return Hash(pPassword);
}

bool CRukCrypt::IsMatchEx(const char* pPassword, const char* pStored)
{
    return Verify(pPassword, pStored);
}

CRukString CRukCrypt::Crypt(const char* pPassword, const char* /*pSalt*/)
{
    CRukString code;
    if (!Unwrap(Hash(pPassword).GetText(), code))
        return CRukString();
    return code;
}

CRukString CRukCrypt::MakeSalt()
{
    return CRukString();
}

// The old scheme, kept to verify the codes that installed boards hold.

const char* const CRukCrypt::s_pOldTable =
    "%&!$#zZ0yY9xX8wWvV7uUtT6sS5rR4qQpP3nN2mMkK1jJhHgGfFeEdDcCbBaAoil";

static const int s_nOldTableSize = 64;

// The salt's bytes (as signed chars) summed, modulo 9, plus 1.
int CRukCrypt::OldRotation(const char* pSalt)
{
    int nSum = 0;
    for (const char* p = pSalt ? pSalt : ""; *p; p++)
        nSum += static_cast<signed char>(*p);
    return nSum % 9 + 1;
}

// The password mapped three times through the rotated table, joined by
// "+", cut to eight characters. Letters are folded to upper case, and
// every byte below 0x20 or, after the fold, from 0x60 up (kanji and kana
// among them) maps to the table's last character.
CRukString CRukCrypt::OldEncrypt(const char* pPassword, int nRotation)
{
    char table[s_nOldTableSize];
    int r = nRotation > 0 ? nRotation % s_nOldTableSize : 0;
    for (int i = 0; i < s_nOldTableSize; i++)
        table[i] = s_pOldTable[(i + r) % s_nOldTableSize];
    auto map = [&](char c) -> char {
        if (c == '+')
            return '+';
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        unsigned char idx = static_cast<unsigned char>(c - 0x20);
        if (idx > 63)
            idx = 63;
        return table[idx];
    };
    CRukString a, b, c;
    for (const char* p = pPassword ? pPassword : ""; *p; p++) {
        char ch = map(*p);
        a.Append(&ch, 1);
    }
    for (const char* p = a.GetText(); *p; p++) {
        char ch = map(*p);
        b.Append(&ch, 1);
    }
    for (const char* p = b.GetText(); *p; p++) {
        char ch = map(*p);
        c.Append(&ch, 1);
    }
    CRukString text = a + "+" + b + "+" + c;
    return text.Left(8);
}

// The salt followed by the password's old code.
CRukString CRukCrypt::OldCode(const char* pPassword, const char* pSalt)
{
    return CRukString(pSalt) + OldEncrypt(pPassword, OldRotation(pSalt));
}
