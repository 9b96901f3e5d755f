#pragma once

// The running program as the operating system sees it.

#include "File.h"

#include <string>
#include <string_view>

namespace platform {

// The folder of the path this program was started by (a link to the program stays in the
// link's folder); found on the search path, the real file's folder.
Path ProgramFolder(const Path& argv0);

// A started child dies with this process, so a decompressor never writes into a folder after its
// editor has gone. On POSIX the child asks for it itself, first thing, of the process `parent`
// that started it (DieWithParent: false when that one has already gone, and the child should
// end); nothing of ours runs between the fork and the program, so a parent killed in that moment
// leaves no child waiting for it. Windows puts the child, once started, into a job that ends with
// this process (EndWithThisProcess). Each is a no-op where the other does the work.
bool DieWithParent(long parent);
void EndWithThisProcess(long long processId);

// The file of the program `name`: "name.exe" on Windows, the name itself elsewhere.
std::string ProgramFileName(std::string_view name);

// An abort ends this program as a crash does, never with an exit status that means something
// else (Windows' C runtime exits with 3 on abort, which the decompressor uses for "not a state").
void AbortAsACrash();

// A window can be shown as far as the environment tells: Windows always has its desktop, and so
// have Qt's platforms that need no display server (offscreen, say); on X11 and Wayland systems
// one must be named. `qtPlatform` is the platform the environment asks Qt for, if any.
bool DisplayNamed(const std::string& qtPlatform);
// Why the named display cannot be opened, where the environment tells before Qt is asked (and a
// library under Qt would print its own line first); empty otherwise, and always on Windows.
std::string DisplayUnreachable(const std::string& qtPlatform);

// Writes `text` (UTF-8) to standard output, or standard error, where the user reads it. A window
// program on Windows starts with neither: it writes to the console of the prompt it was started
// from, unless its output was redirected. False when the text could not be written.
bool TellUser(std::string_view text, bool asError = false);

// Text this program writes as UTF-8 shows as such on the console it was started from: Windows'
// consoles read the code page of the system's old encodings unless told (the page they had is
// given back when the program ends); elsewhere nothing needs doing.
void ConsoleTakesUtf8();

}  // namespace platform
