// Pascal string helpers.
#pragma once

#include "CoreServices/MacTypes.h"

// Pascal strings: a length byte, then up to 255 bytes of text.
typedef unsigned char Str255[256];
typedef unsigned char* StringPtr;
typedef const unsigned char* ConstStringPtr;

// Copies a NUL-terminated text into a Pascal string: a length byte, then the
// text cut at 255 bytes.
void c2pstrcpy(Str255 dst, const char* src);
