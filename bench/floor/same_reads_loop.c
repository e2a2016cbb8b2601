/* The floor for a poll: the reads a pass of TallowLAMP needs and nothing else, on a fixed
 * rhythm. bench/poll_cost runs it beside the program and compares their CPU time.
 *   same_reads_loop <interval ms> <meminfo> [-d <counter file>]... [-v <mount point>]...
 * Each pass: one pread at 0 of every counter file (kept open, as a loop written for speed
 * would), one statvfs of every mount point, one pread of meminfo; then it sleeps until the
 * next pass is due. Runs until killed. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

enum { kMaxFiles = 256 };

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s <interval ms> <meminfo> [-d <counter file>]... [-v <mount point>]...\n", argv[0]);
        return 2;
    }
    long interval = strtol(argv[1], NULL, 10);
    int memFd = open(argv[2], O_RDONLY | O_CLOEXEC);
    int counterFds[kMaxFiles], counters = 0;
    const char *mounts[kMaxFiles];
    int mountCount = 0;
    for (int i = 3; i + 1 < argc; i += 2) {
        if (!strcmp(argv[i], "-d") && counters < kMaxFiles) {
            if ((counterFds[counters++] = open(argv[i + 1], O_RDONLY | O_CLOEXEC)) < 0) {
                perror(argv[i + 1]);
                return 1;
            }
        } else if (!strcmp(argv[i], "-v") && mountCount < kMaxFiles) {
            mounts[mountCount++] = argv[i + 1];
        }
    }
    if (interval <= 0 || memFd < 0) {
        fprintf(stderr, "%s: bad interval or meminfo\n", argv[0]);
        return 1;
    }

    struct timespec due;
    clock_gettime(CLOCK_MONOTONIC, &due);
    char text[8192];
    unsigned long long sum = 0; /* keeps the reads from being optimised away */
    for (;;) {
        for (int i = 0; i < counters; ++i) {
            ssize_t got = pread(counterFds[i], text, 511, 0);
            if (got > 0)
                sum += strtoull(text, NULL, 10);
        }
        for (int i = 0; i < mountCount; ++i) {
            struct statvfs vfs;
            if (statvfs(mounts[i], &vfs) == 0)
                sum += vfs.f_bfree;
        }
        ssize_t got = pread(memFd, text, sizeof text - 1, 0);
        if (got > 0) {
            text[got] = 0;
            const char *available = strstr(text, "MemAvailable:");
            if (available)
                sum += strtoull(available + 13, NULL, 10);
        }
        due.tv_nsec += (interval % 1000) * 1000000L;
        due.tv_sec += interval / 1000 + due.tv_nsec / 1000000000L;
        due.tv_nsec %= 1000000000L;
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, NULL) != 0) {
        }
    }
    return (int)(sum & 1);
}
