#include "ruknkf.h"

#include <cstring>

// Placeholder until the converter lands: returns the input unchanged.
CRukString nkf_main(const char* pOptions, const char* pInput, int nLength)
{
    if (!pOptions || !pInput || nLength <= 0)
        return CRukString();
    CRukString out;
    out.Append(pInput, static_cast<int>(strnlen(pInput, nLength)));
    return out;
}

CRukString CRukString::Nkf(const char* pOption, const char* pText)
{
    return nkf_main(pOption, pText, pText ? static_cast<int>(strlen(pText)) : 0);
}
