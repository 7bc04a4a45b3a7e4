// Helpers shared by the files that implement CRukBBSFormConf: the site's
// fixed names, the one template filler, the tables of number fields, and
// small file and path operations. Internal to the administration program.
#ifndef RUKBBSFORMCONF_SHARED_H
#define RUKBBSFORMCONF_SHARED_H

#include <climits>
#include <cstddef>
#include <vector>

#include "rukbbsformconf.h"
#include "rukbuffer.h"
#include "rukconfig.h"
#include "rukform.h"
#include "rukstrary.h"
#include "rukstring.h"

inline const char* const s_pSystemFile = "dat-system.dat";
inline const char* const s_pRegistry = "data";
inline const char* const s_pLockName = "lockfile.lock";

// A template tag and the settings key whose value fills it.
struct TagKey {
    const char* pTag;
    const char* pKey;
};

// A number field: values below nLow become nLow, values above nHigh (or
// above the system value named by pHighKey) become that bound. With
// bEmptyOff an empty field stays empty: the setting is off, as it is for
// a board whose settings lack the key.
struct NumField {
    const char* pKey;
    int nLow;
    int nHigh;
    const char* pHighKey;
    bool bEmptyOff;
};

// The number fields of the system defaults and of a board, in clamp order.
inline const NumField s_rgNumFields[] = {
    {"page_ppnum", 1, INT_MAX, nullptr, false}, {"page_ppnum2", 1, INT_MAX, nullptr, false},
    {"attach_num", 1, INT_MAX, "attach_max", false}, {"attach_size", 1, INT_MAX, nullptr, false},
    {"embed_size", 1, INT_MAX, nullptr, false}, {"log_max", 1, INT_MAX, "log_limit", false},
    {"new_time", 0, INT_MAX, nullptr, false}, {"timelag_hh", -24, 24, nullptr, false},
    {"timelag_mm", -60, 60, nullptr, false},
};

// One template tag and its text; bAll fills every occurrence, otherwise
// only the first.
struct TagText {
    const char* pTag;
    CRukString text;
    bool bAll;
};

typedef std::vector<TagText> TagList;

// The text a buffer holds, taken over without a copy.
CRukString BufferText(CRukBuffer& buf);
// Fills the tags of a page in one pass, so that inserted text is never
// scanned for tags again.
CRukString FillTags(const CRukString& page, const TagList& tags);
// Adds the escaped settings values of a tag table.
void AddValueTags(TagList& tags, const TagKey* pTable, size_t n, const CRukConfig& cf);
// Adds switch tags: "checked" when the value is exactly "1".
void AddCheckTags(TagList& tags, const TagKey* pTable, size_t n, const CRukConfig& cf);
// The integer value of a text; non-numbers are 0, large values saturate.
int ToInt(const CRukString& text);
// The clamped decimal text of a number field. A system bound that is not
// set (below the low bound) does not apply.
CRukString ClampField(const CRukString& value, const NumField& field, const CRukConfig& system);
// The form value of a field, trimmed.
CRukString Trimmed(const CRukForm& form, const char* pName);
// True when a path names something on disk.
bool Exists(const CRukString& path);
// True when a path is a directory (or a link to one).
bool IsDirectory(const CRukString& path);
// What a page says of a stored password: whether one is set (Shift_JIS).
CRukString PasswordState(const CRukString& stored);
// The resolved absolute form of an existing path.
bool RealPath(const char* pPath, CRukString& out);
// True when the resolved path equals dir or lies below it.
bool IsInside(const CRukString& path, const CRukString& dir);
// Creates a directory with go's directory mode; false when mkdir fails.
bool MakeDir(const CRukString& dir);
// Removes a directory with everything below it; a symbolic link is
// removed itself, never followed. False when something stayed.
bool RemoveTree(const CRukString& dir);
// True for an address typed into a URL setting that may go into an
// attribute as it is: printable ASCII without blanks, quotes, angle
// brackets or backslash.
bool IsSafeUrlText(const CRukString& url);
// Builds "<select id=ID name=NAME>" with one option per name, the one
// equal to selected marked; names are escaped. Without names it holds one
// disabled option saying pNone (Shift_JIS).
CRukString BuildSelect(const char* pName, const CRukStrAry& names, const CRukString& selected,
                       const char* pId = nullptr, const char* pNone = nullptr);
// The resolved path when it lies strictly below the resolved registry
// directory "data"; otherwise empty.
CRukString ResolvedBelowRegistry(const CRukString& path);
// The directory of the icons uploaded for a board ("skin/icons/BID/").
CRukString IconDir(const CRukString& bbsid);

#endif
