// make-demo-state PATH: writes a gzip-compressed state with a plausible party to PATH.

#include "SnapshotGenerator.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: make-demo-state PATH\n");
        return 2;
    }
    QDir().mkpath(QFileInfo(args[1]).absolutePath());
    testsupport::StateRecipe recipe;
    recipe.gold = 4321;
    testsupport::WriteBytes(
        args[1], testsupport::Pack(testsupport::MakeImage(recipe), testsupport::Packing::Gzip));
    return 0;
}
