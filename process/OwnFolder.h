#pragma once

// Folders this user's files may go into: a real folder (no link), owned by the user running the
// program, that no other user may write, below folders that only root or this user can change
// (or that keep others' entries theirs, as a sticky /tmp does). Anywhere else another user could
// swap, plant or read what the editor keeps there.

#include "Folder.h"
#include "Outcome.h"

#include <QString>

namespace Process {

// Whether `path` is such a folder; when it is not, ErrorKind::Untrusted with the reason as the
// message, a phrase to set in a sentence ("it is a symbolic link", "it belongs to another
// user", ...). A folder of the user's own that others may read but not write is narrowed to the
// user alone when `tighten` is set.
Outcome CheckOwnFolder(const QString& path, bool tighten);

// Opens such a folder, without following a link at its last step; with `create`, makes it
// (0700, and its parents as usual) when it is missing, and narrows it as above. A missing folder
// without `create` is ErrorKind::NotFound; one that is not the user's own is
// ErrorKind::Untrusted, with a message that names it and why.
Result<platform::Folder> OpenOwnFolder(const QString& path, bool create);

// The same for `name` inside an open folder of the user's own.
Result<platform::Folder> OpenOwnSubfolder(const platform::Folder& parent, const QString& parentPath,
                                          const QString& name, bool create);

}  // namespace Process
