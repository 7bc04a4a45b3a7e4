// CRukStrPath: a path split into its directory components, name, title and
// extension. Both "/" and "\" separate; a two-byte Shift_JIS or EUC-JP
// character is never split, so a trail byte equal to "\" is not taken for a
// separator.
#ifndef RUKSTRPATH_H
#define RUKSTRPATH_H

#include "rukstrary.h"
#include "rukstring.h"

class CRukStrPath : public CRukString {
public:
    CRukStrPath();
    CRukStrPath(const char* pPath);
    CRukStrPath(const CRukStrPath& path) = default;
    CRukStrPath(CRukStrPath&& path) noexcept = default;
    ~CRukStrPath() = default;
    CRukStrPath& operator=(const CRukStrPath& path) = default;
    CRukStrPath& operator=(CRukStrPath&& path) noexcept = default;
    // Sets the text only; the parts are not refreshed until Split.
    CRukStrPath& operator=(const char* pPath);

    CRukStrPath& Split(const char* pPath = nullptr);
    CRukString Directory(const char* pSep) const;
    CRukString FullPath(const char* pSep) const;

    const CRukStrAry& GetDirs() const { return m_aryDir; }
    const CRukString& GetName() const { return m_strName; }
    const CRukString& GetTitle() const { return m_strTitle; }
    const CRukString& GetExt() const { return m_strExt; }

    // Split(pPath + "/") joined again with "/": backslashes become "/",
    // empty components vanish, a leading separator stays.
    static CRukString Normalize(const char* pPath);

private:
    CRukStrAry m_aryDir;
    CRukString m_strName;
    CRukString m_strTitle;
    CRukString m_strExt;
};

#endif
