#include "OwnFolder.h"

#include "StatePath.h"

#include <QDir>
#include <QFileInfo>

namespace Process {
namespace {

using platform::FileFacts;
using platform::FileKind;

// Folders that do not do: the reason is the message, a phrase to set inside a sentence.
Outcome NotOwn(const QString& reason)
{
    return Outcome::failure(ErrorKind::Untrusted, reason);
}

Outcome CheckOwn(const FileFacts& facts)
{
    if (facts.error)
        return NotOwn(SystemCause(facts.error));
    if (facts.kind == FileKind::Link)
        return NotOwn(QStringLiteral("it is a symbolic link"));
    if (facts.kind != FileKind::Folder)
        return NotOwn(QStringLiteral("it is not a folder"));
    if (!facts.ownedByMe)
        return NotOwn(QStringLiteral("it belongs to another user"));
    if (facts.othersMayWrite)
        return NotOwn(QStringLiteral("other users can write it"));
    return Outcome::success();
}

// Why another user could put some other folder in this one's place: a folder above it that
// they own, or may write without the sticky bit (which keeps others' entries theirs alone). Root
// and this user may own the folders above it.
Outcome CheckSafeAbove(const QString& path)
{
    QString above = QFileInfo(QDir::cleanPath(QDir(path).absolutePath())).absolutePath();
    const QString canonical = QFileInfo(above).canonicalFilePath();
    if (!canonical.isEmpty())
        above = canonical;
    for (;;) {
        const FileFacts facts = platform::FactsOf(ToNative(above));
        if (facts.error)
            return NotOwn(
                QStringLiteral("the folder %1 above it cannot be looked at").arg(ShownPath(above)));
        if (!facts.ownedByRoot && !facts.ownedByMe)
            return NotOwn(QStringLiteral("the folder %1 above it belongs to another user")
                              .arg(ShownPath(above)));
        if (facts.othersMayWrite && !facts.keepsOthersEntries)
            return NotOwn(QStringLiteral("other users can write the folder %1 above it")
                              .arg(ShownPath(above)));
        const QString next = QFileInfo(above).absolutePath();
        if (next == above)
            return Outcome::success();
        above = next;
    }
}

// A folder of the user's own that others may read but not write: narrowed to the user alone.
bool MayTighten(const FileFacts& facts)
{
    return facts.kind == FileKind::Folder && facts.ownedByMe && !facts.othersMayWrite &&
           (facts.permissions & 077);
}

Outcome Untrusted(const QString& path, const Outcome& why)
{
    return Outcome::failure(ErrorKind::Untrusted,
                            QStringLiteral("The folder %1 is not yours alone (%2), so the editor "
                                           "keeps nothing there and takes nothing from it.")
                                .arg(ShownPath(path), why.message()));
}

// The folder just opened (or why it could not be), checked as the user's own.
Result<platform::Folder> Checked(platform::Folder folder, const QString& path, bool create,
                                 const FileFacts& beforeOpening)
{
    if (!folder.valid()) {
        if (folder.error() == std::errc::no_such_file_or_directory)
            return Outcome::failure(
                ErrorKind::NotFound,
                QStringLiteral("The folder %1 does not exist.").arg(ShownPath(path)));
        if (Outcome own = CheckOwn(beforeOpening); !own && !beforeOpening.error)
            return Untrusted(path, own);
        return Outcome::failure(ErrorKind::PermissionDenied,
                                QStringLiteral("The folder %1 cannot be opened: %2.")
                                    .arg(ShownPath(path), SystemCause(folder.error())));
    }
    FileFacts facts = folder.facts();
    if (create && MayTighten(facts) && !folder.setPermissions(0700))
        facts = folder.facts();
    if (Outcome own = CheckOwn(facts); !own)
        return Untrusted(path, own);
    return folder;
}

}  // namespace

Outcome CheckOwnFolder(const QString& path, bool tighten)
{
    const platform::Path native = ToNative(path);
    FileFacts facts = platform::FactsOf(native, false);
    if (tighten && MayTighten(facts)) {
        platform::Folder opened = platform::Folder::open(native, false);
        if (opened.valid() && !opened.setPermissions(0700))
            facts = opened.facts();
    }
    if (Outcome own = CheckOwn(facts); !own)
        return own;
    return CheckSafeAbove(path);
}

Result<platform::Folder> OpenOwnFolder(const QString& path, bool create)
{
    const QString clean = QDir::cleanPath(QDir(path).absolutePath());
    const QFileInfo info(clean);
    if (create) {
        if (std::error_code made = platform::CreateFolders(ToNative(info.absolutePath()), 0777))
            return Outcome::failure(ErrorKind::FolderNotWritable,
                                    QStringLiteral("The folder %1 cannot be created: %2.")
                                        .arg(ShownPath(info.absolutePath()), SystemCause(made)));
    }
    if (Outcome safe = CheckSafeAbove(clean); !safe)
        return Untrusted(clean, safe);
    const platform::Folder parent = platform::Folder::open(ToNative(info.absolutePath()));
    if (!parent.valid())
        return Outcome::failure(
            parent.error() == std::errc::no_such_file_or_directory ? ErrorKind::NotFound
                                                                   : ErrorKind::PermissionDenied,
            QStringLiteral("The folder %1 cannot be opened: %2.")
                .arg(ShownPath(info.absolutePath()), SystemCause(parent.error())));
    return OpenOwnSubfolder(parent, info.absolutePath(), info.fileName(), create);
}

Result<platform::Folder> OpenOwnSubfolder(const platform::Folder& parent, const QString& parentPath,
                                          const QString& name, bool create)
{
    const platform::Path native = ToNative(name);
    const QString path = QDir(parentPath).filePath(name);
    const FileFacts before = parent.factsOf(native);
    if (create) {
        platform::Folder made = platform::Folder::createIn(parent, native);
        if (!made.valid() && made.error() != std::errc::too_many_symbolic_link_levels &&
            made.error() != std::errc::not_a_directory &&
            made.error() != std::errc::no_such_file_or_directory)
            return Outcome::failure(ErrorKind::FolderNotWritable,
                                    QStringLiteral("The folder %1 cannot be created: %2.")
                                        .arg(ShownPath(path), SystemCause(made.error())));
        return Checked(std::move(made), path, create, parent.factsOf(native));
    }
    return Checked(platform::Folder::openIn(parent, native), path, create, before);
}

}  // namespace Process
