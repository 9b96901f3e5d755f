#pragma once

// The rules of the numeric boxes, free of widgets: the value of a text, holding it inside
// 0..limit, and rounding to the stored integer.

#include <QString>

#include <cstdint>

namespace Process {

// The number written at the start of the text: leading blanks, an optional sign, digits and an
// optional fraction after ".". Reading stops at the first character that does not fit; a text
// without a number is 0. Locale-free; no exponents.
double TextValue(QStringView text);

// The clamp rule: a text whose value is above the limit becomes the limit in decimal, one whose
// value is then below 0 becomes "0"; any other text is returned as it is, trailing letters too.
QString ClampText(const QString& text, std::int32_t limit);

// Round to the nearest integer, an exact half to the even neighbour (2.5 -> 2, 3.5 -> 4).
std::int32_t RoundHalfEven(double value);

struct NumericEdit {
    QString text;        // what the box holds after the clamp rule
    std::int32_t value;  // what is stored, 0..limit
    bool clamped;        // the clamp rule replaced the text
};

// One keystroke's worth of a numeric box: clamp, then the stored value.
NumericEdit ApplyNumericText(const QString& typed, std::int32_t limit);

}  // namespace Process
