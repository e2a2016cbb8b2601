// The program's icons as LoadIconA reads them (an icon group's choice of image, then the
// image: BMP of 1 to 32 bits, or PNG) from a .res image of any bytes, for every group id the
// program loads. No read goes past the image (ASan); an icon made is 32x32; one not made says
// why in GetLastError; DestroyIcon leaves no icon behind.
#include "platform/gdi_objects.h"
#include "platform/layer_testing.h"
#include "res/resource.h"
#include "tests/fuzz/fuzz_support.h"

// findResource's own image, which this target never reads.
extern const unsigned char programResources[] = {0};
extern const size_t programResourcesSize = 0;

namespace {

constexpr DWORD kErrorResourceDataNotFound = 1812;
constexpr DWORD kErrorResourceNameNotFound = 1814;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    for (uint16_t id : {IDI_STD_IDLE, IDI_STD_READ, IDI_STD_WRITE, IDI_STD_READWRITE, IDI_ALT_IDLE, IDI_ALT_READ,
                        IDI_ALT_WRITE, IDI_ALT_READWRITE, IDI_METER}) {
        SetLastError(0);
        HICON icon = layerLoadIconIn(data, size, id);
        if (!icon) {
            DWORD error = GetLastError();
            if (error != kErrorResourceDataNotFound && error != kErrorResourceNameNotFound)
                fuzzFailure("no icon %u, error %u", id, error);
            continue;
        }
        QImage picture = layerIconImage(icon);
        if (picture.width() != 32 || picture.height() != 32)
            fuzzFailure("icon %u is %dx%d", id, picture.width(), picture.height());
        if (!DestroyIcon(icon))
            fuzzFailure("icon %u cannot be destroyed", id);
    }
    if (int left = layerIconCount())
        fuzzFailure("%d icons left", left);
    return 0;
}
