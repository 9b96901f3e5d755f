// Staging at three state sizes, each beside the floor that does the same unavoidable work,
// measured in the same iterations (floor, then subject, again and again), so that a busy or
// slow machine moves both alike. The column x_floor is the subject's time over the floor's;
// cpu_ms counts this process and every program it started (the decompressor among them).
//
// Floors (bench/floor_inflate.cpp, a plain C program on zlib):
//   Unvell          floor_inflate STATE OUT: stream-inflate and write the image.
//   Load, Save      the same as a process, then for a save (and the load of a compressed
//                   state, which must leave the plain image) write beside the state, fdatasync,
//                   rename: floor_inflate STATE --replace.
//   cindral-party   the same, by floor_inflate_qt, which loads QtCore as any Qt program must.

#include "Backups.h"
#include "ProgramFolder.h"
#include "SnapshotGenerator.h"
#include "StateFile.h"
#include "StatePath.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstring>
#include <functional>

#include <benchmark/benchmark.h>
#if defined(_WIN32)
#include "Host.h"

#include <windows.h>
#else
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;
#endif

using namespace testsupport;

namespace {

using Clock = std::chrono::steady_clock;

// The usual state, and larger ones made by screenshot-like blocks after the others (a block
// holds at most 999999 bytes).
QByteArray ImageOfSize(qsizetype size)
{
    QByteArray image = MakeImage(StateRecipe());
    for (qsizetype extra = size - image.size() - 11; extra > 0; extra = size - image.size() - 11) {
        const qsizetype length = std::min<qsizetype>(extra, 999999);
        QByteArray data(length, '\0');
        for (qsizetype i = 0; i < length; ++i)
            data[i] = char((i * 7) ^ (i >> 9) ^ (i % 251 == 0 ? 0x5A : 0));
        image += BlockHeader("SHO", int(length)) + data;
    }
    return image;
}

struct Sample {
    QByteArray image;
    QByteArray input;  // as packed
};

const Sample& SampleOf(qsizetype size, Packing packing)
{
    static std::map<std::pair<qsizetype, int>, Sample> samples;
    Sample& sample = samples[{size, int(packing)}];
    if (sample.image.isEmpty()) {
        sample.image = ImageOfSize(size);
        sample.input = Pack(sample.image, packing);
    }
    return sample;
}

struct Fixture {
    QTemporaryDir states;
    QTemporaryDir userData;
    ProgramFolder folder;
    QString path = states.filePath("bench.000");
    QString floorPath = states.filePath("floor.000");
    QString party = folder.addProgram(QStringLiteral(CINDRAL_PARTY_BINARY));
};

Fixture& F()
{
    static Fixture fixture;
    return fixture;
}

#if defined(_WIN32)
// The CPU time of the programs Spawn started (not of theirs: Windows keeps no such total).
double g_childCpuSeconds = 0;

bool Spawn(const QStringList& command)
{
    std::wstring line;
    for (const QString& word : command)
        line += L'"' + QDir::toNativeSeparators(word).toStdWString() + L"\" ";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &started))
        return false;
    ::WaitForSingleObject(started.hProcess, INFINITE);
    DWORD code = 1;
    ::GetExitCodeProcess(started.hProcess, &code);
    FILETIME created{}, exited{}, kernel{}, user{};
    ::GetProcessTimes(started.hProcess, &created, &exited, &kernel, &user);
    for (const FILETIME& t : {kernel, user})
        g_childCpuSeconds += double((ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    return code == 0;
}

double CpuSeconds()
{
    return testsupport::ProcessCpuMs() / 1000.0 + g_childCpuSeconds;
}
#else
bool Spawn(const QStringList& command)
{
    std::vector<QByteArray> words;
    for (const QString& word : command)
        words.push_back(QFile::encodeName(word));
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double CpuSeconds()
{
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage r{};
        getrusage(who, &r);
        total += double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
                 double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
    }
    return total;
}
#endif

// Runs floor and subject alternately, each after its own untimed setup; the subject's time is
// the benchmark's, the ratio and the floor's time are counters.
void Compare(benchmark::State& state, const std::function<void()>& setup,
             const std::function<bool()>& floor, const std::function<bool()>& subject)
{
    double floorTotal = 0, subjectTotal = 0, cpuTotal = 0;
    for (auto _ : state) {
        setup();
        auto start = Clock::now();
        if (!floor()) {
            state.SkipWithError("the floor failed");
            return;
        }
        floorTotal += std::chrono::duration<double>(Clock::now() - start).count();
        setup();
        const double cpu = CpuSeconds();
        start = Clock::now();
        const bool ok = subject();
        const double took = std::chrono::duration<double>(Clock::now() - start).count();
        cpuTotal += CpuSeconds() - cpu;
        if (!ok) {
            state.SkipWithError("the subject failed");
            return;
        }
        subjectTotal += took;
        state.SetIterationTime(took);
    }
    const double n = double(state.iterations());
    state.counters["floor_ms"] = floorTotal / n * 1e3;
    state.counters["cpu_ms"] = cpuTotal / n * 1e3;
    state.counters["x_floor"] = subjectTotal / floorTotal;
}

void BM_Unvell(benchmark::State& state, Packing packing)
{
    const Sample& sample = SampleOf(state.range(0), packing);
    WriteBytes(F().path, sample.input);
    const QString out = F().states.filePath("floor.dec");
    const QString flag = F().folder.file(Process::kCompletionFlagName);
    Compare(
        state, [&] { QFile::remove(flag); },
        [&] {
            return Spawn({QStringLiteral(CINDRAL_FLOOR_BINARY), F().path, out});
        },
        [&] {
            return Spawn({F().folder.file("Unvell"), "-dec", F().path});
        });
    state.counters["plain_MB"] = double(sample.image.size()) / 1e6;
}

void BM_Load(benchmark::State& state, Packing packing)
{
    const Sample& sample = SampleOf(state.range(0), packing);
    const bool replaces = packing != Packing::Plain;
    const QString out = F().states.filePath("floor.dec");
    Process::PartyState party;
    Compare(
        state,
        [&] {
            WriteBytes(F().path, sample.input);
            WriteBytes(F().floorPath, sample.input);
        },
        [&] {
            return Spawn({QStringLiteral(CINDRAL_FLOOR_BINARY), F().floorPath,
                          replaces ? QStringLiteral("--replace") : out});
        },
        [&] { return Process::LoadState(F().path, F().folder.context(), party).ok(); });
    state.counters["plain_MB"] = double(sample.image.size()) / 1e6;
}

void BM_Save(benchmark::State& state, Packing packing)
{
    const Sample& sample = SampleOf(state.range(0), packing);
    Process::PartyState party;
    WriteBytes(F().path, sample.input);
    if (!Process::LoadState(F().path, F().folder.context(), party))
        state.SkipWithError("load failed");
    party.block[S(1)].Str = 99;
    Compare(
        state,
        [&] {
            WriteBytes(F().path, sample.input);
            WriteBytes(F().floorPath, sample.input);
        },
        [&] {
            return Spawn({QStringLiteral(CINDRAL_FLOOR_BINARY), F().floorPath, "--replace"});
        },
        [&] { return SaveWholeParty(F().path, F().folder.context(), party, true).ok(); });
    state.counters["plain_MB"] = double(sample.image.size()) / 1e6;
}

void BM_PartySet(benchmark::State& state, Packing packing)
{
    const Sample& sample = SampleOf(state.range(0), packing);
    qputenv("XDG_DATA_HOME", QFile::encodeName(F().userData.path()));
    Compare(
        state,
        [&] {
            WriteBytes(F().path, sample.input);
            WriteBytes(F().floorPath, sample.input);
        },
        [&] {
            return Spawn({QStringLiteral(CINDRAL_FLOOR_QT_BINARY), F().floorPath, "--replace"});
        },
        [&] {
            return Spawn({F().party, "set", F().path, "--slot", "1", "str=99"});
        });
    state.counters["plain_MB"] = double(sample.image.size()) / 1e6;
}

// What a save adds for its backup of the 430 KB state: a hard link into the state's backup
// folder, its numbering and the clean-up that keeps the newest twenty (steady state: the
// folder is full). Each round starts, as after a save, with a new file in the state's place.
void BM_Backup(benchmark::State& state)
{
    const QByteArray& image = SampleOf(0, Packing::Plain).image;
    const QString backups = F().states.filePath("backups");
    const QString fresh = F().path + QStringLiteral(".fresh");
    for (auto _ : state) {
        state.PauseTiming();
        WriteBytes(fresh, image);
        QFile::remove(F().path);
        QFile::rename(fresh, F().path);
        state.ResumeTiming();
        const platform::File stateFile =
            platform::File::open(Process::ToNative(F().path), platform::Access::Read);
        Process::Result<Process::PendingBackup> backup =
            Process::PendingBackup::take(backups, F().path, stateFile, true);
        if (!backup || !backup.value().name())
            state.SkipWithError("backup failed");
        else
            backup.value().keep();
    }
}

void Sizes(benchmark::internal::Benchmark* b)
{
    // The usual 430 KB state, a 1.5 MB one and one of 16 MB, near the decompressor's cap.
    b->Arg(0)->Arg(1500000)->Arg(16000000)->UseManualTime()->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK_CAPTURE(BM_Unvell, gzip, Packing::Gzip)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Unvell, plain, Packing::Plain)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Load, gzip, Packing::Gzip)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Load, plain, Packing::Plain)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Save, gzip, Packing::Gzip)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Save, plain, Packing::Plain)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_PartySet, gzip, Packing::Gzip)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_PartySet, plain, Packing::Plain)->Apply(Sizes);
BENCHMARK(BM_Backup)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(0.5);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
