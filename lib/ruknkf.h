// nkf_main: in-memory kanji code conversion with nkf-style options.
#ifndef RUKNKF_H
#define RUKNKF_H

#include "rukstring.h"

CRukString nkf_main(const char* pOptions, const char* pInput, int nLength);

#endif
