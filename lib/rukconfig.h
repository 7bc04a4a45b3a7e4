// CRukConfig: a settings file read into an ordered string map. One entry
// per line, name "=" value; "#" lines, empty lines and lines without "="
// are skipped; the first line of a name wins. In encoded mode names and
// values are percent-encoded in the file, so any byte survives a write and
// a read.
#ifndef RUKCONFIG_H
#define RUKCONFIG_H

#include "rukstrmap.h"

class CRukConfig : public CRukStrMap {
public:
    explicit CRukConfig(bool bEncoded = false, int nGrowBy = 10);
    CRukConfig(const CRukConfig&) = default;
    CRukConfig(CRukConfig&&) noexcept = default;
    CRukConfig& operator=(const CRukConfig&) = default;
    CRukConfig& operator=(CRukConfig&&) noexcept = default;
    ~CRukConfig() override = default;

    bool IsEncoded() const { return m_bEncoded; }
    void SetEncoded(bool bEncoded) { m_bEncoded = bEncoded; }

    // Entries read, -1 no file, -2 lock refused. Reads take a shared lock.
    [[nodiscard]] int ReadFile(const char* pPath, bool bLock = false, const char* pLockPath = nullptr);
    // Bytes written, -1 cannot write (the old file stays), -2 lock refused.
    // The file is replaced atomically under an exclusive lock.
    [[nodiscard]] int WriteFile(const char* pPath, bool bLock = false, const char* pLockPath = nullptr);
    // The text WriteFile would write.
    CRukString Serialize() const;
    // Adds the entries of one file text (as ReadFile does for a file).
    int Parse(const char* pText, unsigned nSize);

private:
    void AddLine(CRukString& line);

    bool m_bEncoded;
};

#endif
