#include "platform/posix_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool writeAll(int fd, const std::string &content)
{
    for (size_t done = 0; done < content.size();) {
        ssize_t put = write(fd, content.data() + done, content.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            if (put == 0)
                errno = ENOSPC;
            return false;
        }
        done += size_t(put);
    }
    return true;
}

} // namespace

int replaceFileWhole(const std::string &target, std::string temporaryTemplate, const std::string &content,
                     mode_t mode)
{
    int fd = mkostemp(temporaryTemplate.data(), O_CLOEXEC);
    if (fd < 0)
        return errno;
    int error = 0;
    if (fchmod(fd, mode) != 0 || !writeAll(fd, content) || fsync(fd) != 0)
        error = errno;
    if (close(fd) != 0 && !error)
        error = errno;
    if (!error && rename(temporaryTemplate.c_str(), target.c_str()) != 0)
        error = errno;
    if (error) {
        unlink(temporaryTemplate.c_str());
        return error;
    }
    // The rename itself must reach the disk too.
    std::string folder = target.substr(0, target.rfind('/') + 1);
    int dir = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return 0;
}

int readRegularFile(const char *path, std::string &content, size_t limit)
{
    content.clear();
    // Checked before the open, so that no device is ever opened, and after it, on what was.
    struct stat info;
    if (stat(path, &info) != 0)
        return errno;
    if (!S_ISREG(info.st_mode))
        return EINVAL;
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return errno;
    int error = 0;
    if (fstat(fd, &info) != 0)
        error = errno;
    else if (!S_ISREG(info.st_mode))
        error = EINVAL;
    else if (size_t(info.st_size) > limit)
        error = EFBIG;
    size_t done = 0;
    while (!error) {
        // Room for one byte more than the file holds, to see its end, or that it grew.
        if (done == content.size())
            content.resize(std::min(std::max(2 * done, size_t(info.st_size) + 1), limit + 1));
        ssize_t got = read(fd, &content[done], content.size() - done);
        if (got == 0)
            break;
        if (got < 0) {
            if (errno != EINTR)
                error = errno;
            continue;
        }
        done += size_t(got);
        if (done > limit)
            error = EFBIG;
    }
    close(fd);
    content.resize(error ? 0 : done);
    return error;
}

std::string userConfigFolder()
{
    const char *config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/')
        return config;
    const char *home = std::getenv("HOME");
    if (!home || home[0] != '/') {
        const passwd *user = getpwuid(getuid());
        home = user ? user->pw_dir : nullptr;
    }
    return home ? std::string(home) + "/.config" : std::string();
}

bool makeFolders(const std::string &folder)
{
    for (size_t slash = 1; slash != std::string::npos;) {
        slash = folder.find('/', slash + 1);
        std::string part = folder.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}
