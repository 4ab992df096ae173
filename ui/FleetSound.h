#pragma once
// A short sound when a run ends, another when the station needs attention,
// so a technician at the bench hears it without looking. The platform's own
// sounds (fleet_sound_win32.cpp, fleet_sound_posix.cpp).
void playOutcomeSound(bool attention);
