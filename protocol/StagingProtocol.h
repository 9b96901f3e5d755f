#pragma once

// The facts both sides of the decompressor protocol rely on: the editor (process/), the
// decompressor (unvell/) and the test stand-in. Plain C++ with no Qt, so every side can use it.
//
// The editor runs "<folder>/Unvell -dec <state path>"; the decompressor writes the plain image
// to "newstate.dec" in that folder and only then creates "flag.unv" there.

#include <cstddef>
#include <string_view>

namespace protocol {

inline constexpr std::string_view kWorkingCopyName = "newstate.dec";
inline constexpr std::string_view kPartialSuffix = ".part";  // the image while it is written
inline constexpr std::string_view kCompletionFlagName = "flag.unv";
// Held by whoever works in the program folder: an editor's frame, or a decompressor started on
// its own. The decompressor an editor starts runs under that editor's lock (kEditorVariable).
inline constexpr std::string_view kFolderLockName = "cindral-editor.lock";
inline constexpr std::string_view kDecompressorSwitch = "-dec";
// Set by an editor in the decompressor's environment: its process id. A run that has it works
// under that editor's lock on the folder, and only while the editor lives and holds it.
inline constexpr std::string_view kEditorVariable = "CINDRAL_EDITOR_PID";
// The decompressor's name; its file in the program folder has the system's program suffix
// (platform::ProgramFileName).
inline constexpr std::string_view kDecompressorName = "Unvell";

// The decompressor's exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // the state could not be read, or the folder not written
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNotAState = 3;  // the file was read but is no state the editor can edit

// A failure is one line on standard error: this prefix, the state path, ": ", the cause.
inline constexpr std::string_view kErrorPrefix = "Unvell: ";

// The first line of a plain snapshot starts with one of these, then four digits and a newline:
// "#!s9xsnp:0011\n".
inline constexpr std::string_view kSnapshotSignatures[] = {"#!snes9x:", "#!s9xsnp:"};
inline constexpr std::size_t kSnapshotVersionDigits = 4;
inline constexpr std::size_t kSnapshotFirstLineLength = 9 + kSnapshotVersionDigits + 1;

}  // namespace protocol
