#pragma once

// The game keeps names in a code of its own with the letters in the upper half of the byte
// range. Texts here hold one byte per character as Latin-1, so all 256 codes map one to one.

#include <QString>

#include <array>
#include <cstdint>

namespace Process {

using NameField = std::array<std::uint8_t, 4>;

// Stored codes to shown characters: 193..218 -> A..Z, 129..154 -> a..z, 190 -> '/',
// 255 -> character 0; every other code unchanged.
QString DecodeName(const QString& stored);

// Typed characters to stored codes: A..Z -> 193..218, a..z -> 129..154, ' ' -> 0,
// '/' -> 190; every other character unchanged. A result shorter than six characters is
// padded with character 0 to seven.
QString EncodeName(const QString& typed);

bool IsLatin1(QStringView text);

// What the name box shows: the decoded name up to its first character 0.
QString NameForDisplay(const NameField& field);

// What the name field stores for a typed text: the first four characters of EncodeName.
// A character beyond Latin-1 (which the editor never lets through) is stored as '?'.
NameField NameFieldFromText(const QString& typed);

}  // namespace Process
