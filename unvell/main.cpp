// Unvell: turns an emulator save state into its plain image for the editor.
//
//   Unvell -dec <state path>
//
// writes "newstate.dec" beside this program and then creates "flag.unv".

#include "Decompress.h"
#include "FileLock.h"
#include "RunningProgram.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The usage, with the names both sides of the protocol share.
std::string Usage()
{
    const std::string program = platform::ProgramFileName(protocol::kDecompressorName);
    const std::string dec(protocol::kDecompressorSwitch);
    const std::string image(protocol::kWorkingCopyName), flag(protocol::kCompletionFlagName);
    const std::string lock(protocol::kFolderLockName);
    return "Usage: " + program + " " + dec +
           " <state path>\n"
           "\n"
           "Reads an emulator save state (gzip, RZIP or already plain), checks that it is a\n"
           "snapshot this editor can edit, and writes its plain image to \"" +
           image +
           "\" in\n"
           "this program's folder. Once that file is complete and closed it creates\n"
           "\"" +
           flag +
           "\" there. On failure it writes neither file, prints one line naming the\n"
           "file and the cause, and exits with 1 (cannot read or write) or 3 (not a state).\n"
           "\n"
           "The words after " +
           dec +
           ", joined by single spaces, form the path, so an unquoted\n"
           "path with spaces works too.\n"
           "\n"
           "Run on its own, it first takes the folder's lock \"" +
           lock +
           "\" (waiting up\n"
           "to five seconds), so it never writes into a load or save of the editor.\n";
}

// How long a run of its own waits for a load or save of an editor to finish with the folder.
constexpr auto kLockWait = std::chrono::seconds(5);

// A path as a message shows it, in UTF-8 whatever the system's own characters.
std::string Shown(const platform::Path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// The editor that started this run, as the environment names it; 0 when started on its own.
long EditorProcessId()
{
    const char* value = std::getenv(std::string(protocol::kEditorVariable).c_str());
    return value ? std::strtol(value, nullptr, 10) : 0;
}

// A failure's one line on standard error, in the form the editor reads: the prefix, the state,
// the cause.
void SayWhy(const platform::Path& path, const std::string& cause)
{
    std::fprintf(stderr, "%.*s%s: %s\n", int(protocol::kErrorPrefix.size()),
                 protocol::kErrorPrefix.data(), Shown(path).c_str(), cause.c_str());
}

int Run(const std::vector<platform::Path>& args)
{
    const std::size_t argc = args.size();
    if (argc == 2 && (args[1] == "--help" || args[1] == "-h")) {
        std::fputs(Usage().c_str(), stdout);
        return unvell::kExitOk;
    }
    if (argc < 3 || args[1] != protocol::kDecompressorSwitch) {
        std::fputs(Usage().c_str(), stderr);
        return unvell::kExitUsage;
    }
    platform::Path path = args[2];
    for (std::size_t i = 3; i < argc; ++i) {
        path += " ";
        path += args[i].native();
    }

    const platform::Path folder = platform::ProgramFolder(args[0]);
    // Started by an editor, it works under the editor's lock on the folder. Started on its own,
    // it takes that lock itself, so it never writes its image into an editor's frame.
    const platform::Path lockPath = folder / protocol::kFolderLockName;
    platform::FileLock lock;
    if (const long editor = EditorProcessId()) {
        // If the editor dies mid-frame, this run dies too instead of writing into the folder
        // while a later frame runs. An editor already gone (killed in the moment this run
        // started, say), or one that holds the folder no more, is no frame to write into.
        if (!platform::DieWithParent(editor) || !platform::FolderLockHeldBy(lockPath, editor)) {
            SayWhy(path, "the editor that started it has ended");
            return unvell::kExitFailure;
        }
    } else {
        const std::error_code locked = lock.lockFolderFile(lockPath, kLockWait);
        if (locked) {
            const std::string cause =
                locked == platform::LockError::Busy
                    ? "the folder " + Shown(folder) + " is in use by a load or save; try again"
                : locked == platform::LockError::NotRegular
                    ? "the lock file " + Shown(lockPath) + " is " +
                          platform::KindName(platform::FactsOf(lockPath, false).kind) +
                          "; remove it"
                    : "cannot create the lock file " + Shown(lockPath) + ": " + locked.message();
            SayWhy(path, cause);
            return unvell::kExitFailure;
        }
    }

    const auto outcome = unvell::DecompressToFolder(path, folder);
    if (!outcome.ok())
        SayWhy(path, outcome.cause());
    return outcome.exitCode();
}

}  // namespace

// The arguments as the system holds them: on Windows in UTF-16, so that any state name arrives
// whole.
#if defined(_WIN32)
int wmain(int argc, wchar_t** argv)
#else
int main(int argc, char** argv)
#endif
{
    platform::AbortAsACrash();
    platform::ConsoleTakesUtf8();  // its messages are UTF-8
    return Run(std::vector<platform::Path>(argv, argv + argc));
}
