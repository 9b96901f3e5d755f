#include "Commands.h"

#include "Backups.h"
#include "CommandLine.h"
#include "NameCodec.h"
#include "NumericText.h"
#include "PartyImage.h"
#include "StateFile.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace cli {
namespace {

using namespace Process;

// Each JSON output's shape, bumped when one of its keys changes meaning or goes away.
constexpr int kShowSchema = 1;
constexpr int kSetSchema = 2;  // 2: numbers as numbers, noailments as true/false, "changed"
constexpr int kBackupsSchema = 1;

int Fail(QTextStream& err, const QString& message)
{
    err << "cindral-party: " << message << Qt::endl;
    return kExitFailure;
}

QJsonObject MemberJson(const PartyState& party, Slot slot)
{
    const CharacterRecord& r = party.block[slot];
    QJsonObject member{{"slot", slot.number()},
                       {"name", NameForDisplay(r.Name)},
                       {"status", r.Status},
                       {"noailments", HasNoAilments(r)}};
    for (const NumericFieldInfo& info : NumericFields())
        member.insert(QLatin1String(info.key), FieldValue(party, slot, info.field));
    return member;
}

// The text layout of a member: lines of labelled fields, by their keys in the field table. A
// field the layout does not name still gets a line of its own at the end.
struct ShownField {
    const char* label;
    const char* key;
    const char* pairedKey = nullptr;  // shown as "label key / pairedKey"
};
const QList<QList<ShownField>> kMemberLines{
    {{"HP", "hpl", "hpr"}, {"AP", "apl", "apr"}},
    {{"Str", "str"},
     {"Vig", "vig"},
     {"Wis", "wis"},
     {"Agl", "agl"},
     {"Mag", "mag"},
     {"Luck", "luck"}},
    {{"Atk", "atk"}, {"Def", "def"}, {"Int", "int"}, {"Act", "act"}, {"Fate", "fate"}},
};

void PrintMember(QTextStream& out, const QJsonObject& m)
{
    auto n = [&](const char* key) { return QString::number(m.value(QLatin1String(key)).toInt()); };
    QStringList shown{QStringLiteral("level"), QStringLiteral("exp")};
    out << "Slot " << n("slot") << ": " << m.value("name").toString() << '\n'
        << "  Level " << n("level") << "  Exp " << n("exp") << "  Status " << n("status")
        << " (No Ailments: " << (m.value("noailments").toBool() ? "yes" : "no") << ")\n";
    for (const QList<ShownField>& line : kMemberLines) {
        for (const ShownField& field : line) {
            out << "  " << field.label << ' ' << n(field.key);
            shown << QLatin1String(field.key);
            if (field.pairedKey) {
                out << " / " << n(field.pairedKey);
                shown << QLatin1String(field.pairedKey);
            }
        }
        out << '\n';
    }
    for (const NumericFieldInfo& info : NumericFields())
        if (!shown.contains(QLatin1String(info.key)))
            out << "  " << info.key << ' ' << n(info.key) << '\n';
}

int Show(const Request& request, const StagingContext& context, QTextStream& out, QTextStream& err)
{
    const Result<StateContents> state = InspectState(request.statePath, context);
    if (!state)
        return Fail(err, state.failure().message());
    QJsonArray members;
    for (Slot s : Slot::all())
        members.append(MemberJson(state.value().party, s));
    if (request.json) {
        const QJsonObject root{{"schema", kShowSchema},
                               {"file", request.statePath},
                               {"gold", qint64(state.value().gold)},
                               {"members", members}};
        out << QJsonDocument(root).toJson(QJsonDocument::Indented);
        return kExitOk;
    }
    out << "File: " << request.statePath << '\n' << "Gold: " << state.value().gold << '\n';
    for (const auto& member : members)
        PrintMember(out, member.toObject());
    return kExitOk;
}

// What one edit did, for the report: as text, and as JSON values of the field's own type.
struct Change {
    int slot = 0;
    QString field;
    QString before, after;
    bool clamped = false;
    QString given;
    QJsonValue beforeValue, afterValue;
    bool changed = false;  // what is stored is not what was given
    QString note;          // for standard error: how the stored value differs from the given
};

// The game's names hold these letters; a space (code 0) ends a name.
bool IsNameLetter(QChar c)
{
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'/';
}

// Why the game cannot hold `typed` as typed, or nothing when it can.
QString NameProblems(const QString& typed)
{
    QStringList problems;
    if (typed.size() > 4)
        problems << QStringLiteral("a name has four letters at most");
    const QString kept = typed.left(4);
    const qsizetype space = kept.indexOf(QLatin1Char(' '));
    if (space >= 0 && kept.left(space).size() < typed.trimmed().size())
        problems << QStringLiteral("a space ends a name");
    QString strangers;
    for (QChar c : kept.left(space < 0 ? kept.size() : space))
        if (!IsNameLetter(c) && !strangers.contains(c))
            strangers += c;
    if (!strangers.isEmpty())
        problems << QStringLiteral("\"%1\" %2 not among the game's letters (A-Z, a-z and /)")
                        .arg(strangers, strangers.size() == 1 ? "is" : "are");
    return problems.join(QStringLiteral("; "));
}

QString HexBytes(const NameField& field)
{
    QStringList bytes;
    for (std::uint8_t b : field)
        bytes << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    return bytes.join(' ');
}

// Applies one edit with the window's own rules and says what changed.
Change ApplyEdit(PartyState& party, Slot slot, const FieldEdit& edit)
{
    CharacterRecord& record = party.block[slot];
    Change change;
    change.slot = slot.number();
    change.field = edit.key;
    change.given = edit.value;
    switch (edit.kind) {
    case FieldEdit::Kind::Numeric: {
        const std::int32_t before = FieldValue(party, slot, edit.numeric->field);
        const NumericEdit result = ApplyNumericText(edit.value, edit.numeric->limit);
        SetFieldValue(party, slot, edit.numeric->field, result.value);
        change.before = QString::number(before);
        change.after = QString::number(result.value);
        change.beforeValue = before;
        change.afterValue = result.value;
        change.clamped = result.clamped;
        change.changed = result.clamped || TextValue(edit.value) != double(result.value);
        break;
    }
    case FieldEdit::Kind::Name: {
        // The name box takes four characters and refuses the rest.
        change.before = NameForDisplay(record.Name);
        record.Name = NameFieldFromText(edit.value.left(4));
        change.after = NameForDisplay(record.Name);
        change.beforeValue = change.before;
        change.afterValue = change.after;
        change.clamped = edit.value.size() > 4;
        if (const QString problems = NameProblems(edit.value); !problems.isEmpty()) {
            change.changed = true;
            change.note = QStringLiteral("slot %1 name \"%2\" is stored as \"%3\" (bytes %4): %5")
                              .arg(QString::number(slot.number()), edit.value, change.after,
                                   HexBytes(record.Name), problems);
        }
        break;
    }
    case FieldEdit::Kind::NoAilments:
        change.before = QString::number(record.Status);
        change.beforeValue = HasNoAilments(record);
        SetNoAilments(record, edit.noAilments);
        change.after = QString::number(record.Status);
        change.afterValue = HasNoAilments(record);
        break;
    }
    return change;
}

void Report(const Request& request, const QList<Change>& changes, std::uint32_t goldBefore,
            QTextStream& out)
{
    if (request.json) {
        QJsonArray list;
        for (const Change& c : changes)
            list.append(QJsonObject{{"slot", c.slot},
                                    {"field", c.field},
                                    {"before", c.beforeValue},
                                    {"after", c.afterValue},
                                    {"clamped", c.clamped},
                                    {"changed", c.changed}});
        QJsonObject gold{{"before", qint64(goldBefore)},
                         {"after", qint64(request.maxGold ? kMaxGold : goldBefore)}};
        const QJsonObject root{{"schema", kSetSchema},
                               {"file", request.statePath},
                               {"changes", list},
                               {"gold", gold},
                               {"saved", !request.dryRun}};
        out << QJsonDocument(root).toJson(QJsonDocument::Indented);
        return;
    }
    for (const Change& c : changes) {
        out << "slot " << c.slot << ' ' << c.field << ": " << c.before << " -> " << c.after;
        if (c.clamped)
            out << " (clamped from \"" << c.given << "\")";
        out << '\n';
    }
    if (request.maxGold)
        out << "gold: " << goldBefore << " -> " << kMaxGold << '\n';
    if (request.dryRun)
        out << "Nothing was written (--dry-run): " << request.statePath << '\n';
    else
        out << "Saved " << request.statePath << '\n';
}

int Set(const Request& request, const StagingContext& context, QTextStream& out, QTextStream& err)
{
    QList<Change> changes;
    auto edit = [&](const StateContents&, PartyState& party) {
        changes.clear();  // an edit redone on newer bytes reports once
        for (const SlotEdits& group : request.groups)
            for (const FieldEdit& fieldEdit : group.edits)
                changes << ApplyEdit(party, group.slot, fieldEdit);
    };
    // Read, edit and write in one frame: another program's save cannot slip in between.
    // A dry run reads as show does and writes nothing.
    const Result<StateContents> before = [&] {
        if (!request.dryRun)
            return EditState(request.statePath, context, request.maxGold, edit);
        Result<StateContents> inspected = InspectState(request.statePath, context);
        if (inspected) {
            PartyState party = inspected.value().party;
            edit(inspected.value(), party);
        }
        return inspected;
    }();
    if (!before)
        return Fail(err, before.failure().message());
    for (const Change& change : changes)
        if (!change.note.isEmpty())
            err << "cindral-party: note: " << change.note << '\n';
    Report(request, changes, before.value().gold, out);
    return kExitOk;
}

int ListBackupsOf(const Request& request, const StagingContext& context, QTextStream& out,
                  QTextStream& err)
{
    const Result<QList<Backup>> listed = ListBackups(context.backupFolder, request.statePath);
    if (!listed)
        return Fail(err, listed.failure().message());
    const QList<Backup>& backups = listed.value();
    if (backups.isEmpty()) {
        out << "No backups of " << request.statePath << " yet.\n";
        return kExitOk;
    }
    for (const Backup& backup : backups)
        out << qSetFieldWidth(3) << Qt::right << backup.number << qSetFieldWidth(0) << "  "
            << backup.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) << "  "
            << qSetFieldWidth(10) << backup.size << qSetFieldWidth(0) << " bytes  "
            << QDir::toNativeSeparators(backup.path) << '\n';
    return kExitOk;
}

