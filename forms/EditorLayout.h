#pragma once

// The editor window's tables: where each control of its panel stands, what it is called, what
// a screen reader says for it and in which order Tab reaches it. What the controls do is the
// window's.

#include "MemberFields.h"

#include <QString>

class QWidget;

namespace forms {

// The object name of a numeric field's box ("txtHPL" for the HP on the left).
QString BoxName(Process::NumericField field);

// Makes the panel's controls in their places: the name box and every numeric box (empty, taking
// any length), "No Ailments", the gold button, the labels and the rules.
void PlacePanelControls(QWidget* panel);

// Tab goes through the window's controls in the order the window was designed with.
void SetEditorTabOrder(QWidget* window);

}  // namespace forms
