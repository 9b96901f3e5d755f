#pragma once

// The gold button's captions: they show whether a save maxes out the gold, which the window
// keeps as a value of its own. Only the first caption carries the access key.

#include <QString>

namespace forms {

inline const QString kGoldCaptionInitial = QStringLiteral("&Max Out Gold - NO");
inline const QString kGoldCaptionOn = QStringLiteral("Max Out Gold - OK");
inline const QString kGoldCaptionOff = QStringLiteral("Max Out Gold - NO");

inline QString GoldCaption(bool maxOut)
{
    return maxOut ? kGoldCaptionOn : kGoldCaptionOff;
}

}  // namespace forms
