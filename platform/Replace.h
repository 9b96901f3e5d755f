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
    ~NewFileBeside();
    NewFileBeside(const NewFileBeside&) = delete;
    NewFileBeside& operator=(const NewFileBeside&) = delete;

    bool valid() const { return m_file.valid(); }
    std::error_code error() const { return m_error; }
    File& file() { return m_file; }

    // The owner, group, permissions and extended attributes of the file at `path` (as far as
    // this process may set them), or the permissions a new file gets.
    void keepOwnershipOf(const Path& path);
    void takeDefaultPermissions();
    // Gives the file, complete and on the disk, its temporary name beside the target.
    std::error_code name();
    // Renames it over the target; it is then the target.
    std::error_code renameOverTarget();

private:
    bool openNamed();
    void prepare();

    Path m_target;
    Path m_ownershipFrom;
    Path::string_type m_fileName;  // the target's name, in the system's own characters
    Folder m_folder;
    File m_file;
    Path m_name;  // while it has a temporary name of ours
    std::error_code m_error;
    bool m_keepFromTarget = false;
    bool m_defaultPermissions = false;
};

// How many bytes a temporary name beside a file adds to its folder's path at most.
constexpr std::size_t kTemporaryNameRoom = 225;

}  // namespace platform
