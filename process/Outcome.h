#pragma once

#include <QString>

#include <optional>
#include <utility>

namespace Process {

// What went wrong, so a caller can react to a kind (a test, an exit status) while the user
// reads the message.
enum class ErrorKind {
    None,
    NotFound,
    PermissionDenied,
    NotAState,
    DecompressorMissing,
    DecompressorFailed,
    DecompressorTimedOut,
    FolderNotWritable,
    DiskFull,
    BackupFailed,
    Busy,
    ChangedByAnotherProgram,  // written by another program during the edit: worth a retry
    Untrusted,                // a folder or file that someone else could have put there
    InvalidSlot,
    WrongWords,  // a command line that says nothing this program does
    Io,
};

// The result of an operation that can fail: success, or a kind with a message that names the
// file and the cause. Errors are values; nothing here throws.
class [[nodiscard]] Outcome
{
public:
    static Outcome success() { return Outcome(); }
    static Outcome failure(ErrorKind kind, QString message)
    {
        Outcome o;
        o.m_kind = kind;
        o.m_message = std::move(message);
        return o;
    }

    bool ok() const { return m_kind == ErrorKind::None; }
    explicit operator bool() const { return ok(); }
    ErrorKind kind() const { return m_kind; }
    const QString& message() const { return m_message; }

private:
    ErrorKind m_kind = ErrorKind::None;
    QString m_message;
};

// A value or the Outcome that explains why there is none.
template <class T> class [[nodiscard]] Result
{
public:
    Result(T value) : m_value(std::move(value)) {}
    Result(Outcome failure) : m_failure(std::move(failure)) {}

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    T& value() { return *m_value; }
    const T& value() const { return *m_value; }
    const Outcome& failure() const { return m_failure; }

private:
    std::optional<T> m_value;
    Outcome m_failure;
};

}  // namespace Process
