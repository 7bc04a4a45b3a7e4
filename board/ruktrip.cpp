// CRukTrip: trip codes from libcrypt and the signed names made with them
// (see ruktrip.h for the method).
#include "ruktrip.h"

#include <crypt.h>

#include <cstring>
#include <memory>
#include <string>

#include "rukpostfilter.h"

namespace {

const char s_szDiamond[] = "\x81\x9f";       // ◆
const char s_szWhiteDiamond[] = "\x81\x9e";  // ◇
const char s_szWideHash[] = "\x81\x94";      // ＃
const char s_szWideSpace[] = "\x81\x40";     // 　

// The salt bytes that are mapped to letters, and their letters.
const char s_szSaltFrom[] = ":;<=>?@[\\]^_`";
const char s_szSaltTo[] = "ABCDEFGabcdef";

// DES reads the first eight bytes of a key and no more; cutting there
// keeps a long key within what libcrypt accepts.
const size_t s_nDesKey = 8;
const size_t s_nCode = 10;
// The fallback's setting before the two salt characters.
const char s_szFallbackSetting[] = "$5$rounds=5000$ruktrip";

bool StartsWith(const char* p, const char* pPrefix)
{
    return strncmp(p, pPrefix, strlen(pPrefix)) == 0;
}

// Where the key starts in the typed name: the first "#" or "＃" (with
// bCode also "◆", which starts a stored code) at the start of a
// character; nullptr for none. *pMark is the mark's length.
const char* FindKeyMark(const char* pTyped, int* pMark, bool bCode = false)
{
    for (const char* p = pTyped; *p; p += CRukPostFilter::CharLength(p)) {
        if (*p == '#') {
            *pMark = 1;
            return p;
        }
        if (StartsWith(p, s_szWideHash) || (bCode && StartsWith(p, s_szDiamond))) {
            *pMark = 2;
            return p;
        }
    }
    return nullptr;
}

// Runs crypt_r with the setting; the result, or empty when libcrypt
// refused (a null result or one of its failure codes starting with "*").
std::string RunCrypt(const std::string& key, const std::string& setting)
{
    auto data = std::make_unique<struct crypt_data>();
    memset(data.get(), 0, sizeof(struct crypt_data));
    const char* pResult = crypt_r(key.c_str(), setting.c_str(), data.get());
    if (!pResult || *pResult == '*')
        return std::string();
    return pResult;
}

// The last ten characters of a crypt result, or empty.
std::string LastTen(const std::string& result)
{
    return result.size() < s_nCode ? std::string() : result.substr(result.size() - s_nCode);
}

}  // namespace

CRukString CRukTrip::Salt(const char* pKey)
{
    std::string text = std::string(pKey ? pKey : "") + "H.";
    std::string salt = text.substr(1, 2);
    for (char& c : salt) {
        if (c < '.' || c > 'z')  // char is signed: bytes from 0x80 are below '.'
            c = '.';
        if (const char* p = strchr(s_szSaltFrom, c))
            c = s_szSaltTo[p - s_szSaltFrom];
    }
    return salt.c_str();
}

bool CRukTrip::HasClassic()
{
    int n = crypt_checksalt("H.");
    return n == CRYPT_SALT_OK || n == CRYPT_SALT_METHOD_LEGACY;
}

CRukString CRukTrip::Code(const char* pKey, EMethod method)
{
    std::string key = pKey ? pKey : "";
    if (key.empty())
        return CRukString();
    std::string salt = Salt(key.c_str()).GetText();
    if (method == EMethod::Classic)
        return LastTen(RunCrypt(key.substr(0, s_nDesKey), salt)).c_str();
    // The fallback reads the whole key, up to what libcrypt accepts.
    if (key.size() >= CRYPT_MAX_PASSPHRASE_SIZE)
        key.resize(CRYPT_MAX_PASSPHRASE_SIZE - 1);
    return LastTen(RunCrypt(key, std::string(s_szFallbackSetting) + salt + "$")).c_str();
}

CRukString CRukTrip::Code(const char* pKey)
{
    return Code(pKey, HasClassic() ? EMethod::Classic : EMethod::Fallback);
}

CRukString CRukTrip::SignedName(const char* pTyped)
{
    const char* p = pTyped ? pTyped : "";
    int nMark = 0;
    const char* pKey = FindKeyMark(p, &nMark);
    size_t nName = pKey ? static_cast<size_t>(pKey - p) : strlen(p);
    std::string name;
    for (size_t i = 0; i < nName;) {
        size_t n = static_cast<size_t>(CRukPostFilter::CharLength(p + i));
        if (n == 2 && StartsWith(p + i, s_szDiamond))
            name += s_szWhiteDiamond;
        else
            name.append(p + i, n);
        i += n;
    }
    if (pKey && pKey[nMark]) {
        CRukString code = Code(pKey + nMark);
        if (!code.IsEmpty())
            name += std::string(s_szDiamond) + code.GetText();
    }
    return name.c_str();
}

CRukString CRukTrip::Handle(const char* pTyped)
{
    const char* p = pTyped ? pTyped : "";
    int nMark = 0;
    const char* pKey = FindKeyMark(p, &nMark, true);
    const char* pEnd = pKey ? pKey : p + strlen(p);
    auto blank = [](const char* q, int n) {
        return (n == 1 && (*q == ' ' || *q == '\t')) || (n == 2 && StartsWith(q, s_szWideSpace));
    };
    const char* pFirst = nullptr;  // the first character that is no blank
    const char* pLast = p;         // the end of the last one
    for (const char* q = p; q < pEnd;) {
        int n = CRukPostFilter::CharLength(q);
        if (!blank(q, n)) {
            if (!pFirst)
                pFirst = q;
            pLast = q + n;
        }
        q += n;
    }
    CRukString handle;
    if (pFirst)
        handle.Append(pFirst, static_cast<int>(pLast - pFirst));
    return handle;
}
