// Helpers shared by the fuzz targets.
#ifndef FUZZUTIL_H
#define FUZZUTIL_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "rukstring.h"

// The input as text: NUL bytes end it, as they would for any C text.
inline CRukString FuzzText(const uint8_t* data, size_t size)
{
    CRukString text;
    text.Append(reinterpret_cast<const char*>(data),
                static_cast<int>(strnlen(reinterpret_cast<const char*>(data), size)));
    return text;
}

// A file holding the input, for code that reads files by name. The file
// lives in memory and is replaced on every call.
class FuzzFile {
public:
    FuzzFile() : m_fd(memfd_create("ruk-fuzz", 0)) {}
    ~FuzzFile() { close(m_fd); }
    std::string Write(const uint8_t* data, size_t size)
    {
        if (ftruncate(m_fd, 0) != 0 || pwrite(m_fd, data, size, 0) != static_cast<ssize_t>(size))
            return "/nonexistent";
        return "/proc/self/fd/" + std::to_string(m_fd);
    }

private:
    int m_fd;
};

#endif
