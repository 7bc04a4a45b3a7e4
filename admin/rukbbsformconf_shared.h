// Helpers shared by the files that implement CRukBBSFormConf: the site's
// fixed names, the pieces of a page, the settings rows on a page, and
// small file and path operations. Internal to the administration program.
#ifndef RUKBBSFORMCONF_SHARED_H
#define RUKBBSFORMCONF_SHARED_H

#include "rukbbsformbase.h"
#include "rukbbsformconf.h"
#include "rukconfig.h"
#include "rukform.h"
#include "rukmessagekeys.h"
#include "ruksettingkeys.h"
#include "rukstrary.h"
#include "rukstring.h"

inline const char* const s_pSystemFile = "dat-system.dat";
inline const char* const s_pRegistry = "data";
inline const char* const s_pLockName = "lockfile.lock";
// The directory of every board's uploaded icons.
inline const char* const s_pIconRoot = "skin/icons/";

// --- pages (rukbbsformconf_page.cpp)

// Adds the page tags of the rows of a table that a settings page shows,
// their values read from cf: a switch "checked" or nothing, a code
// whether it is set (every occurrence), any other value its text (the
// first occurrence). A mode row is filled by the caller (its select).
void AddRowTags(CRukTagList& tags, const SRukSettingTable& table, const CRukConfig& cf);
// The tag of one row with its value, as AddRowTags adds it.
SRukTag RowTag(const SRukSettingKey& row, const CRukConfig& cf);
// What a page says of a stored password: whether one is set (Shift_JIS).
CRukString PasswordState(const CRukString& stored);
// Builds "<select id=ID name=NAME>" with one option per name, the one
// equal to selected marked; names are escaped. Without names it holds one
// disabled option saying pNone (Shift_JIS).
CRukString BuildSelect(const char* pName, const CRukStrAry& names, const CRukString& selected,
                       const char* pId = nullptr, const char* pNone = nullptr);
// The form value of a field, trimmed.
CRukString Trimmed(const CRukForm& form, const char* pName);
// The integer value of a text: 0 for no number, a value beyond int its
// nearest bound (as a setting's number is read).
inline int ToInt(const CRukString& text)
{
    return CRukSettingKeys::ToNumber(text.GetText());
}

// --- files and paths (rukbbsformconf_files.cpp)

// True when a path names something on disk.
bool Exists(const CRukString& path);
// True when a path is a directory (or a link to one).
bool IsDirectory(const CRukString& path);
// The resolved absolute form of an existing path.
bool RealPath(const char* pPath, CRukString& out);
// True when the resolved path equals dir or lies below it.
bool IsInside(const CRukString& path, const CRukString& dir);
// Creates a directory with go's directory mode; false when mkdir fails.
bool MakeDir(const CRukString& dir);
// Removes a directory with everything below it; a symbolic link is
// removed itself, never followed. False when something stayed.
bool RemoveTree(const CRukString& dir);
// The resolved path when it lies strictly below the resolved registry
// directory "data"; otherwise empty.
CRukString ResolvedBelowRegistry(const CRukString& path);
// The settings file of a board in the registry ("data/BOARD.conf").
CRukString BoardFile(const CRukString& bbsid);
// The directory of the icons uploaded for a board ("skin/icons/BID/").
CRukString IconDir(const CRukString& bbsid);

// --- addresses (rukbbsformconf_address.cpp)

// True for an address typed into a URL setting that may go into an
// attribute as it is: printable ASCII without blanks, quotes, angle
// brackets or backslash.
bool IsSafeUrlText(const CRukString& url);

// --- password codes (rukbbsformconf_settings.cpp)

// The stored form of the default board password: a code stays as it is;
// the plain password of an older installation (a stored value that
// verifies against itself) becomes a fresh code of it.
CRukString AsCode(const CRukString& stored);

#endif
