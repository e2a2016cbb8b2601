// The floor for a poll in a Qt program: same_reads_loop.c's reads, on a QTimer in a
// QApplication's event loop, and nothing else. bench/poll_cost runs it beside the program to
// show what the toolkit's loop itself costs on this machine.
//   qt_timer_floor <interval ms> <meminfo> [-d <counter file>]... [-v <mount point>]...
#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <interval ms> <meminfo> [-d <counter file>]... [-v <mount point>]...\n",
                     argv[0]);
        return 2;
    }
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    int memFd = open(argv[2], O_RDONLY | O_CLOEXEC);
    std::vector<int> counterFds;
    std::vector<std::string> mounts;
    for (int i = 3; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "-d"))
            counterFds.push_back(open(argv[i + 1], O_RDONLY | O_CLOEXEC));
        else if (!std::strcmp(argv[i], "-v"))
            mounts.push_back(argv[i + 1]);
    }
    unsigned long long sum = 0;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        char text[8192];
        for (int fd : counterFds)
            if (pread(fd, text, 511, 0) > 0)
                sum += std::strtoull(text, nullptr, 10);
        for (const std::string &mount : mounts) {
            struct statvfs vfs;
            if (statvfs(mount.c_str(), &vfs) == 0)
                sum += vfs.f_bfree;
        }
        ssize_t got = pread(memFd, text, sizeof text - 1, 0);
        if (got > 0) {
            text[got] = 0;
            if (const char *available = std::strstr(text, "MemAvailable:"))
                sum += std::strtoull(available + 13, nullptr, 10);
        }
    });
    timer.start(std::atoi(argv[1]));
    return application.exec() + int(sum & 0);
}
