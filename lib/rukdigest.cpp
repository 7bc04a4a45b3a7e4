// CRukDigest: SHA-256 of length-prefixed values (see the header).
#include "rukdigest.h"

#include <cstring>

CRukDigest::CRukDigest()
{
    sha256_init(&m_ctx);
}

void CRukDigest::AddNumber(int64_t n)
{
    uint8_t bytes[8];
    for (int i = 0; i < 8; i++)
        bytes[i] = static_cast<uint8_t>(static_cast<uint64_t>(n) >> (8 * i));
    sha256_update(&m_ctx, sizeof(bytes), bytes);
}

void CRukDigest::Add(const void* p, size_t n)
{
    AddNumber(static_cast<int64_t>(n));
    sha256_update(&m_ctx, n, static_cast<const uint8_t*>(p));
}

void CRukDigest::Add(const char* pText)
{
    Add(pText ? pText : "", pText ? strlen(pText) : 0);
}

std::string CRukDigest::Hex(size_t nBytes)
{
    uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_digest(&m_ctx, sizeof(digest), digest);
    static const char s_szHex[] = "0123456789abcdef";
    std::string hex;
    for (size_t i = 0; i < nBytes && i < sizeof(digest); i++) {
        hex += s_szHex[digest[i] >> 4];
        hex += s_szHex[digest[i] & 15];
    }
    return hex;
}
