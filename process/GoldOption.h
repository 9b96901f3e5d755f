#pragma once

// The gold option lives in the caption of the gold button: on exactly when the caption ends in
// "OK" (upper case). Only the first caption carries the access key.

#include <QString>

namespace Process {

inline const QString kGoldCaptionInitial = QStringLiteral("&Max Out Gold - NO");
inline const QString kGoldCaptionOn = QStringLiteral("Max Out Gold - OK");
inline const QString kGoldCaptionOff = QStringLiteral("Max Out Gold - NO");

inline bool GoldMaxOut(const QString& caption)
{
    return caption.endsWith(QLatin1String("OK"), Qt::CaseSensitive);
}

inline QString NextGoldCaption(const QString& caption)
{
    return GoldMaxOut(caption) ? kGoldCaptionOff : kGoldCaptionOn;
}

}  // namespace Process
