#include "NameCodec.h"

namespace Process {

QString DecodeName(const QString& stored)
{
    QString result;
    result.reserve(stored.size());
    for (QChar ch : stored) {
        char16_t c = ch.unicode();
        if (c >= 193 && c <= 218)
            c = char16_t(c - 128);
        if (c >= 129 && c <= 154)
            c = char16_t(c - 32);
        if (c == 190)
            c = 47;
        if (c == 255)
            c = 0;
        result.append(QChar(c));
    }
    return result;
}

QString EncodeName(const QString& typed)
{
    QString result;
    result.reserve(std::max<qsizetype>(typed.size(), 7));
    for (QChar ch : typed) {
        char16_t c = ch.unicode();
        if (c >= 65 && c <= 90)
            c = char16_t(c + 128);
        else if (c >= 97 && c <= 122)
            c = char16_t(c + 32);
        else if (c == 32)
            c = 0;
        else if (c == 47)
            c = 190;
        result.append(QChar(c));
    }
    // The game's own padding rule: up to seven characters, not six.
    if (result.size() < 6)
        result.append(QString(7 - result.size(), QChar(0)));
    return result;
}

bool IsLatin1(QStringView text)
{
    for (QChar ch : text)
        if (ch.unicode() > 0xFF)
            return false;
    return true;
}

QString NameForDisplay(const NameField& field)
{
    QString stored;
    for (std::uint8_t b : field)
        stored.append(QChar(char16_t(b)));
    QString shown = DecodeName(stored);
    const auto end = shown.indexOf(QChar(0));
    return end < 0 ? shown : shown.left(end);
}

NameField NameFieldFromText(const QString& typed)
{
    const QString encoded = EncodeName(typed);
    NameField field{};
    for (std::size_t i = 0; i < field.size(); ++i) {
        // EncodeName never returns fewer than six characters, so every position is filled.
        const char16_t c = encoded.at(qsizetype(i)).unicode();
        field[i] = c <= 0xFF ? std::uint8_t(c) : std::uint8_t('?');
    }
    return field;
}

}  // namespace Process
