// The floor a decompressor or a save is measured against: a plain C program that does only the
// work nobody can skip. It stream-inflates a state (gzip or plain) with zlib and writes the
// image; with --replace it writes the image beside the state, syncs it and renames it over
// the state, as an atomic save must.
//
//   floor_inflate STATE OUT
//   floor_inflate STATE --replace
//
// Built a second time as floor_inflate_qt, which first loads QtCore as any Qt program must.

#include <zlib.h>

#if defined(CINDRAL_FLOOR_WITH_QT)
#include <QCoreApplication>
#endif

#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

#if defined(_WIN32)
constexpr int kWriteFlags = O_WRONLY | O_CREAT | O_TRUNC | O_BINARY;
int SyncData(int fd)
{
    return ::_commit(fd);
}
// The one rename that replaces a file there.
int RenameOver(const char* from, const char* to)
{
    return ::MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : -1;
}
#else
constexpr int kWriteFlags = O_WRONLY | O_CREAT | O_TRUNC;
int SyncData(int fd)
{
    return ::fdatasync(fd);
}
int RenameOver(const char* from, const char* to)
{
    return std::rename(from, to);
}
#endif

}  // namespace

int main(int argc, char** argv)
{
#if defined(CINDRAL_FLOOR_WITH_QT)
    QCoreApplication app(argc, argv);
#endif
    if (argc != 3)
        return 2;
    const bool replace = std::strcmp(argv[2], "--replace") == 0;
    const std::string out = replace ? std::string(argv[1]) + ".new" : argv[2];
    gzFile in = gzopen(argv[1], "rb");
    const int fd = ::open(out.c_str(), kWriteFlags, 0644);
    if (!in || fd < 0)
        return 1;
    gzbuffer(in, 256 * 1024);
    static char buffer[256 * 1024];
    for (;;) {
        const int n = gzread(in, buffer, sizeof buffer);
        if (n < 0)
            return 1;
        if (n == 0)
            break;
        if (::write(fd, buffer, size_t(n)) != n)
            return 1;
    }
    gzclose(in);
    // Closed before the rename: Windows renames no file that is still open.
    if (replace && SyncData(fd) != 0)
        return 1;
    if (::close(fd) != 0)
        return 1;
    return replace && RenameOver(out.c_str(), argv[1]) != 0 ? 1 : 0;
}
