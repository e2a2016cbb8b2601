// libinpout32.so: the parallel port library that the program loads as "inpout32.dll".
//
// Supports: Out32 and Inp32 on the first parallel port (0x378 data, 0x379 status, 0x37A
// control) through ppdev (/dev/parport0, claimed once and kept), and on any port through
// ioperm + outb/inb where the process may (x86 with CAP_SYS_RAWIO). When neither is possible
// Out32 does nothing and Inp32 answers 0, silently: lamps on a port are a nicety, and the
// program has no way to report it. Access is tried once per process.
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#if defined(__i386__) || defined(__x86_64__)
#include <sys/io.h>
#define INPOUT_HAS_PORT_IO 1
#endif

namespace {

constexpr unsigned kFirstPort = 0x378;

enum class Access { Untried, Ppdev, PortIo, None };

struct PortAccess {
    Access access;
    int ppdev;
};

PortAccess port = {Access::Untried, -1};

bool openPpdev()
{
    int fd = open("/dev/parport0", O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (ioctl(fd, PPCLAIM) != 0) {
        close(fd);
        return false;
    }
    port.ppdev = fd;
    return true;
}

// ppdev reaches the three registers of the first port; other addresses need port I/O.
Access accessFor(unsigned address)
{
    if (port.access == Access::Untried) {
        if (openPpdev())
            port.access = Access::Ppdev;
#ifdef INPOUT_HAS_PORT_IO
        else if (ioperm(kFirstPort, 3, 1) == 0)
            port.access = Access::PortIo;
#endif
        else
            port.access = Access::None;
    }
    bool firstPort = address >= kFirstPort && address <= kFirstPort + 2;
    if (firstPort || port.access == Access::None)
        return port.access;
#ifdef INPOUT_HAS_PORT_IO
    return ioperm(address, 1, 1) == 0 ? Access::PortIo : Access::None;
#else
    return Access::None;
#endif
}

} // namespace

extern "C" __attribute__((visibility("default"))) void Out32(short portAddress, short value)
{
    unsigned address = static_cast<unsigned short>(portAddress);
    unsigned char byte = static_cast<unsigned char>(value);
    switch (accessFor(address)) {
    case Access::Ppdev: {
        int request = address == kFirstPort ? PPWDATA : address == kFirstPort + 2 ? PPWCONTROL : 0;
        if (request)
            ioctl(port.ppdev, request, &byte);
        break;
    }
#ifdef INPOUT_HAS_PORT_IO
    case Access::PortIo:
        outb(byte, address);
        break;
#endif
    default:
        break;
    }
}

extern "C" __attribute__((visibility("default"))) short Inp32(short portAddress)
{
    unsigned address = static_cast<unsigned short>(portAddress);
    unsigned char byte = 0;
    switch (accessFor(address)) {
    case Access::Ppdev: {
        int request = address == kFirstPort       ? PPRDATA
                      : address == kFirstPort + 1 ? PPRSTATUS
                                                  : PPRCONTROL;
        if (ioctl(port.ppdev, request, &byte) != 0)
            byte = 0;
        break;
    }
#ifdef INPOUT_HAS_PORT_IO
    case Access::PortIo:
        byte = inb(address);
        break;
#endif
    default:
        break;
    }
    return byte;
}
