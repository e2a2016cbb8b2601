#include "persist/settings_file.h"

#include <cstdio>
#include <cstring>

namespace {

const char generalSection[] = "GENERALOPTIONS";

// The profile interface answers at most 63 characters of a value.
struct Value {
    char text[64];
};

Value readValue(const char *section, const char *key, const char *fallback, const GeneralOptions *options)
{
    Value value = {};
    GetPrivateProfileStringA(section, key, fallback, value.text, sizeof value.text, options->iniPath);
    return value;
}

// Only "no", in any letter case, is false.
BOOL readBoolean(const char *section, const char *key, const char *fallback, const GeneralOptions *options)
{
    Value value = readValue(section, key, fallback, options);
    return std::strcmp(_strlwr(value.text), "no") != 0;
}

// Leading white space, one sign, decimal digits up to the first other character, kept modulo
// 2^32: a negative field written in its unsigned form reads back as itself.
uint32_t readNumber(const char *section, const char *key, const char *fallback, const GeneralOptions *options)
{
    Value value = readValue(section, key, fallback, options);
    const char *p = value.text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    uint32_t number = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        number = number * 10 + uint32_t(*p - '0');
    return negative ? 0u - number : number;
}

uint8_t readByte(const char *section, const char *key, const char *fallback, const GeneralOptions *options)
{
    return uint8_t(readNumber(section, key, fallback, options));
}

// A save goes on key by key past a failed write, as the profile interface allows, and keeps
// the first failure's reason for the one message it gives.
struct Saving {
    const GeneralOptions *options;
    DWORD error;
    bool failed;
};

void writeText(Saving *save, const char *section, const char *key, const char *text)
{
    if (!WritePrivateProfileStringA(section, key, text, save->options->iniPath) && !save->failed) {
        save->failed = true;
        save->error = GetLastError();
    }
}

void writeBoolean(Saving *save, const char *section, const char *key, BOOL value)
{
    writeText(save, section, key, value ? "Yes" : "No");
}

void writeNumber(Saving *save, const char *section, const char *key, uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u", unsigned(value));
    writeText(save, section, key, text);
}

// Settings the user believes saved would be lost at the next start without a word.
void reportSaveFailure(const Saving &save)
{
    char reason[256] = "";
    if (!FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, save.error, 0, reason,
                        sizeof reason, NULL))
        std::snprintf(reason, sizeof reason, "error %lu", (unsigned long)save.error);
    // The system's text ends in a full stop and a line break; the message has its own.
    size_t length = std::strlen(reason);
    while (length && (reason[length - 1] == '\r' || reason[length - 1] == '\n' || reason[length - 1] == ' ' ||
                      reason[length - 1] == '.'))
        reason[--length] = 0;
    char text[2 * MAX_PATH + 64];
    std::snprintf(text, sizeof text, "The settings could not be saved to %s: %s.", save.options->iniPath, reason);
    MessageBoxA(save.options->dialogWindow, text, "TallowLAMP", MB_OK | MB_ICONERROR);
}

struct ColorKeys {
    Rgb GeneralOptions::*field;
    const char *red;
    const char *green;
    const char *blue;
    const char *defaults[3];
};

const ColorKeys colorKeys[] = {
    {&GeneralOptions::colorCpu, "Color_cpu_red", "Color_cpu_green", "Color_cpu_blue", {"16", "128", "16"}},
    {&GeneralOptions::colorRam, "Color_ram_red", "Color_ram_green", "Color_ram_blue", {"64", "64", "255"}},
    {&GeneralOptions::colorVram, "Color_vram_red", "Color_vram_green", "Color_vram_blue", {"228", "128", "16"}},
    {&GeneralOptions::colorBackground, "Color_background_red", "Color_background_green", "Color_background_blue",
     {"64", "0", "64"}},
};

// The head placeholder's section is the one with the empty name; the tail placeholder, the
// Unit without a next, is never visited.
template <typename Visit> void visitUnits(Unit **cursor, Visit visit)
{
    for (Unit *unit = unitListHead(*cursor); unit && unit->next; unit = unit->next)
        visit(unit);
}

void writeWindowRectangle(Saving *save, const RECT &rect)
{
    writeNumber(save, generalSection, "WindowPosTop", uint32_t(rect.top));
    writeNumber(save, generalSection, "WindowPosLeft", uint32_t(rect.left));
    writeNumber(save, generalSection, "WindowPosRight", uint32_t(rect.right));
    writeNumber(save, generalSection, "WindowPosBottom", uint32_t(rect.bottom));
}

} // namespace

