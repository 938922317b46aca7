// The four memory routines GCC may call on its own, for images linked
// without a C runtime.
//
// Even code that never names them can get calls to memset, memcpy, memmove
// or memcmp: the compiler emits them for large initialisers and structure
// copies. The launcher links no runtime, so they are here; the linker drops
// whichever the image never calls. This file is built with the compiler's
// loop-to-call rewriting switched off, or each loop below would become a
// call to itself.
#include <stddef.h>

extern "C" {

void *memset(void *dest, int value, size_t count)
{
    unsigned char *d = (unsigned char *) dest;
    while (count-- > 0)
        *d++ = (unsigned char) value;
    return dest;
}

void *memcpy(void *dest, const void *src, size_t count)
{
    unsigned char *d = (unsigned char *) dest;
    const unsigned char *s = (const unsigned char *) src;
    while (count-- > 0)
        *d++ = *s++;
    return dest;
}

void *memmove(void *dest, const void *src, size_t count)
{
    unsigned char *d = (unsigned char *) dest;
    const unsigned char *s = (const unsigned char *) src;
    if (d < s) {
        while (count-- > 0)
            *d++ = *s++;
    } else {
        while (count-- > 0)
            d[count] = s[count];
    }
    return dest;
}

int memcmp(const void *left, const void *right, size_t count)
{
    const unsigned char *l = (const unsigned char *) left;
    const unsigned char *r = (const unsigned char *) right;
    for (; count > 0; count--, l++, r++) {
        if (*l != *r)
            return *l < *r ? -1 : 1;
    }
    return 0;
}

} // extern "C"
