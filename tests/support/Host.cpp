#include "Host.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace testsupport {

double ProcessCpuMs()
{
#if defined(_WIN32)
    FILETIME created{}, exited{}, kernel{}, user{};
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& t) {
        return double((ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0;
    };
    return ms(kernel) + ms(user);
#else
    rusage r{};
    ::getrusage(RUSAGE_SELF, &r);
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000.0 +
           double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000.0;
#endif
}

bool RunningAsRoot()
{
#if defined(_WIN32)
    return false;
#else
    return ::geteuid() == 0;
#endif
}

}  // namespace testsupport
