// The value of a text with the clamp and rounding: for any text and any of the boxes' limits,
// the stored value lies in 0..limit, the clamped text is stable, and the stored value is the
// rounded value of the clamped text.

#include "NumericText.h"

#include <QString>

#include <cmath>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    static const std::int32_t limits[] = {255, 999, 99999, 0, 1};
    const std::int32_t limit = limits[data[0] % 5];
    // Half the inputs as Latin-1, half as UTF-16, so any character reaches the parser.
    const QString text =
        (data[0] & 0x80)
            ? QString::fromUtf16(reinterpret_cast<const char16_t*>(data + 1),
                                 qsizetype((size - 1) / 2))
            : QString::fromLatin1(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    const double value = Process::TextValue(text);
    if (std::isnan(value))
        std::abort();
    const Process::NumericEdit edit = Process::ApplyNumericText(text, limit);
    if (edit.value < 0 || edit.value > limit)
        std::abort();
    const double clampedValue = Process::TextValue(edit.text);
    if (clampedValue < 0 || clampedValue > limit)
        std::abort();
    if (Process::ApplyNumericText(edit.text, limit).text != edit.text)
        std::abort();
    if (edit.value != Process::RoundHalfEven(clampedValue))
        std::abort();
    if (edit.clamped != (edit.text != text))
        std::abort();
    return 0;
}
