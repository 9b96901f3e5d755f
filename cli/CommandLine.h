#pragma once

// The words of cindral-party, parsed and checked before any file is touched.

#include "MemberFields.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace cli {

enum class Verb { Help, Version, Show, Set };

// One FIELD=VALUE for a slot. `field` is empty for "name" and "noailments".
struct FieldEdit {
    QString key;
    QString value;
    const Process::NumericFieldInfo* numeric = nullptr;
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
    QList<SlotEdits> groups;
};

struct Parsed {
    std::optional<Request> request;
    QString error;  // set when the words are wrong
};

Parsed ParseCommandLine(const QStringList& args);  // without the program name
QString UsageText();

}  // namespace cli
