#include "CommandLine.h"

#include "Backups.h"
#include "NameCodec.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>
#include <optional>

namespace cli {
namespace {

using namespace Process;

// The words noailments takes, and what each means.
const QList<QPair<QString, bool>> kFlagWords{{"1", true},  {"yes", true}, {"true", true},
                                             {"0", false}, {"no", false}, {"false", false}};

Parsed Error(const QString& message)
{
    return Outcome::failure(ErrorKind::WrongWords, message);
}

QString FieldList()
{
    QStringList keys{"name"};
    for (const NumericFieldInfo& info : NumericFields())
        keys << QLatin1String(info.key);
    keys << "noailments";
    return keys.join(' ');
}

// A value the command line takes as a number: digits with an optional sign and decimal point,
// blanks around them as a box reads them, nothing else (a box being typed into reads what it
// can; a command refuses the rest).
bool IsNumber(const QString& value)
{
    static const QRegularExpression number(
        QStringLiteral("^[ \\t]*[+-]?(\\d+\\.?\\d*|\\.\\d+)[ \\t]*$"));
    return number.match(value).hasMatch();
}

// Edits to turn a into b, a swap of two neighbours counting as one.
qsizetype EditDistance(QStringView a, QStringView b)
{
    QList<QList<qsizetype>> d(a.size() + 1, QList<qsizetype>(b.size() + 1, 0));
    for (qsizetype i = 0; i <= a.size(); ++i)
        d[i][0] = i;
    for (qsizetype j = 0; j <= b.size(); ++j)
        d[0][j] = j;
    for (qsizetype i = 1; i <= a.size(); ++i)
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const qsizetype cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

// The one field a mistyped key is closest to, when no other is as close and it is close at
// all (two edits at most, and fewer than the key has letters).
std::optional<QString> CloseField(const QString& key)
{
    std::optional<QString> best;
    qsizetype bestDistance = std::min<qsizetype>(3, key.size());
    bool tie = false;
    for (const QString& field : FieldList().split(QLatin1Char(' '))) {
        const qsizetype distance = EditDistance(key, field);
        if (distance < bestDistance) {
            best = field;
            bestDistance = distance;
            tie = false;
        } else if (distance == bestDistance && best) {
            tie = true;
        }
    }
    return tie ? std::nullopt : best;
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
    if (!edit.numeric) {
        if (const std::optional<QString> close = CloseField(edit.key))
            return QStringLiteral("unknown field \"%1\"; did you mean \"%2\"?")
                .arg(edit.key, *close);
        return QStringLiteral("unknown field \"%1\"; the fields are: %2")
            .arg(edit.key, FieldList());
    }
    if (!IsNumber(edit.value))
        return QStringLiteral("%1 takes a number, not \"%2\"").arg(edit.key, edit.value);
    return std::nullopt;
}

Parsed ParseWords(Request request, const QStringList& words)
{
    bool stateGiven = false, operandsOnly = false, numbered = false;
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString& word = words[i];
        const bool option = !operandsOnly && word.startsWith(QLatin1Char('-')) && word.size() > 1;
        if (!operandsOnly && word == QLatin1String("--")) {
            operandsOnly = true;  // every word after it is an operand, dash or not
            continue;
        }
        if (option) {
            if (word == QLatin1String("--help") || word == QLatin1String("-h")) {
                request.helpFor = request.verb;
                request.verb = Verb::Help;
                return request;
            }
            const bool set = request.verb == Verb::Set;
            if (word == QLatin1String("--json") &&
                (set || request.verb == Verb::Show || request.verb == Verb::Backups)) {
                request.json = true;
            } else if (set && word == QLatin1String("--max-gold")) {
                request.maxGold = true;
            } else if (set && word == QLatin1String("--dry-run")) {
                request.dryRun = true;
            } else if ((set || request.verb == Verb::Restore) &&
                       word == QLatin1String("--no-backup")) {
                request.backup = false;
            } else if (set && word == QLatin1String("--slot")) {
                if (i + 1 >= words.size())
                    return Error(
                        QStringLiteral("--slot needs a number from 1 to %1").arg(kSlotCount));
                bool isNumber = false;
                const int number = words[++i].toInt(&isNumber);
                const Result<Slot> slot = Slot::fromNumber(isNumber ? number : 0);
                if (!slot)
                    return Error(QStringLiteral("there is no slot \"%1\"; the slots are 1 to %2")
                                     .arg(words[i], QString::number(kSlotCount)));
                request.groups.append({slot.value(), {}});
            } else {
                return Error(QStringLiteral("unknown option \"%1\"").arg(word));
            }
            continue;
        }
        if (!stateGiven) {
            request.statePath = word;
            stateGiven = true;
        } else if (request.verb == Verb::Set && word.indexOf(QLatin1Char('=')) > 0) {
            if (request.groups.isEmpty())
                return Error(QStringLiteral("%1 comes before any --slot").arg(word));
            FieldEdit edit;
            edit.key = word.left(word.indexOf(QLatin1Char('='))).toLower();
            edit.value = word.mid(edit.key.size() + 1);
            if (const auto problem = ParseEdit(edit))
                return Error(*problem);
            request.groups.last().edits.append(edit);
        } else if (request.verb == Verb::Restore && !numbered) {
            bool isNumber = false;
            request.backupNumber = word.toInt(&isNumber);
            if (!isNumber || request.backupNumber < 1)
                return Error(QStringLiteral("unexpected \"%1\"; restore takes a backup number "
                                            "from 1 up")
                                 .arg(word));
            numbered = true;
        } else {
            return Error(QStringLiteral("unexpected \"%1\"").arg(word));
        }
    }
    if (!stateGiven)
        return Error(
            QStringLiteral("%1 needs the path of a state file").arg(VerbName(request.verb)));
    if (request.verb == Verb::Set) {
        if (request.groups.isEmpty() && !request.maxGold)
            return Error(
                QStringLiteral("set needs at least one --slot N with FIELD=VALUE, or --max-gold"));
        for (const SlotEdits& group : request.groups)
            if (group.edits.isEmpty())
                return Error(
                    QStringLiteral("--slot %1 has no FIELD=VALUE").arg(group.slot.number()));
    }
    return request;
}

}  // namespace

QString VerbName(Verb verb)
{
    switch (verb) {
    case Verb::Show: return QStringLiteral("show");
    case Verb::Set: return QStringLiteral("set");
    case Verb::Backups: return QStringLiteral("backups");
    case Verb::Restore: return QStringLiteral("restore");
    case Verb::Help: return QStringLiteral("help");
    case Verb::Version: return QStringLiteral("version");
    }
    return {};
}

namespace {

// "exp 0..99999; level str ... 0..255; ...": every field of the table, grouped by its limit.
QString FieldsAndLimits()
{
    QList<std::int32_t> limits;
    for (const NumericFieldInfo& info : NumericFields())
        if (!limits.contains(info.limit))
            limits.append(info.limit);
    QStringList groups;
    for (std::int32_t limit : limits) {
        QStringList keys;
        for (const NumericFieldInfo& info : NumericFields())
            if (info.limit == limit)
                keys << QLatin1String(info.key);
        groups
            << QStringLiteral("%1 0..%2").arg(keys.join(QLatin1Char(' ')), QString::number(limit));
    }
    return QStringLiteral("Fields and limits: %1; name (four characters); noailments (1, yes or "
                          "true clears the ailments; 0, no or false sets one).")
        .arg(groups.join(QStringLiteral("; ")));
}

QString Wrapped(const QString& text, qsizetype width)
{
    QString wrapped, line;
    for (const QString& word : text.split(QLatin1Char(' '))) {
        if (!line.isEmpty() && line.size() + 1 + word.size() > width) {
            wrapped += line + QLatin1Char('\n');
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    return wrapped + line;
}

}  // namespace

QString UsageText()
{
    return QStringLiteral(
               "Usage:\n"
               "  cindral-party show [--json] [--] STATE\n"
               "  cindral-party set [OPTIONS] STATE --slot N FIELD=VALUE... [--slot N "
               "FIELD=VALUE...]\n"
               "  cindral-party set [OPTIONS] --slot N [--] STATE FIELD=VALUE...\n"
               "      OPTIONS: [--max-gold] [--dry-run] [--json] [--no-backup]\n"
               "  cindral-party backups [--json] [--] STATE\n"
               "  cindral-party restore [--] STATE [N] [--no-backup]\n"
               "  cindral-party -h | --help | -V | --version\n"
               "\n"
               "show prints the four party members and the gold; the state file is not changed.\n"
               "set changes members' fields and saves the state as the editor does, in one step\n"
               "under a lock on the state. Numbers beyond a field's limit are held at the limit\n"
               "(with a note), halves round to even, names take at most four characters; a value\n"
               "that is not a number is refused. --max-gold sets the gold to 999999, alone or\n"
               "with fields.\n"
               "--dry-run prints what would change and writes nothing; --json reports as JSON.\n"
               "A name the game cannot store as typed is stored as the window stores it, with a\n"
               "note on standard error.\n"
               "\n"
               "Before set or restore replaces a state file, the bytes it held are kept as a\n"
               "backup in %2\n"
               "(the newest %3 of each state; --no-backup keeps none). backups lists them, newest\n"
               "first, numbered from 1; restore puts backup N (default 1) back in the state's "
               "place.\n"
               "\n"
               "%4\n"
               "\n"
               "-- ends the options: every word after it is an operand (the state, FIELD=VALUE,\n"
               "N), even if it starts with '-'.\n"
               "Exit status: 0 done, 1 the state could not be read or saved, 2 wrong words.\n"
               "See cindral-party(1) for more.\n")
        .arg(QDir::toNativeSeparators(DefaultBackupFolder()), QString::number(kKeptBackups),
             Wrapped(FieldsAndLimits(), 84));
}

Parsed ParseCommandLine(const QStringList& args)
{
    if (args.isEmpty())
        return Error(QStringLiteral("no command given"));
    const QString& verb = args.first();
    Request request;
    if (verb == QLatin1String("--help") || verb == QLatin1String("-h") ||
        verb == QLatin1String("help"))
        return request;  // Verb::Help
    if (verb == QLatin1String("--version") || verb == QLatin1String("-V")) {
        request.verb = Verb::Version;
        return request;
    }
    for (Verb candidate : {Verb::Show, Verb::Set, Verb::Backups, Verb::Restore})
        if (verb == VerbName(candidate)) {
            request.verb = candidate;
            return ParseWords(request, args.mid(1));
        }
    return Error(QStringLiteral("unknown command \"%1\"").arg(verb));
}

}  // namespace cli
