#pragma once

// What a drop on the editor window carries: one local state file, or why it is not one.

#include "Outcome.h"

#include <QString>

class QMimeData;

namespace forms {

// True when the drop carries files at all; the window then takes it and explains on the drop.
bool CarriesFiles(const QMimeData* data);

// The one local file of the drop, or a message for the user: several files, a folder, or a
// place that is not on this computer.
Process::Result<QString> DroppedStateFile(const QMimeData* data);

}  // namespace forms
