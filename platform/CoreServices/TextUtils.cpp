#include "CoreServices/TextUtils.h"

#include <cstring>

void c2pstrcpy(Str255 dst, const char* src)
{
    if (!dst)
        return;
    size_t length = src ? std::strlen(src) : 0;
    if (length > 255)
        length = 255;
    // memmove: the platform allows the source to share the destination's bytes.
    if (length)
        std::memmove(dst + 1, src, length);
    dst[0] = static_cast<unsigned char>(length);
}
