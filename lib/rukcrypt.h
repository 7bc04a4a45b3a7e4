// CRukCrypt: the system's password codes. A two-character salt from a
// 64-character table and a substitution of the password through that table
// rotated by the salt; stored codes are wrapped in asterisks so that older
// plain-text passwords in the same fields are still recognised.
#ifndef RUKCRYPT_H
#define RUKCRYPT_H

#include "rukstring.h"

class CRukCrypt {
public:
    // The stored form of a new code for pPassword ("*" + code + "*"); the
    // empty password gives the empty string. Typed text is always hashed.
    static CRukString Hash(const char* pPassword);
    // True when pPassword matches the stored value (an empty stored value
    // never matches).
    static bool Verify(const char* pPassword, const char* pStored);
    // True when the stored value is a code of the current method, false
    // when it should be replaced the next time its holder is written.
    static bool IsCurrent(const char* pStored);

    static CRukString MakeSalt();
    static CRukString GetSalt(const char* pCode);
    static CRukString Encrypt(const char* pPassword, int nRotation);
    static CRukString Crypt(const char* pPassword, const char* pSalt);
    static bool IsMatch(const char* pPassword, const char* pCode);
    static CRukString CryptEx(const char* pPassword, const char* pSalt);
    static bool IsMatchEx(const char* pPassword, const char* pStored);

    static const char* const s_pCodeTable;

private:
    static int Rotation(const char* pSalt);
    static CRukString Inner(const char* pStored);
};

#endif
