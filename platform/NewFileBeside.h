#pragma once

// A new file written beside a target and put in its place by a rename, so that the target is at
// every moment either the old file or the new one. Unnamed while it is written wherever the
// system allows, so that a program killed before the rename leaves nothing behind.

#include "File.h"
#include "Folder.h"

#include <string>
#include <system_error>

namespace platform {

class NewFileBeside
{
public:
    // In the folder of `target`, which need not exist yet.
    explicit NewFileBeside(const Path& target);
    // Beside `name` in a folder held open: the rename replaces that name in that folder, whatever
    // the folder's path leads to by then.
    NewFileBeside(const Folder& folder, const Path& name);
    ~NewFileBeside();
    NewFileBeside(const NewFileBeside&) = delete;
    NewFileBeside& operator=(const NewFileBeside&) = delete;

    bool valid() const { return m_file.valid(); }
    std::error_code error() const { return m_error; }
    File& file() { return m_file; }

    // The owner, group, permissions and extended attributes of the open file `from` (as far as
    // this process may set them), or the permissions a new file gets.
    void keepOwnershipOf(const File& from);
    void takeDefaultPermissions();
    // Gives the file, complete and on the disk, its temporary name beside the target.
    std::error_code name();
    // Renames it over the target; it is then the target. On failure the target is as it was,
    // except where a replace stopped half way and could not be undone: then oldKeptAs() names
    // where the old file is, the target's name is empty, and both files are kept for the next
    // run (PutBackInterruptedSwaps) to put the old one back.
    std::error_code renameOverTarget();
    const Path& oldKeptAs() const { return m_oldKeptAs; }
    // Puts it in the target's place only where the target has no file: std::errc::file_exists
    // when one has appeared.
    std::error_code renameToFreeTarget();

    // Swaps it with the target in one step: it is then the target, and the file the target's
    // name led to has its temporary name, to be looked at (replaced()) before it is dropped or
    // put back. std::errc::operation_not_supported where the system cannot swap two names.
    std::error_code exchangeWithTarget();
    // After exchangeWithTarget: what was in the target's place, never following a link.
    FileFacts replacedFacts() const;
    // Swaps the two again: the replaced file is the target once more.
    std::error_code putReplacedBack();
    // Removes the replaced file's temporary name, while it still leads to `replaced`.
    void dropReplaced(const FileFacts& replaced);

private:
    bool openNamed();
    std::error_code markName();
    void prepare();
    void removeLeftovers();
    bool holdsOurs() const;

    Path::string_type m_fileName;  // the target's name, in the system's own characters
    Folder m_folder;
    File m_file;
    const File* m_ownershipFrom = nullptr;  // the file whose ownership the new one takes
    Path m_name;                            // while it has a temporary name of ours
    std::error_code m_error;
    bool m_keepFromTarget = false;
    bool m_defaultPermissions = false;
    bool m_nameHoldsReplaced = false;  // after an exchange: the temporary name is theirs
    Path m_oldKeptAs;                  // a replace stopped half way: where the old file is
};

// How many bytes a temporary name beside a file adds to its folder's path at most.
constexpr std::size_t kTemporaryNameRoom = 240;

// A run killed between swapping its new file with `name` and putting back what came out (another
// program's save of the last moment) left that save under its temporary name and its own file
// in the save's place: swaps them back, unless the name has moved on since (written or replaced
// by then) or a live run is still in that moment. Run before the file is locked or read.
void PutBackInterruptedSwaps(const Folder& folder, const Path& name);

}  // namespace platform
