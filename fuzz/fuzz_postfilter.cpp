// The spam filters of posts: an NG-word file and a text from the input
// (cut at the first 0x00 byte: the file before it, the text after it).
// Every word found in the file, and the text as a word of its own, must be
// found in the text that holds it at a character.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzzutil.h"
#include "rukpostfilter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static FuzzFile file;
    const uint8_t* pCut = static_cast<const uint8_t*>(memchr(data, 0, size));
    size_t nFile = pCut ? static_cast<size_t>(pCut - data) : size;
    CRukPostFilter filter;
    if (filter.LoadWords(file.Write(data, nFile).c_str()) != 0)
        abort();
    std::string text = pCut ? std::string(reinterpret_cast<const char*>(pCut + 1),
                                          strnlen(reinterpret_cast<const char*>(pCut + 1),
                                                  size - nFile - 1))
                            : std::string();
    CRukPostFilter::HasJapanese(text.c_str());
    if (CRukPostFilter::CountLinks(text.c_str()) > static_cast<int>(text.size() / 3))
        abort();
    filter.HasWord(text.c_str());
    if (!text.empty()) {
        CRukPostFilter self;
        self.AddWord(text.c_str());
        if (!self.HasWord(text.c_str()) || !self.HasWord(("x" + text).c_str()))
            abort();
    }
    return 0;
}
