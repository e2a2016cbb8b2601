// LoadLibraryA on Linux: DLL names become shared objects, looked for beside the executable and
// in the system's library path, never in the current directory.
#include "platform/win32.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

typedef void (*Out32Entry)(short, short);
typedef short (*Inp32Entry)(short);

fs::path executableFolder()
{
    return fs::read_symlink("/proc/self/exe").parent_path();
}

// The project's real port library, built into the build root.
fs::path realPortLibrary()
{
    return executableFolder().parent_path() / "libinpout32.so";
}

// A copy of the real library under a name of this test's own, removed at the end.
struct ProbeLibrary {
    fs::path path;
    ProbeLibrary(const fs::path &folder, const char *soname) : path(folder / soname)
    {
        fs::copy_file(realPortLibrary(), path, fs::copy_options::overwrite_existing);
    }
    ~ProbeLibrary()
    {
        std::error_code ignored;
        fs::remove(path, ignored);
    }
};

} // namespace

TEST(LibraryLoading, PathsAndNamesMapToSharedObjects)
{
    ASSERT_TRUE(fs::exists(realPortLibrary())) << realPortLibrary();
    std::string folder = realPortLibrary().parent_path().string();

    // Windows spelling: backslash, any case.
    HMODULE library = LoadLibraryA((folder + "\\INPOUT32.DLL").c_str());
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(LoadLibraryA((folder + "/inpout32.dll").c_str()), library) << "one library, counted";

    FARPROC out = GetProcAddress(library, "Out32");
    ASSERT_NE(out, nullptr);
    FARPROC in = GetProcAddress(library, "Inp32");
    ASSERT_NE(in, nullptr);
    // No parallel port here (or no right to it): both are silently harmless.
    reinterpret_cast<Out32Entry>(reinterpret_cast<void (*)()>(out))(0x378, 0x55);
    reinterpret_cast<Out32Entry>(reinterpret_cast<void (*)()>(out))(0x37A, 0x04);
    EXPECT_GE(reinterpret_cast<Inp32Entry>(reinterpret_cast<void (*)()>(in))(0x379), 0);

    SetLastError(0xdeadbeef);
    EXPECT_EQ(GetProcAddress(library, "Out32@8"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));

    EXPECT_TRUE(FreeLibrary(library));
    EXPECT_TRUE(FreeLibrary(library));
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(FreeLibrary(library)) << "released as often as loaded";
    EXPECT_EQ(GetProcAddress(library, "Out32"), nullptr);

    SetLastError(0xdeadbeef);
    EXPECT_EQ(LoadLibraryA((folder + "/nosuchlibrary.dll").c_str()), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(LoadLibraryA(""), nullptr);
    EXPECT_FALSE(FreeLibrary(reinterpret_cast<HMODULE>(uintptr_t(0x1234))));
}

TEST(LibraryLoading, BareNamesComeFromBesideTheExecutableNeverTheCurrentDirectory)
{
    ASSERT_TRUE(fs::exists(realPortLibrary()));
    fs::path home = fs::current_path();

    {
        ProbeLibrary beside(executableFolder(), "libtallowprobebeside.so");
        HMODULE library = LoadLibraryA("TallowProbeBeside.dll");
        ASSERT_NE(library, nullptr);
        EXPECT_NE(GetProcAddress(library, "Out32"), nullptr);
        EXPECT_TRUE(FreeLibrary(library));
        EXPECT_NE((library = LoadLibraryA("tallowprobebeside")), nullptr) << "no extension: .dll";
        FreeLibrary(library);
    }

    fs::path planted = fs::temp_directory_path() / "tallowlamp_module_cwd";
    fs::create_directories(planted);
    {
        ProbeLibrary inCurrent(planted, "libtallowprobecwd.so");
        fs::current_path(planted);
        EXPECT_EQ(LoadLibraryA("tallowprobecwd.dll"), nullptr);
        HMODULE explicitPath = LoadLibraryA(".\\tallowprobecwd.dll");
        EXPECT_NE(explicitPath, nullptr) << "a path names its folder, as on Windows";
        if (explicitPath)
            FreeLibrary(explicitPath);
        fs::current_path(home);
    }
    std::error_code ignored;
    fs::remove_all(planted, ignored);
}
