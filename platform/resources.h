// The program's compiled resources (the .res that windres writes for both builds), found as
// Windows finds them: by type and numeric identifier.
#pragma once

#include <cstddef>
#include <cstdint>

enum : uint16_t {
    RES_TYPE_ICON = 3,
    RES_TYPE_DIALOG = 5,
    RES_TYPE_GROUP_ICON = 14,
};

struct ResourceData {
    const unsigned char *bytes;
    size_t size;
};

// The resource of that type and identifier, or {nullptr, 0}.
ResourceData findResource(uint16_t type, uint16_t id);
// The same in any .res image of size bytes (the fuzz target's way in).
ResourceData findResourceIn(const unsigned char *image, size_t size, uint16_t type, uint16_t id);
