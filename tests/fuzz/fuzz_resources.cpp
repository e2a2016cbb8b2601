// The .res reader (findResourceIn): an image of any bytes, looked up for every resource the
// program loads (the dialog, the icon groups, their images) and for a type and identifier
// taken from the image's first bytes. A found resource lies inside the image and is not
// empty; libFuzzer's copy of the input ends where the image does, so ASan sees any read past
// it.
#include "platform/resources.h"
#include "res/resource.h"
#include "tests/fuzz/fuzz_support.h"

// findResource's own image, which this target never reads.
extern const unsigned char programResources[] = {0};
extern const size_t programResourcesSize = 0;

namespace {

void lookUp(const uint8_t *image, size_t size, uint16_t type, uint16_t id)
{
    ResourceData found = findResourceIn(image, size, type, id);
    if (!found.bytes) {
        if (found.size)
            fuzzFailure("no resource %u/%u, but a size of %zu", type, id, found.size);
        return;
    }
    if (found.size == 0 || found.bytes < image || found.size > size_t(image + size - found.bytes))
        fuzzFailure("resource %u/%u at %td, %zu bytes, outside an image of %zu", type, id, found.bytes - image,
                    found.size, size);
    // Every byte of it is there to read.
    volatile unsigned char sum = 0;
    for (size_t i = 0; i < found.size; ++i)
        sum = sum + found.bytes[i];
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    lookUp(data, size, RES_TYPE_DIALOG, IDD_MAIN);
    for (uint16_t icon : {IDI_STD_IDLE, IDI_STD_READ, IDI_STD_WRITE, IDI_STD_READWRITE, IDI_ALT_IDLE, IDI_ALT_READ,
                          IDI_ALT_WRITE, IDI_ALT_READWRITE, IDI_METER})
        lookUp(data, size, RES_TYPE_GROUP_ICON, icon);
    // windres numbers the images of the groups from 1.
    for (uint16_t image = 1; image <= 12; ++image)
        lookUp(data, size, RES_TYPE_ICON, image);
    if (size >= 4)
        lookUp(data, size, uint16_t(data[0] | data[1] << 8), uint16_t(data[2] | data[3] << 8));
    return 0;
}
