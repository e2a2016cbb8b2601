// Linked into every Linux test executable: before any test runs, HOME, XDG_CONFIG_HOME,
// XDG_RUNTIME_DIR and TMPDIR point into a fresh scratch folder, removed at exit, so that no
// test, run by ctest or by hand, reaches the user's settings, autostart entries or locks.
// Children started by a test inherit the same folder.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string scratch;

void removeScratch()
{
    // Only the process that made it; children exiting early leave it to their parent.
    const char *owner = std::getenv("TALLOW_TEST_SCRATCH_OWNER");
    if (!scratch.empty() && owner && owner == std::to_string(getpid())) {
        std::string command = "rm -rf '" + scratch + "'";
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "scratch_home: could not remove %s\n", scratch.c_str());
    }
}

bool makeScratch()
{
    if (std::getenv("TALLOW_TEST_SCRATCH"))
        return true;
    char pattern[] = "/tmp/tallow-test-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("scratch_home: mkdtemp");
        std::abort(); // running on against the real folders is worse than not running
    }
    scratch = pattern;
    for (const char *folder : {"/home", "/home/.config", "/runtime", "/tmp"})
        mkdir((scratch + folder).c_str(), 0700);
    setenv("HOME", (scratch + "/home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (scratch + "/home/.config").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (scratch + "/runtime").c_str(), 1);
    setenv("TMPDIR", (scratch + "/tmp").c_str(), 1);
    setenv("TALLOW_TEST_SCRATCH", scratch.c_str(), 1);
    setenv("TALLOW_TEST_SCRATCH_OWNER", std::to_string(getpid()).c_str(), 1);
    std::atexit(removeScratch);
    return true;
}

const bool scratchReady = makeScratch();

} // namespace