// The same list for programs: newest first, the time with its offset from UTC.
int ListBackupsAsJson(const Request& request, const StagingContext& context, QTextStream& out,
                      QTextStream& err)
{
    const Result<QList<Backup>> listed = ListBackups(context.backupFolder, request.statePath);
    if (!listed)
        return Fail(err, listed.failure().message());
    QJsonArray list;
    for (const Backup& backup : listed.value()) {
        const QDateTime time = backup.time.toOffsetFromUtc(backup.time.offsetFromUtc());
        list.append(QJsonObject{{"number", backup.number},
                                {"sequence", backup.sequence},
                                {"time", time.toString(Qt::ISODate)},
                                {"size", backup.size},
                                {"path", QDir::toNativeSeparators(backup.path)}});
    }
    const QJsonObject root{
        {"schema", kBackupsSchema}, {"file", request.statePath}, {"backups", list}};
    out << QJsonDocument(root).toJson(QJsonDocument::Indented);
    return kExitOk;
}

int Restore(const Request& request, const StagingContext& context, const QString& backupFolder,
            QTextStream& out, QTextStream& err)
{
    if (Outcome restored =
            RestoreState(request.statePath, context, backupFolder, request.backupNumber);
        !restored)
        return Fail(err, restored.message());
    out << "Restored backup " << request.backupNumber << " to " << request.statePath << '\n';
    return kExitOk;
}

}  // namespace

