// Translation of Qt keyboard and mouse state into key flags, as plain functions of the state so
// that every combination can be checked without events.
#pragma once

#include <ZimBase64t.h>

#include <Qt>

namespace orvUI {

// Control, Shift or Alt held alone give their flag; no modifier, combinations, Meta and keypad
// give ZimKeyNone (the state is compared as a whole).
ZimKey modifierFlag(Qt::KeyboardModifiers modifiers);
// One button flag, priority right, middle, left; ZimKeyNone when none of them is held.
ZimKey buttonFlag(Qt::MouseButtons buttons);
// The modifier flag, replaced by the key's own flag when the key itself is Control, Shift or Alt.
ZimKey keyFlag(Qt::KeyboardModifiers modifiers, int key);

}  // namespace orvUI
