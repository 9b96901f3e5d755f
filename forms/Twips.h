#pragma once

// The window's layout is given in twips; 15 twips make one device-independent pixel, and Qt's
// high-DPI scaling takes it from there.

#include <QRect>

namespace forms {

constexpr int Px(int twips)
{
    return (twips + 7) / 15;
}

constexpr QRect TwipRect(int left, int top, int width, int height)
{
    return QRect(Px(left), Px(top), Px(width), Px(height));
}

}  // namespace forms
