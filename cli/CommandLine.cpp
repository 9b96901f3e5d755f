#include "CommandLine.h"

#include "Backups.h"
#include "NameCodec.h"

#include <QDir>

namespace cli {
namespace {

using namespace Process;

// The words noailments takes, and what each means.
const QList<QPair<QString, bool>> kFlagWords{{"1", true},  {"yes", true}, {"true", true},
                                             {"0", false}, {"no", false}, {"false", false}};

Parsed Error(const QString& message)
{
    return {std::nullopt, message};
}

QString FieldList()
{
    QStringList keys{"name"};
    for (const NumericFieldInfo& info : NumericFields())
        keys << QLatin1String(info.key);
    keys << "noailments";
    return keys.join(' ');
}

std::optional<QString> ParseEdit(FieldEdit& edit)
{
    if (edit.key == QLatin1String("name")) {
        edit.kind = FieldEdit::Kind::Name;
        if (!IsLatin1(edit.value))
            return QStringLiteral("name \"%1\" has characters the game cannot store")
                .arg(edit.value);
        return std::nullopt;
    }
    if (edit.key == QLatin1String("noailments")) {
        edit.kind = FieldEdit::Kind::NoAilments;
        for (const auto& [word, meaning] : kFlagWords)
            if (edit.value.compare(word, Qt::CaseInsensitive) == 0) {
                edit.noAilments = meaning;
                return std::nullopt;
            }
        return QStringLiteral("noailments takes 1 or 0, not \"%1\"").arg(edit.value);
    }
    edit.kind = FieldEdit::Kind::Numeric;
    edit.numeric = FindNumericField(edit.key);
    if (!edit.numeric)
        return QStringLiteral("unknown field \"%1\"; the fields are: %2")
            .arg(edit.key, FieldList());
    return std::nullopt;
}

Parsed ParseSet(Request request, const QStringList& words)
{
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString& word = words[i];
        if (word == QLatin1String("--max-gold")) {
            request.maxGold = true;
        } else if (word == QLatin1String("--no-backup")) {
            request.backup = false;
        } else if (word == QLatin1String("--slot")) {
            if (i + 1 >= words.size())
                return Error(QStringLiteral("--slot needs a number from 1 to 4"));
            bool isNumber = false;
            const int number = words[++i].toInt(&isNumber);
            const Result<Slot> slot = Slot::FromNumber(isNumber ? number : 0);
            if (!slot)
                return Error(
                    QStringLiteral("there is no slot \"%1\"; the slots are 1 to 4").arg(words[i]));
            request.groups.append({slot.value(), {}});
        } else if (const auto eq = word.indexOf(QLatin1Char('='));
                   eq > 0 && !word.startsWith('-')) {
            if (request.groups.isEmpty())
                return Error(QStringLiteral("%1 comes before any --slot").arg(word));
            FieldEdit edit;
            edit.key = word.left(eq).toLower();
            edit.value = word.mid(eq + 1);
            if (const auto problem = ParseEdit(edit))
                return Error(*problem);
            request.groups.last().edits.append(edit);
        } else {
            return Error(QStringLiteral("unexpected \"%1\"").arg(word));
        }
    }
    if (request.groups.isEmpty())
        return Error(QStringLiteral("set needs at least one --slot N with FIELD=VALUE"));
    for (const SlotEdits& group : request.groups)
        if (group.edits.isEmpty())
            return Error(QStringLiteral("--slot %1 has no FIELD=VALUE").arg(group.slot.number()));
    return {request, {}};
}

}  // namespace

QString UsageText()
{
    return QStringLiteral(
               "Usage:\n"
               "  cindral-party show STATE [--json]\n"
               "  cindral-party set STATE --slot N FIELD=VALUE... [--slot N FIELD=VALUE...] "
               "[--max-gold]\n"
               "                    [--no-backup]\n"
               "  cindral-party backups STATE\n"
               "  cindral-party restore STATE [N] [--no-backup]\n"
               "  cindral-party --help | --version\n"
               "\n"
               "show prints the four party members and the gold; the state file is not changed.\n"
               "set changes members' fields and saves the state as the editor does; each value\n"
               "goes through the editor's own rules (held inside 0..limit, halves rounded to\n"
               "even, names of at most four characters). --max-gold also sets the gold to 999999.\n"
               "\n"
               "Before set or restore replaces a state file, the bytes it held are kept as a\n"
               "backup in %2 (the newest %3 of each\n"
               "state; --no-backup keeps none). backups lists them, newest first, numbered from "
               "1;\n"
               "restore puts backup N (default 1, the newest) back in the state's place.\n"
               "\n"
               "Fields: %1\n"
               "  noailments=1 clears the member's ailments, noailments=0 sets an ailment.\n"
               "\n"
               "Exit status: 0 done, 1 the state could not be read or saved, 2 wrong words.\n"
               "The decompressor Unvell must stand beside this program, in a writable folder.\n")
        .arg(FieldList(), QDir::toNativeSeparators(DefaultBackupFolder()),
             QString::number(kKeptBackups));
}

Parsed ParseCommandLine(const QStringList& args)
{
    if (args.isEmpty())
        return Error(QStringLiteral("no command given"));
    const QString& verb = args.first();
    if (verb == QLatin1String("--help") || verb == QLatin1String("-h") ||
        verb == QLatin1String("help"))
        return {Request{}, {}};  // Verb::Help
    if (verb == QLatin1String("--version")) {
        Request version;
        version.verb = Verb::Version;
        return {version, {}};
    }
    const QStringList verbs{"show", "set", "backups", "restore"};
    if (!verbs.contains(verb))
        return Error(QStringLiteral("unknown command \"%1\"").arg(verb));
    if (args.size() < 2 || args[1].startsWith(QLatin1String("--")))
        return Error(QStringLiteral("%1 needs the path of a state file").arg(verb));

    Request request;
    request.statePath = args[1];
    const QStringList rest = args.mid(2);
    if (verb == QLatin1String("set")) {
        request.verb = Verb::Set;
        return ParseSet(request, rest);
    }
    if (verb == QLatin1String("backups")) {
        request.verb = Verb::Backups;
        if (!rest.isEmpty())
            return Error(QStringLiteral("unexpected \"%1\"").arg(rest.first()));
        return {request, {}};
    }
    if (verb == QLatin1String("restore")) {
        request.verb = Verb::Restore;
        bool numbered = false;
        for (const QString& word : rest) {
            bool isNumber = false;
            const int number = word.toInt(&isNumber);
            if (word == QLatin1String("--no-backup"))
                request.backup = false;
            else if (isNumber && number >= 1 && !numbered)
                request.backupNumber = number, numbered = true;
            else
                return Error(QStringLiteral("unexpected \"%1\"; restore takes a backup number "
                                            "from 1 up")
                                 .arg(word));
        }
        return {request, {}};
    }
    request.verb = Verb::Show;
    for (const QString& word : rest) {
        if (word != QLatin1String("--json"))
            return Error(QStringLiteral("unexpected \"%1\"").arg(word));
        request.json = true;
    }
    return {request, {}};
}

}  // namespace cli
