// Load and save of a real-size state through the real decompressor, beside the floor: what any
// program must spend to read the gzip file, inflate it, write it out and start a process.

#include "Backups.h"
#include "ProgramFolder.h"
#include "SnapshotGenerator.h"
#include "StateFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <zlib.h>

using namespace testsupport;

namespace {

struct Fixture {
    QTemporaryDir states;
    ProgramFolder folder;
    QByteArray image = MakeImage(StateRecipe());
    QByteArray gzip = Pack(image, Packing::Gzip);
    QString path = states.filePath("bench.000");
};

Fixture& F()
{
    static Fixture fixture;
    return fixture;
}

void Report(benchmark::State& state)
{
    state.counters["plain_KB"] = double(F().image.size()) / 1000.0;
    state.counters["gzip_KB"] = double(F().gzip.size()) / 1000.0;
}

void BM_Load(benchmark::State& state, Packing packing)
{
    const QByteArray input = Pack(F().image, packing);
    Process::PartyState party;
    for (auto _ : state) {
        state.PauseTiming();
        WriteBytes(F().path, input);
        state.ResumeTiming();
        if (!Process::LoadState(F().path, F().folder.context(), party))
            state.SkipWithError("load failed");
    }
    Report(state);
}

void BM_Save(benchmark::State& state, Packing packing)
{
    const QByteArray input = Pack(F().image, packing);
    Process::PartyState party;
    WriteBytes(F().path, input);
    if (!Process::LoadState(F().path, F().folder.context(), party))
        state.SkipWithError("load failed");
    for (auto _ : state) {
        state.PauseTiming();
        WriteBytes(F().path, input);
        state.ResumeTiming();
        if (!Process::SaveState(F().path, F().folder.context(), party, true))
            state.SkipWithError("save failed");
    }
    Report(state);
}

// The bare floor: read the gzip file, inflate it, write the image, start a trivial process.
void BM_Floor(benchmark::State& state)
{
    WriteBytes(F().path, F().gzip);
    const QString out = F().states.filePath("floor.dec");
    for (auto _ : state) {
        QFile in(F().path);
        in.open(QIODevice::ReadOnly);
        const QByteArray packed = in.readAll();
        QByteArray plain(F().image.size(), '\0');
        z_stream zs{};
        inflateInit2(&zs, MAX_WBITS + 16);
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.constData()));
        zs.avail_in = uInt(packed.size());
        zs.next_out = reinterpret_cast<Bytef*>(plain.data());
        zs.avail_out = uInt(plain.size());
        inflate(&zs, Z_FINISH);
        inflateEnd(&zs);
        QFile file(out);
        file.open(QIODevice::WriteOnly);
        file.write(plain);
        file.close();
        QProcess trivial;
        trivial.start(QStringLiteral("/bin/true"), {});
        trivial.waitForFinished();
        benchmark::DoNotOptimize(plain.data());
    }
    Report(state);
}

// What a save adds for its backup of the 430 KB state: a hard link into the state's backup
// folder and the clean-up that keeps the newest twenty (steady state: the folder is full).
void BM_Backup(benchmark::State& state)
{
    WriteBytes(F().path, F().image);
    const QString backups = F().states.filePath("backups");
    for (auto _ : state) {
        if (!Process::BackUpStateFile(backups, F().path))
            state.SkipWithError("backup failed");
    }
    Report(state);
}

}  // namespace

BENCHMARK(BM_Backup)->Unit(benchmark::kMicrosecond)->UseRealTime()->MinTime(0.5);
BENCHMARK_CAPTURE(BM_Load, gzip, Packing::Gzip)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Load, plain, Packing::Plain)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Save, gzip, Packing::Gzip)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Save, plain, Packing::Plain)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Floor)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
