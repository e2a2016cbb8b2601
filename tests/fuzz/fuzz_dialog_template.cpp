// The dialog template reader (parseDialogTemplate): a template of any bytes. No read goes past
// it (libFuzzer's copy of the input ends where the template does, so ASan sees any); a
// template it accepts has as many controls as its header counts, and texts without zeros, as
// they go on to the controls as C strings.
#include "platform/user32_template.h"
#include "tests/fuzz/fuzz_support.h"

#include <cstring>

// A feature the layer does not read ends a debug build; here it is passed, as in a release
// build, so that the reader's way past it is fuzzed too (linked with --wrap).
extern "C" void __wrap__Z16layerUnsupportedPKc(const char *) {}

namespace {

void checkText(const std::string &text, const char *what)
{
    if (std::strlen(text.c_str()) != text.size())
        fuzzFailure("the %s %s holds a zero", what, printable(text).c_str());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    DialogTemplate dialog;
    if (!parseDialogTemplate(ResourceData{data, size}, dialog))
        return 0;
    // DLGTEMPLATEEX counts its controls in the word at 16.
    size_t count = size >= 18 ? size_t(data[16] | data[17] << 8) : 0;
    if (dialog.items.size() != count)
        fuzzFailure("%zu controls read of %zu", dialog.items.size(), count);
    checkText(dialog.title, "title");
    checkText(dialog.face, "face");
    for (const ItemTemplate &item : dialog.items) {
        checkText(item.className, "class");
        checkText(item.text, "caption");
    }
    return 0;
}
