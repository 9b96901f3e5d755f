#pragma once

// The words of cindral-party, parsed and checked before any file is touched.

#include "MemberFields.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace cli {

enum class Verb { Help, Version, Show, Set, Backups, Restore };

// One FIELD=VALUE for a slot, parsed once: what it edits and the value as given.
struct FieldEdit {
    enum class Kind { Numeric, Name, NoAilments };
    Kind kind = Kind::Numeric;
    QString key;                                         // as written, lower case
    QString value;                                       // as written
    const Process::NumericFieldInfo* numeric = nullptr;  // for Kind::Numeric
    bool noAilments = false;                             // for Kind::NoAilments
};

struct SlotEdits {
    Process::Slot slot;
    QList<FieldEdit> edits;
};

struct Request {
    Verb verb = Verb::Help;
    QString statePath;
    bool json = false;
    bool maxGold = false;
    bool backup = true;         // keep a backup of what set or restore replaces
    bool dryRun = false;        // set: report what would change, write nothing
    Verb helpFor = Verb::Help;  // the command of "COMMAND --help"
    int backupNumber = 1;       // for restore: 1 is the newest
    QList<SlotEdits> groups;
};

// The request, or ErrorKind::WrongWords with a message saying what is wrong with the words.
using Parsed = Process::Result<Request>;

Parsed ParseCommandLine(const QStringList& args);  // without the program name
QString UsageText();
QString VerbName(Verb verb);

}  // namespace cli
