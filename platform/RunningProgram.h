#pragma once

// The running program as the operating system sees it.

#include "File.h"

namespace platform {

// The folder of the path this program was started by (a link to the program stays in the
// link's folder); found on the search path, the real file's folder.
Path ProgramFolder(const Path& argv0);

// Called in a started child before it runs its program: the child dies with this process, so a
// decompressor never writes into a folder after its editor has gone.
void DieWithParent();

// The process that started this one.
long ParentProcessId();

}  // namespace platform
