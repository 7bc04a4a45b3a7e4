// CRukCrypt: the system's password codes. A new code is a crypt(3) hash
// from libcrypt (yescrypt, or bcrypt where the library lacks yescrypt) of
// the whole password with a random salt. Codes are stored wrapped in
// asterisks, "*" + code + "*", in the settings (passwd, write_passwd, the
// system's admin and passwd) and in each message's password field, so that
// older plain-text passwords in the same fields are still recognised.
//
// Three kinds of stored value are verified:
//   "*$...*"    a crypt(3) code: yescrypt, bcrypt, SHA-crypt or MD5-crypt,
//               with a bounded cost;
//   "*ssCCCC*"  an old code of at most ten characters: a two-character salt
//               and a table substitution of the first eight characters of the
//               password with letters folded to one case. Weak; it verifies
//               only so that installed boards keep working, and its holder
//               replaces it by a new code when it is next written;
//   anything else  an old plain-text password, matched byte for byte.
#ifndef RUKCRYPT_H
#define RUKCRYPT_H

#include "rukstring.h"

class CRukCrypt {
public:
    // The stored form of a new code for pPassword; empty for an empty
    // password. The typed text is always hashed, even when it looks like a
    // stored code.
    static CRukString Hash(const char* pPassword);
    // Whether pPassword is the password of the stored value pStored. An
    // empty stored value or an empty password never matches.
    static bool Verify(const char* pPassword, const char* pStored);
    // Whether pStored is a wrapped code of the current method and cost; a
    // holder whose code is not current gets a new one when next written.
    static bool IsCurrent(const char* pStored);

    // Deprecated: Hash(pPassword); the salt is ignored.
    static CRukString CryptEx(const char* pPassword, const char* pSalt);
    // Deprecated: Verify(pPassword, pStored).
    static bool IsMatchEx(const char* pPassword, const char* pStored);
    // Deprecated: Hash(pPassword) without the asterisks; the salt is
    // ignored. Kept for callers that wrap the code themselves.
    static CRukString Crypt(const char* pPassword, const char* pSalt);
    // Deprecated: an empty string. Salts come from the operating system's
    // random source inside Hash; this remains for callers that still pass
    // one to CryptEx or Crypt.
    static CRukString MakeSalt();

private:
    static bool VerifyCrypt(const char* pPassword, const CRukString& code);
    static bool VerifyOld(const char* pPassword, const CRukString& code);
    static CRukString OldCode(const char* pPassword, const char* pSalt);
    static CRukString OldEncrypt(const char* pPassword, int nRotation);
    static int OldRotation(const char* pSalt);

    static const char* const s_pOldTable;
};

#endif