int Run(const QStringList& args, const QString& programFolder, QTextStream& out, QTextStream& err)
{
    const Parsed parsed = ParseCommandLine(args);
    if (!parsed) {
        err << "cindral-party: " << parsed.failure().message() << "\n"
            << "Try 'cindral-party --help' for more information.\n";
        err.flush();
        return kExitUsage;
    }
    StagingContext context;
    context.programFolder = programFolder;
    context.backupFolder = DefaultBackupFolder();
    // Listing and restoring need the folder even under --no-backup; only new backups stop.
    const QString backupFolder = context.backupFolder;
    if (!parsed.value().backup)
        context.backupFolder.clear();
    int status = kExitOk;
    switch (parsed.value().verb) {
    case Verb::Help: out << UsageText(); break;
    case Verb::Version: out << "cindral-party " << CINDRAL_VERSION << '\n'; break;
    case Verb::Show: status = Show(parsed.value(), context, out, err); break;
    case Verb::Set: status = Set(parsed.value(), context, out, err); break;
    case Verb::Backups: {
        StagingContext listing = context;
        listing.backupFolder = backupFolder;
        status = parsed.value().json ? ListBackupsAsJson(parsed.value(), listing, out, err)
                                     : ListBackupsOf(parsed.value(), listing, out, err);
        break;
    }
    case Verb::Restore: status = Restore(parsed.value(), context, backupFolder, out, err); break;
    }
    // Output that could not be written is a failure, however the command went (GNU's
    // close-stdout rule): a report cut short must not look like a whole one.
    out.flush();
    if (out.status() == QTextStream::WriteFailed) {
        const QString reason = out.device() ? out.device()->errorString() : QString();
        err << "cindral-party: cannot write the output"
            << (reason.isEmpty() ? QString() : ": " + reason) << '\n';
        status = kExitFailure;
    }
    err.flush();
    return status;
}

}  // namespace cli
