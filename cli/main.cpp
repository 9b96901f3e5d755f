// cindral-party: shows and changes the party of a state file without a window.

#include "Commands.h"
#include "RunningProgram.h"
#include "StagingFolder.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

// Qt's own diagnostics (a pipe it could not make, say) would only repeat, in a developer's words,
// the one line this program prints about the same failure.
void KeepQtQuiet(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "cindral-party: %s\n", qUtf8Printable(message));
        std::abort();
    }
}

}  // namespace

int main(int argc, char** argv)
{
    // A reader that went away is a write error like any other: one line and exit status 1,
    // not a silent death by SIGPIPE.
#if defined(SIGPIPE)
    std::signal(SIGPIPE, SIG_IGN);
#endif
    // An abort is a crash, never an exit status of ours (Windows' C runtime would end with 3).
    platform::AbortAsACrash();
    // Names and paths beyond ASCII show as they are on a Windows console too.
    platform::ConsoleTakesUtf8();
    qInstallMessageHandler(KeepQtQuiet);
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    // The decompressor lives beside this program, or in the install's libexec folder.
    return cli::Run(app.arguments().mid(1),
                    Process::FindDecompressorFolder(QCoreApplication::applicationDirPath()), out,
                    err);
}
