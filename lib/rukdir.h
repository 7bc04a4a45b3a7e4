// CRukDir: static directory operations. Listings read a directory by its
// path and never change the current directory; removal never follows a
// symbolic link out of the tree it empties.
#ifndef RUKDIR_H
#define RUKDIR_H

#include "rukstrary.h"

class CRukDir {
public:
    [[nodiscard]] static int ChDir(const char* pPath);
    [[nodiscard]] static int MkDir(const char* pPath);
    static int GetDirList(CRukStrAry& out, const char* pDir, bool bRecursive);
    static int GetDirNameList(CRukStrAry& out, const char* pDir, bool bRecursive);
    static int GetFileList(CRukStrAry& out, const char* pDir, bool bRecursive,
                           bool bFilesOnly);
    static int GetFileNameList(CRukStrAry& out, const char* pDir, bool bRecursive,
                               bool bFilesOnly);
    [[nodiscard]] static int RemoveFiles(const char* pDir, bool bRecursive, bool bKeepDirs);
    static int Glob(CRukStrAry& out, const char* pDir, const char* pPattern,
                    bool bFilesOnly);
    [[nodiscard]] static int CopyFileEx(const char* pDir, const char* pPattern, const char* pDest);
    [[nodiscard]] static int CopyFileEx(const char* pPathPattern, const char* pDest);
    [[nodiscard]] static int RemoveFileEx(const char* pDir, const char* pPattern);
    [[nodiscard]] static int RemoveFileEx(const char* pPathPattern);

private:
    static int List(CRukStrAry& out, const char* pDir, bool bRecursive, bool bFiles,
                    bool bFilesOnly, bool bBareNames);
    static void SplitPattern(const char* pPathPattern, CRukString& dir, CRukString& pattern);
};

#endif
