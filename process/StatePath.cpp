#include "StatePath.h"

#include "NewFileBeside.h"
#include "StagingNames.h"
#include "StagingProtocol.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

namespace Process {
QString ShownPath(const QString& path)
{
    QString shown;
    shown.reserve(path.size());
    for (QChar c : QDir::toNativeSeparators(path)) {
        if (c == QLatin1Char('\n'))
            shown += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            shown += QStringLiteral("\\t");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

QString SystemCause(int error)
{
    switch (error) {
    case ENAMETOOLONG: return QStringLiteral("the path is too long");
    case EACCES:
    case EPERM: return QStringLiteral("permission denied");
    case ENOSPC: return QStringLiteral("the disk is full");
    case EROFS: return QStringLiteral("the file system is read-only");
    default: return QString::fromLocal8Bit(std::strerror(error));
    }
}

QString SystemCause(const std::error_code& error)
{
    if (platform::HeldOpenElsewhere(error))
        return QStringLiteral("another program holds it open and lets nobody replace it (the "
                              "emulator, say: let it finish, or close the game, and try again)");
    if (error.category() == std::generic_category())
        return SystemCause(error.value());
    return QString::fromStdString(error.message());
}

namespace {

// Names of wide characters (Windows) take UTF-16 as it is; names of bytes take the encoding Qt
// gives file names. The system's own kind of name picks the overload; the other pair is unused.
[[maybe_unused]] void ToName(const QString& path, std::wstring& name)
{
    name = path.toStdWString();
}
[[maybe_unused]] void ToName(const QString& path, std::string& name)
{
    name = QFile::encodeName(path).toStdString();
}
[[maybe_unused]] QString FromName(const std::wstring& name)
{
    return QString::fromStdWString(name);
}
[[maybe_unused]] QString FromName(const std::string& name)
{
    return QFile::decodeName(QByteArray::fromStdString(name));
}

}  // namespace

platform::Path ToNative(const QString& path)
{
    platform::Path::string_type name;
    ToName(path, name);
    return platform::Path(std::move(name));
}

QString FromNative(const platform::Path& path)
{
    return FromName(path.native());
}

namespace {

QString SpelledAsStored(const QString& path)
{
    return QDir::fromNativeSeparators(FromNative(platform::SpelledAsStored(ToNative(path))));
}

// A replace that stopped half way where the system moves the old file aside first (the run
// killed, or another program holding the new file) left the state's name empty and the old
// file beside it: it goes back before the state counts as missing.
platform::FileFacts FactsAfterPutBack(const platform::Path& path)
{
    const platform::FileFacts facts = platform::FactsOf(path);
    if (facts.error != std::errc::no_such_file_or_directory)
        return facts;
    const platform::Folder folder =
        platform::Folder::open(path.has_parent_path() ? path.parent_path() : platform::Path("."));
    if (!folder.valid())
        return facts;
    platform::PutBackInterruptedSwaps(folder, path.filename());
    return platform::FactsOf(path);
}

// The state's name can be opened exactly and leads to a plain file this user may read: its
// facts, or why not.
Result<platform::FileFacts> ReachableState(const QString& statePath, const QString& shown)
{
    // A name that is not valid UTF-8 was read with replacement characters: opening it would
    // reach no file, or another file whose name happens to hold those characters.
    if (statePath.contains(QChar::ReplacementCharacter))
        return Outcome::failure(ErrorKind::NotFound,
                                QStringLiteral("The name of the state file %1 is not valid text "
                                               "(UTF-8), so it cannot be opened exactly; rename "
                                               "the file and try again.")
                                    .arg(shown));
    const std::string device = platform::ReservedDeviceName(ToNative(statePath));
    if (!device.empty())
        return Outcome::failure(
            ErrorKind::NotAState,
            QStringLiteral("%1 is named like the device %2, which Windows keeps for itself in "
                           "every folder: no file can have that name here. Rename the state "
                           "file on another system, or save the game under another name.")
                .arg(shown, QString::fromLatin1(device.c_str())));
    const platform::FileFacts state = FactsAfterPutBack(ToNative(statePath));
    const bool onNetwork = state.error && platform::OnNetwork(ToNative(statePath));
    if (state.error) {
        if (onNetwork)
            return Outcome::failure(ErrorKind::NotFound,
                                    QStringLiteral("The state file %1 cannot be reached: it is in "
                                                   "a network folder that is not there now or "
                                                   "does not hold it (%2).")
                                        .arg(shown, SystemCause(state.error)));
        if (state.error == std::errc::no_such_file_or_directory ||
            state.error == std::errc::not_a_directory)
            return Outcome::failure(ErrorKind::NotFound,
                                    QStringLiteral("The state file %1 does not exist.").arg(shown));
        if (state.error == std::errc::permission_denied)
            return Outcome::failure(ErrorKind::PermissionDenied,
                                    QStringLiteral("The state file %1 cannot be reached: a folder "
                                                   "on its path may not be searched (permission "
                                                   "denied).")
                                        .arg(shown));
        return Outcome::failure(ErrorKind::NotFound,
                                QStringLiteral("The state file %1 cannot be reached: %2.")
                                    .arg(shown, SystemCause(state.error)));
    }
    if (state.kind == platform::FileKind::Folder)
        return Outcome::failure(ErrorKind::NotAState,
                                QStringLiteral("%1 is a folder, not a state file.").arg(shown));
    if (state.kind != platform::FileKind::Regular)
        return Outcome::failure(ErrorKind::NotAState,
                                QStringLiteral("%1 is not a plain file (a pipe or a device, say), "
                                               "so it is no state file.")
                                    .arg(shown));
    if (!platform::MayRead(ToNative(statePath)))
        return Outcome::failure(ErrorKind::PermissionDenied,
                                QStringLiteral("The state file %1 cannot be read: permission "
                                               "denied.")
                                    .arg(shown));
    return state;
}

}  // namespace

Result<CheckedState> CheckStatePath(const QString& statePath, const QString& programFolder)
{
    const QString shown = ShownPath(statePath);
    const Result<platform::FileFacts> reached = ReachableState(statePath, shown);
    if (!reached)
        return reached.failure();
    const platform::FileFacts& state = reached.value();

    const Outcome moved = Outcome::failure(ErrorKind::ChangedByAnotherProgram,
                                           QStringLiteral("The state file %1 was moved or "
                                                          "replaced while it was being opened; "
                                                          "try again.")
                                               .arg(shown));
    // The name is looked at in its folder, held open from here on, without following a link.
    const QFileInfo given(statePath);
    auto folder =
        std::make_shared<platform::Folder>(platform::Folder::open(ToNative(given.absolutePath())));
    if (!folder->valid())
        return moved;
    CheckedState checked;
    checked.shown = shown;
    // As text, for the decompressor (which checks what it reads) and the backups' names; as
    // the file system spells it, so that on Windows GAME.000 and game.000 are one state, with
    // one name for its temporary files and its backups, and a save never renames it.
    checked.path = SpelledAsStored(
        QDir(QDir(given.absolutePath()).canonicalPath()).filePath(given.fileName()));
    checked.name = ToNative(QFileInfo(checked.path).fileName());
    platform::FileFacts found = folder->factsOf(checked.name);
    if (found.kind == platform::FileKind::Link) {
        // A link given as the state is followed here, once, on purpose; but not in a folder
        // other users may write, where any of them could have put it there (or swap it with
        // the state at will) to have this program replace a file of their choosing.
        if (folder->facts().othersMayWrite)
            return Outcome::failure(ErrorKind::NotAState,
                                    QStringLiteral("%1 is a symbolic link in a folder that other "
                                                   "users may write, so it is not followed; open "
                                                   "the file it leads to instead.")
                                        .arg(shown));
        const QFileInfo target(SpelledAsStored(given.canonicalFilePath()));
        checked.path = target.absoluteFilePath();
        folder = std::make_shared<platform::Folder>(
            platform::Folder::open(ToNative(target.absolutePath())));
        checked.name = ToNative(target.fileName());
        found = folder->valid() ? folder->factsOf(checked.name) : platform::FileFacts{};
    }
    if (found.error || found.kind != platform::FileKind::Regular ||
        !found.stamp.sameFile(state.stamp))
        return moved;
    checked.folder = std::move(folder);
    checked.identity = found.stamp;
    if (Outcome own = CheckNotWorkingFile(checked, programFolder); !own)
        return own;
    return checked;
}

Outcome CheckNotWorkingFile(const CheckedState& state, const QString& programFolder)
{
    const QDir folder(programFolder);
    const QStringList names{kWorkingCopyName, kPartialWorkingCopyName, kCompletionFlagName,
                            kFolderLockName, QFileInfo(DecompressorPath(programFolder)).fileName()};
    for (const QString& name : names) {
        // The same file by any name: a link, a hard link or the path itself.
        const platform::FileFacts other = platform::FactsOf(ToNative(folder.filePath(name)));
        if (!other.error && other.stamp.sameFile(state.identity))
            return Outcome::failure(ErrorKind::NotAState,
                                    QStringLiteral("%1 is the editor's own file %2 in %3, which a "
                                                   "load or save replaces; copy it elsewhere "
                                                   "under another name to open it.")
                                        .arg(state.shown, name, ShownPath(programFolder)));
    }
    return Outcome::success();
}

}  // namespace Process
