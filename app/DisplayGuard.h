#pragma once

// Qt ends a program that cannot open its display with an abort and advice to reinstall; the
// editor says in one line what is wrong and exits with status 1 instead.

namespace app {

// Watches Qt's messages while the application object is made: a fatal one then becomes one
// line on standard error and exit status 1. The warnings Qt gave on the way are kept back and
// given afterwards when the display did open.
class DisplayGuard
{
public:
    DisplayGuard();
    ~DisplayGuard();  // the display opened: Qt's messages go their usual way again

    DisplayGuard(const DisplayGuard&) = delete;
    DisplayGuard& operator=(const DisplayGuard&) = delete;
};

}  // namespace app
