// What the files of CRukString share about its blocks: the longest text
// and how a block is made. (The class and its block are described in
// rukstring.h.)
#ifndef RUKSTRING_BLOCK_H
#define RUKSTRING_BLOCK_H

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace rukstring {

// The longest text: GetLength gives an int.
inline constexpr size_t kMaxLength = 0x7fffffff;

// A block of n + 1 bytes; running out of memory ends the program.
inline char* NewBlock(size_t n)
{
    if (n > kMaxLength)
        abort();
    char* p = static_cast<char*>(malloc(n + 1));
    if (!p)
        abort();
    return p;
}

// The number of bytes of pData before its first NUL, at most n.
inline size_t TextLength(const char* pData, size_t n)
{
    const void* pNul = memchr(pData, 0, n);
    return pNul ? static_cast<size_t>(static_cast<const char*>(pNul) - pData) : n;
}

}  // namespace rukstring

#endif
