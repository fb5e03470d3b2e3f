// The local time of day, as the player's clocks read it: the watchdog in
// seconds, the wait between files in milliseconds. Both wrap at midnight.
// The wall clock, which does not, times what outlasts a day or a session.
// Tests put in clocks of their own. User-interface thread only.
#pragma once

#include <cstdint>

constexpr int kMillisecondsPerDay = 24 * 60 * 60 * 1000;

// ((hour * 60 + minute) * 60 + second), local time.
int SecondsOfDay();
// SecondsOfDay() * 1000 + milliseconds.
int MillisecondsOfDay();

// Replaces the clock with pfnMilliseconds (milliseconds of the day); null
// puts the system's clock back.
void SetTimeOfDaySource(int (*pfnMilliseconds)());

// Milliseconds since 1970 (UTC), from the system's real-time clock.
int64_t WallClockMs();
// Replaces the wall clock with pfnMilliseconds; null puts the system's back.
void SetWallClockSource(int64_t (*pfnMilliseconds)());
