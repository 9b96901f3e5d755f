#pragma once

// Folders as the operating system keeps them: one held open, so that names inside it are
// reached without following links again, and the questions a folder must answer (may programs
// run from it, may this user write it).

#include "File.h"

#include <string>
#include <system_error>
#include <vector>

namespace platform {

// Names inside a folder are single names (no separator), in the system's own encoding.
class Folder : public Handle
{
public:
    Folder() = default;

    // With followLinks false a link at the last step is refused.
    static Folder open(const Path& path, bool followLinks = true);
    static Folder openIn(const Folder& parent, const Path& name);  // never a link
    // Makes `name` (private to the user) unless it exists; opens it either way.
    static Folder createIn(const Folder& parent, const Path& name);

    std::vector<Path> entryNames() const;       // "." and ".." left out
    FileFacts factsOf(const Path& name) const;  // the name itself, never a link's target
    std::error_code remove(const Path& name);
    // Another handle on the same folder.
    Folder duplicate() const;
    // Renames within the folder, never over an existing name.
    std::error_code rename(const Path& from, const Path& to);
    // Renames within the folder over `to`: whatever has that name (a link too) is replaced, never
    // followed.
    std::error_code renameOver(const Path& from, const Path& to);
    // Swaps the files two names in the folder lead to, in one step.
    // std::errc::operation_not_supported where the file system (or the system) cannot.
    std::error_code exchange(const Path& a, const Path& b);
    // Gives an open file one more name here: an unnamed file its first, where the system allows.
    std::error_code link(const File& file, const Path& name);
    std::error_code setPermissions(unsigned permissions);

private:
    explicit Folder(NativeHandle handle, std::error_code error = {}) : Handle(handle, error) {}
};

// Makes the folder with `permissions` (less the file-creation mask), and its parents as any
// new folder, as needed.
std::error_code CreateFolders(const Path& path, unsigned permissions = 0700);
// Programs may run from files in the folder (its file system is not mounted noexec).
bool MayRunPrograms(const Path& folder);
// This user may create and remove files in the folder.
bool MayWriteIn(const Path& folder);
// This user may read the file.
bool MayRead(const Path& path);
// The permissions a new file gets from the process's file-creation mask.
unsigned DefaultFilePermissions();
// What FileFacts::permissions says of a file given `permissions`: the bits themselves where the
// system keeps them; on Windows only whether it may be written (0600 or 0400).
unsigned PermissionsAsKept(unsigned permissions);

}  // namespace platform
