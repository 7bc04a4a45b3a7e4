// Small helpers shared by the unit tests: a temporary directory that is
// removed with everything in it when the test ends, and whole-file read
// and write helpers.
#ifndef TESTUTIL_H
#define TESTUTIL_H

#include <cstdio>
#include <cstdlib>
#include <string>

#include <ftw.h>
#include <unistd.h>

namespace testutil {

// A fresh directory under /tmp, removed recursively by the destructor.
class TempDir {
public:
    // Made below pBase (a memory file system keeps fsync cheap for callers
    // that write a lot).
    explicit TempDir(const char* pBase = "/tmp")
    {
        std::string pattern = std::string(pBase) + "/ruk-test-XXXXXX";
        if (mkdtemp(&pattern[0]))
            m_path = pattern;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir()
    {
        if (!m_path.empty())
            nftw(m_path.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
    }

    const std::string& path() const { return m_path; }
    // The path of a name inside the directory.
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    static int RemoveOne(const char* p, const struct stat*, int, struct FTW*)
    {
        remove(p);
        return 0;
    }

    std::string m_path;
};

// Writes the bytes to the file, replacing it; false on any failure.
inline bool WriteFile(const std::string& path, const std::string& data)
{
    FILE* fp = fopen(path.c_str(), "wb");
    if (!fp)
        return false;
    bool ok = fwrite(data.data(), 1, data.size(), fp) == data.size();
    return fclose(fp) == 0 && ok;
}

// The whole content of the file, or "<missing>" when it cannot be read.
inline std::string ReadFile(const std::string& path)
{
    FILE* fp = fopen(path.c_str(), "rb");
    if (!fp)
        return "<missing>";
    std::string data;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), fp)) > 0)
        data.append(buf, n);
    fclose(fp);
    return data;
}

}  // namespace testutil

#endif
