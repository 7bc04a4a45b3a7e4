// CRukAtomicFile: replaces a file as a whole or not at all.
#ifndef RUKATOMICFILE_H
#define RUKATOMICFILE_H

#include <cstddef>
#include <cstdio>

#include "rukstring.h"

// Writes a file in pieces and, on Commit, renames it over its target; a
// writer that is destroyed without Commit removes its temporary file, so
// the target is either the old file or the complete new one.
class CRukAtomicFile {
public:
    CRukAtomicFile();
    CRukAtomicFile(const CRukAtomicFile&) = delete;
    CRukAtomicFile& operator=(const CRukAtomicFile&) = delete;
    virtual ~CRukAtomicFile();

    // Creates the temporary file beside pPath: 0, or -1.
    [[nodiscard]] int Open(const char* pPath);
    [[nodiscard]] int Write(const char* pData, size_t n);
    FILE* GetStream() { return m_fp; }
    // Flushes, closes and renames; 0, or -1 (the target is untouched).
    [[nodiscard]] int Commit();
    void Abort();

private:
    CRukString m_strPath;
    CRukString m_strTemp;
    FILE* m_fp;
    bool m_bFailed;
};

#endif
