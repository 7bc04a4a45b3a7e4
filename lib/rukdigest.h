// CRukDigest: a SHA-256 digest (nettle) of a sequence of values, for the
// validators of the board's pages. Each value goes in with its length, so
// that no two different sequences run together into the same bytes; what
// comes out is the digest's first bytes as hexadecimal text, from which no
// value put in can be read back.
#ifndef RUKDIGEST_H
#define RUKDIGEST_H

#include <cstddef>
#include <cstdint>
#include <string>

#include <nettle/sha2.h>

class CRukDigest {
public:
    CRukDigest();

    // Adds n bytes at p, after their length.
    void Add(const void* p, size_t n);
    void Add(const std::string& text) { Add(text.data(), text.size()); }
    void Add(const char* pText);
    // Adds a number as its eight bytes.
    void AddNumber(int64_t n);
    // The first nBytes (at most 32) of the digest as lower-case hex; the
    // digest is finished by this call.
    std::string Hex(size_t nBytes);

private:
    struct sha256_ctx m_ctx;
};

#endif