void loadSettings(Unit **cursor, GeneralOptions *options)
{
    const char *g = generalSection;
    options->alternativeIcons = readBoolean(g, "AlternativeIcons", "Yes", options);
    options->startWithOs = readBoolean(g, "StartWithOs", "No", options);
    options->showCpuUsage = readBoolean(g, "ShowCPUUsage", "No", options);
    options->showFreeMem = readBoolean(g, "ShowFreeMem", "No", options);
    options->keyboardLed = readBoolean(g, "KeyboardLED", "No", options);
    options->staticIcon = readBoolean(g, "Staticicon", "No", options);
    options->singleIconMode = readBoolean(g, "SingleIconMode", "No", options);
    options->pollInterval = readNumber(g, "Pollinterval", "100", options);
    options->pollIntervalMeters = readNumber(g, "Pollintervalmeters", "1500", options);
    options->startWithOsDelay = int32_t(readNumber(g, "Startwithosdelay", "1", options));
    options->colorCpuDynamic = readBoolean(g, "Color_cpu_dynamic", "Yes", options);
    for (const ColorKeys &color : colorKeys) {
        Rgb &rgb = options->*color.field;
        rgb.red = readByte(g, color.red, color.defaults[0], options);
        rgb.green = readByte(g, color.green, color.defaults[1], options);
        rgb.blue = readByte(g, color.blue, color.defaults[2], options);
    }

    visitUnits(cursor, [options](Unit *unit) {
        unit->enabled = readBoolean(unit->path, "Enabled", "No", options);
        unit->showInTray = readBoolean(unit->path, "Trayicon", "Yes", options);
        unit->portEnabled = int16_t(readBoolean(unit->path, "ParallelPortMonitorEnabled", "No", options));
        unit->portReadMask = readByte(unit->path, "ParallelPortReadMask", "0x0", options);
        unit->portWriteMask = readByte(unit->path, "ParallelPortWriteMask", "0x0", options);
    });

    options->windowPosTop = int32_t(readNumber(g, "WindowPosTop", "100", options));
    options->windowPosLeft = int32_t(readNumber(g, "WindowPosLeft", "100", options));
    options->windowPosRight = int32_t(readNumber(g, "WindowPosRight", "630", options));
    options->windowPosBottom = int32_t(readNumber(g, "WindowPosBottom", "510", options));
}

void saveSettings(Unit **cursor, GeneralOptions *options)
{
    const char *g = generalSection;
    Saving save = {options, 0, false};
    writeBoolean(&save, g, "StartWithOs", options->startWithOs);
    writeBoolean(&save, g, "AlternativeIcons", options->alternativeIcons);
    writeNumber(&save, g, "Pollinterval", options->pollInterval);
    writeNumber(&save, g, "Pollintervalmeters", options->pollIntervalMeters);
    writeNumber(&save, g, "Startwithosdelay", uint32_t(options->startWithOsDelay));
    writeBoolean(&save, g, "ShowCPUUsage", options->showCpuUsage);
    writeBoolean(&save, g, "ShowFreeMem", options->showFreeMem);
    writeBoolean(&save, g, "SingleIconMode", options->singleIconMode);
    writeBoolean(&save, g, "KeyboardLED", options->keyboardLed);
    writeBoolean(&save, g, "Staticicon", options->staticIcon);
    writeBoolean(&save, g, "Color_cpu_dynamic", options->colorCpuDynamic);
    for (const ColorKeys &color : colorKeys) {
        const Rgb &rgb = options->*color.field;
        writeNumber(&save, g, color.red, rgb.red);
        writeNumber(&save, g, color.green, rgb.green);
        writeNumber(&save, g, color.blue, rgb.blue);
    }

    visitUnits(cursor, [&save](Unit *unit) {
        writeBoolean(&save, unit->path, "Enabled", unit->enabled);
        writeBoolean(&save, unit->path, "Trayicon", unit->showInTray);
        writeBoolean(&save, unit->path, "ParallelPortMonitorEnabled", unit->portEnabled);
        // Older versions read this; the read and write masks are always separate.
        writeBoolean(&save, unit->path, "ParallelPortSeparateRW", unit->portEnabled);
        writeNumber(&save, unit->path, "ParallelPortReadMask", unit->portReadMask);
        writeNumber(&save, unit->path, "ParallelPortWriteMask", unit->portWriteMask);
    });

    // The rectangle of the live window; without one, what was loaded, never an unfilled record.
    WINDOWPLACEMENT placement = {};
    placement.length = sizeof placement;
    if (options->dialogWindow && GetWindowPlacement(options->dialogWindow, &placement)) {
        writeWindowRectangle(&save, placement.rcNormalPosition);
    } else {
        RECT loaded = {options->windowPosLeft, options->windowPosTop, options->windowPosRight,
                       options->windowPosBottom};
        writeWindowRectangle(&save, loaded);
    }
    if (save.failed)
        reportSaveFailure(save);
}
