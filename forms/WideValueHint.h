#pragma once

// A box keeps its size; a value wider than it can still be read whole, in the box's tooltip
// and, for a screen reader, in its accessible description.

class QLineEdit;

namespace forms {

// Keeps the tooltip and accessible description of `box` in step with its text: the text
// while it is wider than the box shows, nothing otherwise.
void ShowWideValues(QLineEdit* box);

}  // namespace forms
