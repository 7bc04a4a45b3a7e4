// The administration program's readers of request text: the deny-list
// entry of a typed or posted address, the picture type of an uploaded
// icon (by its bytes and by its name), and the start of a message body
// cut on a Shift_JIS character for the moderation page. Each result is
// checked against what it promises.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzzutil.h"
#include "rukbbsformconf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CRukString text = FuzzText(data, size);
    // An entry is empty or one word of the list's characters, in lower case.
    CRukString entry = CRukBBSFormConf::DenyEntry(text.GetText());
    if (strspn(entry.GetText(), "0123456789abcdef.:-ghijklmnopqrstuvwxyz") !=
        static_cast<size_t>(entry.GetLength()))
        abort();
    if (!entry.IsEmpty() && CRukBBSFormConf::DenyEntry(entry.GetText()) != entry)
        abort();
    (void)CRukBBSFormConf::PictureType(data, size);
    (void)CRukBBSFormConf::PictureTypeOfName(text.GetText());
    // The cut is a whole number of characters: never longer than asked
    // (and its ellipsis), never ending in a lead byte.
    int nBytes = size > 0 ? data[0] % 64 : 0;
    CRukString cut = CRukBBSFormConf::Excerpt(text.GetText(), nBytes);
    if (cut.GetLength() > nBytes + 2)
        abort();
    return 0;
}
