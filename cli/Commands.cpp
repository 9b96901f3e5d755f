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

void PrintMember(QTextStream& out, const QJsonObject& m)
{
    auto n = [&](const char* key) { return QString::number(m.value(QLatin1String(key)).toInt()); };
    out << "Slot " << n("slot") << ": " << m.value("name").toString() << '\n'
        << "  Level " << n("level") << "  Exp " << n("exp") << "  Status " << n("status")
        << " (No Ailments: " << (m.value("noailments").toBool() ? "yes" : "no") << ")\n"
        << "  HP " << n("hpl") << " / " << n("hpr") << "  AP " << n("apl") << " / " << n("apr")
        << '\n'
        << "  Str " << n("str") << "  Vig " << n("vig") << "  Wis " << n("wis") << "  Agl "
        << n("agl") << "  Mag " << n("mag") << "  Luck " << n("luck") << '\n'
        << "  Atk " << n("atk") << "  Def " << n("def") << "  Int " << n("int") << "  Act "
        << n("act") << "  Fate " << n("fate") << '\n';
}

int Show(const Request& request, const StagingContext& context, QTextStream& out, QTextStream& err)
{
    const Result<StateContents> state = InspectState(request.statePath, context);
    if (!state)
        return Fail(err, state.failure().message());
    QJsonArray members;
    for (Slot s : Slot::All())
        members.append(MemberJson(state.value().party, s));
    if (request.json) {
        const QJsonObject root{{"file", request.statePath},
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

// Applies one edit with the window's own rules and says what changed.
QString ApplyEdit(PartyState& party, Slot slot, const FieldEdit& edit)
{
    CharacterRecord& record = party.block[slot];
    auto line = [&](const QString& before, const QString& after, bool clamped) {
        QString text =
            QStringLiteral("slot %1 %2: %3 -> %4").arg(slot.number()).arg(edit.key, before, after);
        if (clamped)
            text += QStringLiteral(" (clamped from \"%1\")").arg(edit.value);
        return text;
    };
    switch (edit.kind) {
    case FieldEdit::Kind::Numeric: {
        const QString before = QString::number(FieldValue(party, slot, edit.numeric->field));
        const NumericEdit result = ApplyNumericText(edit.value, edit.numeric->limit);
        SetFieldValue(party, slot, edit.numeric->field, result.value);
        return line(before, QString::number(result.value), result.clamped);
    }
    case FieldEdit::Kind::Name: {
        // The name box takes four characters and refuses the rest.
        const QString before = NameForDisplay(record.Name);
        record.Name = NameFieldFromText(edit.value.left(4));
        return line(before, NameForDisplay(record.Name), edit.value.size() > 4);
    }
    case FieldEdit::Kind::NoAilments: break;
    }
    const QString before = QString::number(record.Status);
    SetNoAilments(record, edit.noAilments);
    return line(before, QString::number(record.Status), false);
}

int Set(const Request& request, const StagingContext& context, QTextStream& out, QTextStream& err)
{
    QStringList changes;
    // Read, edit and write in one frame: another program's save cannot slip in between.
    const Result<StateContents> before = EditState(
        request.statePath, context, request.maxGold, [&](const StateContents&, PartyState& party) {
            for (const SlotEdits& group : request.groups)
                for (const FieldEdit& edit : group.edits)
                    changes << ApplyEdit(party, group.slot, edit);
        });
    if (!before)
        return Fail(err, before.failure().message());
    for (const QString& change : changes)
        out << change << '\n';
    if (request.maxGold)
        out << "gold: " << before.value().gold << " -> " << kMaxGold << '\n';
    out << "Saved " << request.statePath << '\n';
    return kExitOk;
}

int ListBackupsOf(const Request& request, const StagingContext& context, QTextStream& out)
{
    const QList<Backup> backups = ListBackups(context.backupFolder, request.statePath);
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
    if (!parsed.request) {
        err << "cindral-party: " << parsed.error << "\n\n" << UsageText();
        err.flush();
        return kExitUsage;
    }
    StagingContext context;
    context.programFolder = programFolder;
    context.backupFolder = DefaultBackupFolder();
    // Listing and restoring need the folder even under --no-backup; only new backups stop.
    const QString backupFolder = context.backupFolder;
    if (!parsed.request->backup)
        context.backupFolder.clear();
    int status = kExitOk;
    switch (parsed.request->verb) {
    case Verb::Help: out << UsageText(); break;
    case Verb::Version: out << "cindral-party " << CINDRAL_VERSION << '\n'; break;
    case Verb::Show: status = Show(*parsed.request, context, out, err); break;
    case Verb::Set: status = Set(*parsed.request, context, out, err); break;
    case Verb::Backups: {
        StagingContext listing = context;
        listing.backupFolder = backupFolder;
        status = ListBackupsOf(*parsed.request, listing, out);
        break;
    }
    case Verb::Restore: status = Restore(*parsed.request, context, backupFolder, out, err); break;
    }
    out.flush();
    err.flush();
    return status;
}

}  // namespace cli
