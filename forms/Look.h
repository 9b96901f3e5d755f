#pragma once

// Fonts and pictures shared by the two windows.

#include <QFont>
#include <QIcon>
#include <QPixmap>

namespace forms {

// Registers metric-compatible stand-ins for the window fonts where they are missing.
void InstallFontSubstitutions();

QFont WindowFont();      // Arial 8.25 pt
QFont AboutTitleFont();  // a bold condensed face, 26.25 pt
QFont AboutTextFont();   // Courier New 8.25 pt bold

QIcon EditorIcon();
QIcon AboutIcon();
QIcon TabIcon(int slotNumber);  // pure green is the mask colour
QPixmap AboutPicture();

}  // namespace forms
