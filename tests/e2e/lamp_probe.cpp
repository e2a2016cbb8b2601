// How long a lamp takes to light: moves a machine's counters and times, to the millisecond,
// until the pixel at x, y of the screen changes colour.
//   lamp_probe <x> <y> <stat file> <reads> <writes> <timeout ms>
//   lamp_probe <x> <y>: prints the colour there now, "rrggbb".
// The stat file is replaced whole (written beside it, then renamed), as the kernel's never
// shows half a line. Prints "<ms> <colour before> <colour after>"; exits 1 on a time-out.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

unsigned long pixelAt(Display *display, int x, int y)
{
    XImage *image = XGetImage(display, DefaultRootWindow(display), x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image)
        return ~0ul;
    unsigned long pixel = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    return pixel;
}

bool writeCounters(const std::string &path, unsigned long long reads, unsigned long long writes)
{
    std::string temporary = path + ".probe";
    FILE *file = std::fopen(temporary.c_str(), "w");
    if (!file)
        return false;
    std::fprintf(file, "%8llu 0 %8llu 0 %8llu 0 %8llu 0 0 0 0 0 0 0 0\n", reads, reads * 8, writes, writes * 8);
    return std::fclose(file) == 0 && std::rename(temporary.c_str(), path.c_str()) == 0;
}

// Moves the counters and waits for the pixel to change: 0, or 1 on a time-out.
int watch(Display *display, int x, int y, const char *stat, unsigned long long reads, unsigned long long writes,
          long timeout)
{
    unsigned long before = pixelAt(display, x, y);
    auto start = std::chrono::steady_clock::now();
    if (!writeCounters(stat, reads, writes)) {
        std::perror(stat);
        return 2;
    }
    for (;;) {
        unsigned long now = pixelAt(display, x, y);
        auto elapsed = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (now != before) {
            std::printf("%.1f %06lx %06lx\n", elapsed, before & 0xffffff, now & 0xffffff);
            return 0;
        }
        if (elapsed > timeout) {
            std::printf("timeout %06lx\n", before & 0xffffff);
            return 1;
        }
        usleep(500);
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 7 && argc != 3) {
        std::fprintf(stderr, "usage: %s <x> <y> <stat file> <reads> <writes> <timeout ms>\n", argv[0]);
        return 2;
    }
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "lamp_probe: no display\n");
        return 2;
    }
    int x = std::atoi(argv[1]), y = std::atoi(argv[2]);
    int status = argc == 3 ? 0 : watch(display, x, y, argv[3], std::strtoull(argv[4], nullptr, 10),
                                          std::strtoull(argv[5], nullptr, 10), std::atol(argv[6]));
    if (argc == 3)
        std::printf("%06lx\n", pixelAt(display, x, y) & 0xffffff);
    XCloseDisplay(display);
    return status;
}
