// Reads the .res file embedded at build time. Supports numeric types and names only (the
// program names every resource by number); named resources are skipped.
#include "platform/resources.h"

#include <cstring>

extern const unsigned char programResources[];
extern const size_t programResourcesSize;

namespace {

uint32_t dword(const unsigned char *p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

uint16_t word(const unsigned char *p)
{
    return uint16_t(p[0] | p[1] << 8);
}

// A type or name field: 0xFFFF and a number, or a zero-terminated UTF-16 string (-1).
int readId(const unsigned char *&p, const unsigned char *end)
{
    if (end - p >= 4 && word(p) == 0xFFFF) {
        int id = word(p + 2);
        p += 4;
        return id;
    }
    while (end - p >= 2 && word(p) != 0)
        p += 2;
    p = end - p >= 2 ? p + 2 : end; // never past the header, even when the string runs to its end
    return -1;
}

} // namespace

ResourceData findResource(uint16_t type, uint16_t id)
{
    return findResourceIn(programResources, programResourcesSize, type, id);
}

ResourceData findResourceIn(const unsigned char *image, size_t size, uint16_t type, uint16_t id)
{
    const unsigned char *p = image;
    const unsigned char *end = image + size;
    while (end - p >= 32) {
        uint32_t dataSize = dword(p);
        uint32_t headerSize = dword(p + 4);
        if (headerSize < 16 || headerSize > size_t(end - p) || dataSize > size_t(end - p) - headerSize)
            break;
        const unsigned char *field = p + 8;
        int entryType = readId(field, p + headerSize);
        int entryName = readId(field, p + headerSize);
        if (entryType == type && entryName == id && dataSize > 0)
            return {p + headerSize, dataSize};
        // Entries start on 4-byte boundaries; a last one may lack its padding.
        size_t step = (size_t(headerSize) + dataSize + 3) & ~size_t(3);
        if (step > size_t(end - p))
            break;
        p += step;
    }
    return {nullptr, 0};
}
