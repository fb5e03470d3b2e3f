// The local time of day, as the player's clocks read it: the watchdog in
// seconds, the wait between files in milliseconds. Both wrap at midnight.
// Tests put in a clock of their own. User-interface thread only.
#pragma once

constexpr int kMillisecondsPerDay = 24 * 60 * 60 * 1000;

// ((hour * 60 + minute) * 60 + second), local time.
int SecondsOfDay();
// SecondsOfDay() * 1000 + milliseconds.
int MillisecondsOfDay();

// Replaces the clock with pfnMilliseconds (milliseconds of the day); null
// puts the system's clock back.
void SetTimeOfDaySource(int (*pfnMilliseconds)());
