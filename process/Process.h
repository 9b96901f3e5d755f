#pragma once

// Module Process: the party data of a state image, the staging of state files through the
// decompressor, loading and saving, the name codec and the rules of the numeric boxes.
// Depends on QtCore only.

#include "CharacterRecord.h"
#include "GoldOption.h"
#include "ImageLayout.h"
#include "MemberFields.h"
#include "NameCodec.h"
#include "NumericText.h"
#include "Outcome.h"
#include "PartyImage.h"
#include "PartyState.h"
#include "Staging.h"
#include "StateFile.h"
