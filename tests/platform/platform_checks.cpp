// The platform layer's promises, checked the same way on every system it is built for: run
// natively here, and under Wine for the Windows build. Plain C++, no Qt, so it runs before a Qt
// for the other system is at hand. Prints "N passed, N failed".

#include "File.h"
#include "FileLock.h"
#include "Folder.h"
#include "NewFileBeside.h"
#include "RunningProgram.h"
#include "Wine.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <cstdlib>

#include <unistd.h>
#endif

namespace {

using namespace platform;
using namespace std::chrono_literals;

// A process id other than this one's.
long AnotherProcessId()
{
#if defined(_WIN32)
    return long(::GetCurrentProcessId()) + 4;  // Windows' ids are multiples of four
#else
    return long(::getpid()) + 1;
#endif
}

int passed = 0, failed = 0;

void Check(bool ok, const char* what)
{
    (ok ? passed : failed)++;
    if (!ok)
        std::printf("FAIL: %s\n", what);
}

std::string Read(const Path& path)
{
    const File file = File::open(path, Access::Read);
    return file.valid() ? (file.readWhole() ? file.readWhole().value() : std::string())
                        : std::string();
}

void Write(const Path& path, const std::string& bytes)
{
    File file = File::createOrTruncate(path, 0644);
    (void)file.writeAll(bytes.data(), bytes.size());
}

// A folder of its own for one run, removed afterwards.
struct Scratch {
    Path path;
    Scratch()
    {
        std::random_device random;
        path = std::filesystem::temp_directory_path() /
               ("cindral-platform-" + std::to_string(random()));
        std::filesystem::create_directories(path);
    }
    ~Scratch()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

void FilesAndStamps(const Path& dir)
{
    const Path path = dir / "state.000";
    Write(path, "first");
    File file = File::open(path, Access::ReadWrite);
    Check(file.valid(), "an existing file opens");
    const auto before = file.stamp();
    char bytes[5] = {};
    Check(!file.readAt(0, bytes, 5) && std::string(bytes, 5) == "first", "readAt reads");
    Check(!file.writeAt(0, "FIRST", 5), "writeAt writes");
    Check(Read(path) == "FIRST", "the write is in the file");
    Check(file.facts().kind == FileKind::Regular, "a file is a regular file");
    Check(before && file.stamp() && before->inode == file.stamp()->inode,
          "a stamp keeps the file's identity");
    // Counted from 1970 in nanoseconds on every system: within a day of the clock's now.
    const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    const auto day = std::int64_t(86400) * 1000000000;
    Check(before && before->modifiedNs > now - day && before->modifiedNs < now + day,
          "a stamp's time is the time since 1970");
    Check(File::create(path).error() == std::errc::file_exists, "create refuses an existing file");
    Check(FactsOf(dir / "missing").kind == FileKind::Missing, "a missing name has no facts");
}

void Folders(const Path& dir)
{
    Folder folder = Folder::open(dir);
    Check(folder.valid() && folder.facts().kind == FileKind::Folder, "a folder opens");
    Folder inner = Folder::createIn(folder, "inner");
    Check(inner.valid(), "a folder is made inside another");
    File made = File::createIn(inner, "a.000");
    Check(made.valid(), "a file is made inside an open folder");
    (void)made.writeAll("aa", 2);
    (void)made.close();
    Write(dir / "inner" / "b.000", "bb");
    std::vector<Path> names = inner.entryNames();
    Check(names.size() == 2, "the folder lists its two files");
    Check(inner.rename("a.000", "b.000") == std::errc::file_exists,
          "a rename never goes over an existing name");
    Check(!inner.rename("a.000", "c.000") && Read(dir / "inner" / "c.000") == "aa",
          "a rename to a free name moves the file");
    Check(!inner.renameOver("c.000", "b.000") && Read(dir / "inner" / "b.000") == "aa",
          "renameOver replaces the target");
    File target = File::open(dir / "inner" / "b.000", Access::Read);
    Check(!inner.link(target, "second.000") && Read(dir / "inner" / "second.000") == "aa",
          "an open file gets a second name");
    Check(inner.factsOf("second.000").links == 2, "both names count");
    // Windows keeps a removed name until the last handle on its file is closed.
    (void)target.close();
    Check(!inner.remove("second.000") && inner.factsOf("second.000").kind == FileKind::Missing,
          "a name is removed");
}

void Locks(const Path& dir)
{
    const Path state = dir / "locked.000";
    Write(state, "party");
    FileLock first;
    Check(!first.lockExistingFile(state, 0ms), "a state is locked");
    FileLock second;
    Check(second.lockExistingFile(state, 50ms) == std::error_code(LockError::Busy),
          "a second lock on it waits and reports busy");
    Check(first.stillAsLocked(), "nobody wrote it yet");
    // The lock must not stand in the way of a program that ignores it (the emulator saving).
    File emulator = File::open(state, Access::ReadWrite);
    Check(emulator.valid() && !emulator.writeAt(0, "PARTYX", 6), "another program still writes it");
    (void)emulator.close();
    Check(Read(state) == "PARTYX", "and its write is in the file");
    Check(!first.unchangedSinceLocked() && !first.stillAsLocked(), "the lock sees that write");
    first.release();
    Check(!second.lockExistingFile(state, 0ms), "a released lock can be taken again");

    const Path lockFile = dir / "cindral-editor.lock";
    FileLock folderLock;
    Check(!folderLock.lockFolderFile(lockFile, 0ms), "a folder's lock file is made and locked");
    Check(FolderLockHeldBy(lockFile, AnotherProcessId()) == false,
          "the lock is not said to be held by another process");
    FileLock other;
    Check(other.lockFolderFile(lockFile, 50ms) == std::error_code(LockError::Busy),
          "a second folder lock reports busy");
    folderLock.release();
    Check(FactsOf(lockFile, false).kind == FileKind::Missing, "release removes the lock file");
    // A lock file a program left when it ended, holding a longer line than ours, is taken over
    // and then holds our line alone.
    Write(lockFile, "12345678901234567890\n");
    Check(!folderLock.lockFolderFile(lockFile, 0ms), "a lock file left behind is taken over");
    const std::string line = Read(lockFile);
    Check(!line.empty() && line.size() < 20 && line.find('\n') == line.size() - 1,
          "and holds its holder's line alone");
    folderLock.release();
}

void Replacing(const Path& dir)
{
    const Path target = dir / "replaced.000";
    Write(target, "old bytes");
    {
        NewFileBeside beside(target);
        Check(beside.valid(), "a new file is opened beside the target");
        const File old = File::open(target, Access::Read);
        beside.keepOwnershipOf(old);
        Check(!beside.file().writeAll("new bytes!", 10), "the new contents are written");
        Check(!beside.file().syncData() && !beside.name(), "they reach the disk and get a name");
        Check(Read(target) == "old bytes", "the target is untouched until the rename");
        Check(!beside.renameOverTarget(), "the rename puts them in place");
    }
    Check(Read(target) == "new bytes!", "the target holds the new contents");
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        files += entry.is_regular_file();
    Check(files == 1, "no temporary file is left beside it");
    {
        NewFileBeside dropped(target);
        (void)dropped.file().writeAll("never", 5);
    }
    files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        files += entry.is_regular_file();
    Check(files == 1 && Read(target) == "new bytes!", "a new file given up leaves nothing");
}

// What Windows keeps for itself, and paths past its old limit.
void Names(const Path& dir)
{
    struct Row {
        const char* name;
        const char* device;  // on Windows; an ordinary name elsewhere
    };
    for (const Row& row : {Row{"con.000", "CON"}, Row{"AUX", "AUX"}, Row{"lpt1 .sav", "LPT1"},
                           Row{"com9.000", "COM9"}, Row{"nul.tar.gz", "NUL"},
                           Row{"console.000", ""}, Row{"com10.000", ""}, Row{"state.000", ""}}) {
#if defined(_WIN32)
        const std::string expected = row.device;
#else
        const std::string expected;
#endif
        Check(ReservedDeviceName(dir / row.name) == expected, row.name);
    }
#if defined(_WIN32)
    Check(OnNetwork(Path(L"\\\\server\\share\\state.000")), "a UNC path is on the network");
    Check(!OnNetwork(Path(L"\\\\?\\C:\\state.000")), "the extended form is not");
#endif
    Check(!OnNetwork(dir / "state.000"), "a local folder is not on the network");

    // 300 characters and more: written, read, locked and replaced like any other.
    Path deep = dir;
    for (int i = 0; i < 6; ++i)
        deep /= std::string(50, char('a' + i));
    std::error_code made;
    std::filesystem::create_directories(deep, made);
    const Path state = deep / "deep.000";
    Write(state, "old");
    Check(Read(state) == "old", "a file past 260 characters is written and read");
    FileLock lock;
    Check(!lock.lockExistingFile(state, 0ms), "and locked");
    if (testsupport::RunningUnderWine()) {
        // Wine's ReplaceFileW moves the old file aside through a buffer of MAX_PATH characters.
        std::printf("skipped under Wine: replacing a file past 260 characters\n");
        return;
    }
    {
        NewFileBeside beside(state);
        const File old = File::open(state, Access::Read);
        beside.keepOwnershipOf(old);
        Check(beside.valid() && !beside.file().writeAll("new", 3),
              "a new file is written beside it");
        Check(!beside.name(), "and named");
        const std::error_code renamed = beside.renameOverTarget();
        if (renamed)
            std::printf("%s\n", renamed.message().c_str());
        Check(!renamed, "and put in its place");
    }
    Check(Read(state) == "new", "with the new contents");
}

// Where the window may open: Windows always has its desktop, whatever Unix variables Wine hands
// over; elsewhere a display must be named.
void Displays(const Path&)
{
#if defined(_WIN32)
    ::_putenv("DISPLAY=");
    ::_putenv("WAYLAND_DISPLAY=");
    Check(DisplayNamed(""), "Windows needs no display named");
    Check(DisplayNamed("windows"), "nor for its own platform");
#else
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    Check(!DisplayNamed("") && !DisplayNamed("xcb") && !DisplayNamed("wayland"),
          "X11 and Wayland need a display named");
    Check(DisplayNamed("offscreen"), "offscreen needs none");
    ::setenv("WAYLAND_DISPLAY", "wayland-0", 1);
    Check(DisplayNamed(""), "a Wayland display named is one");
#endif
}

#if defined(_WIN32)
// The moment a lock file's holder has marked it for removal and not yet closed it: another
// program's lock waits, and is not told that the folder cannot be written.
void LockFileBeingRemoved(const Path& dir)
{
    const Path lockFile = dir / "folder.lock";
    const HANDLE holder = ::CreateFileW(lockFile.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    FILE_DISPOSITION_INFO remove{TRUE};
    Check(holder != INVALID_HANDLE_VALUE &&
              ::SetFileInformationByHandle(holder, FileDispositionInfo, &remove, sizeof remove),
          "a lock file is marked for removal while held");
    std::thread closing([&] {
        std::this_thread::sleep_for(300ms);
        ::CloseHandle(holder);
    });
    FileLock lock;
    const std::error_code locked = lock.lockFolderFile(lockFile, 20s);
    closing.join();
    if (locked)
        std::printf("%s\n", locked.message().c_str());
    Check(!locked, "the next lock waits for the holder to close it, then takes it");
}
#endif

}  // namespace

int main()
{
    const std::vector<std::pair<const char*, std::function<void(const Path&)>>> groups
    {
        {"files", FilesAndStamps}, {"folders", Folders}, {"locks", Locks}, {"replace", Replacing},
            {"names", Names}, {"displays", Displays},
#if defined(_WIN32)
            {"lock file being removed", LockFileBeingRemoved},
#endif
    };
    for (const auto& [name, run] : groups) {
        Scratch scratch;
        const int before = failed;
        run(scratch.path);
        if (failed != before)
            std::printf("in %s\n", name);
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
