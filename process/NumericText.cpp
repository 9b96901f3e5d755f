#include "NumericText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

namespace Process {

double TextValue(QStringView text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == u' ' || text[i] == u'\t'))
        ++i;

    // Copy the recognised number as ASCII and let from_chars (locale-free) convert it.
    std::string number;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        if (text[i] == u'-')
            number += '-';
        ++i;
    }
    bool anyDigit = false;
    auto takeDigits = [&] {
        while (i < n && text[i] >= u'0' && text[i] <= u'9') {
            number += char(text[i].unicode());
            anyDigit = true;
            ++i;
        }
    };
    takeDigits();
    if (i < n && text[i] == u'.') {
        number += '.';
        ++i;
        takeDigits();
    }
    if (!anyDigit)
        return 0.0;

    double value = 0.0;
    const auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (ec == std::errc::result_out_of_range) {
        // from_chars says the same for too large and too small. A number whose digits before
        // the point are all zero is too small: as a double it is zero. Any other is beyond a
        // double: as large as a double gets, with the text's sign.
        const auto digits = number.find_first_not_of("-+");
        const auto point = number.find('.');
        const bool tiny = number.find_first_not_of('0', digits) >= std::min(point, number.size());
        if (tiny)
            return 0.0;
        return number.front() == '-' ? -HUGE_VAL : HUGE_VAL;
    }
    (void)end;
    return value;
}

QString ClampText(const QString& text, std::int32_t limit)
{
    QString result = text;
    if (TextValue(result) > limit)
        result = QString::number(limit);
    if (TextValue(result) < 0)
        result = QStringLiteral("0");
    return result;
}

std::int32_t RoundHalfEven(double value)
{
    // Independent of the floating-point rounding mode; out-of-range values saturate so the
    // conversion is always defined (the clamp rule keeps real inputs inside 0..limit).
    if (std::isnan(value))
        return 0;
    const double floor = std::floor(value);
    const double rest = value - floor;
    double rounded = floor;
    if (rest > 0.5 || (rest == 0.5 && std::fmod(floor, 2.0) != 0.0))
        rounded = floor + 1.0;
    if (rounded >= 2147483647.0)
        return std::numeric_limits<std::int32_t>::max();
    if (rounded <= -2147483648.0)
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(rounded);
}

NumericEdit ApplyNumericText(const QString& typed, std::int32_t limit)
{
    NumericEdit edit;
    edit.text = ClampText(typed, limit);
    edit.clamped = edit.text != typed;
    edit.value = RoundHalfEven(TextValue(edit.text));
    return edit;
}

}  // namespace Process
