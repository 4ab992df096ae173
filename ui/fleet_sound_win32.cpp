// The system's sounds: the default one for a station done, the warning for
// one that needs attention.
#include <windows.h>

#include "FleetSound.h"

void playOutcomeSound(bool attention) { MessageBeep(attention ? MB_ICONEXCLAMATION : MB_OK); }
