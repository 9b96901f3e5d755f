#pragma once

// Alt with a letter is a command key: where no control takes it (a caption that has lost its
// access key), a text box must not type the letter instead.

class QWidget;

namespace forms {

// Keeps Alt+letter (and Alt+digit) out of `box` as typing; shortcuts still see the key first.
void RefuseAltLetters(QWidget* box);

}  // namespace forms
