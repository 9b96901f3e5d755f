// The name codec: decoding keeps the length; encoding pads short texts to seven characters;
// what is shown survives encode and decode again, except a shown space, which comes back as
// character 0; a shown name typed back in shows the same up to its first space.

#include "NameCodec.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString stored =
        QString::fromLatin1(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString shown = Process::DecodeName(stored);
    if (shown.size() != stored.size())
        std::abort();
    const QString encoded = Process::EncodeName(shown);
    if (encoded.size() != (shown.size() < 6 ? 7 : shown.size()))
        std::abort();
    const QString again = Process::DecodeName(encoded.left(shown.size()));
    for (qsizetype i = 0; i < shown.size(); ++i) {
        const char16_t expected = shown[i] == u' ' ? u'\0' : shown[i].unicode();
        if (again[i].unicode() != expected)
            std::abort();
    }
    Process::NameField field{};
    for (std::size_t i = 0; i < 4 && i < size; ++i)
        field[i] = data[i];
    const QString display = Process::NameForDisplay(field);
    if (display.size() > 4 || display.contains(QChar(0)))
        std::abort();
    // Typing back what is shown shows the same again, up to the first space (stored as 0).
    const qsizetype space = display.indexOf(u' ');
    const QString kept = space < 0 ? display : display.left(space);
    if (Process::NameForDisplay(Process::NameFieldFromText(display)) != kept)
        std::abort();
    return 0;
}
