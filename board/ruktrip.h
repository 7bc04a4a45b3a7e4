// CRukTrip: the names posters sign with. A name typed as "NAME#KEY" is
// stored and shown as "NAME◆CODE", where CODE is the trip code of KEY: ten
// characters that the same key always gives, from which the key cannot be
// read back, so that a poster can prove to be the same person without an
// account. The key itself is never stored.
//
// The code is the classic one that Japanese boards have used for decades,
// so that a poster's code is the same here as elsewhere: the traditional
// DES crypt(3) of the key with the salt taken from the 2nd and 3rd bytes
// of KEY + "H.", every salt byte outside "." to "z" made ".", the salt
// bytes ":;<=>?@[\]^_`" made "ABCDEFGabcdef", and the last ten characters
// of the result. It comes from libcrypt's crypt_r with that two-character
// setting. A libcrypt built without DES (crypt_checksalt tells) makes the
// fallback code instead: the last ten characters of SHA-256-crypt ("$5$",
// 5000 rounds, also libcrypt) of the key with the salt "ruktrip" followed
// by the same two characters. Such codes differ from the classic ones.
//
// Text is Shift_JIS and is walked character by character. "#" and the
// full-width "＃" both start the key; "◆" typed in a name becomes "◇", so
// that only the board writes "◆" in a name and nobody can fake a code.
#ifndef RUKTRIP_H
#define RUKTRIP_H

#include "rukstring.h"

class CRukTrip {
public:
    // How a code is made (see above).
    enum class EMethod { Classic, Fallback };

    // The name to store for the name as typed: its name part with every
    // "◆" written "◇", followed, when a non-empty key follows "#", by "◆"
    // and the key's code. A "#" without a key is dropped.
    static CRukString SignedName(const char* pTyped);
    // The name part of the typed name (before any key, and before a "◆"
    // that starts the code of a stored name sent back by an edit) without
    // the blanks around it (ASCII blanks and the ideographic space): the
    // handle that a reserved name is compared with.
    static CRukString Handle(const char* pTyped);
    // The ten-character code of a non-empty key by the method libcrypt
    // supports; empty when no method works.
    static CRukString Code(const char* pKey);
    // The code of a key by the given method; empty when it fails.
    static CRukString Code(const char* pKey, EMethod method);
    // The classic two-character salt of a key.
    static CRukString Salt(const char* pKey);
    // Whether this libcrypt makes classic codes.
    static bool HasClassic();
};

#endif
