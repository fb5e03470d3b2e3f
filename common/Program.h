// The program's own words and numbers, in one place for every layer: the
// player, its window and velofon all say and do the same.
#pragma once

// The program's name: its settings folder and file, its window class (which
// the desktop entry's StartupWMClass names), its cache folder, the title of
// its boxes and its name to the desktop's media controls.
inline constexpr char kProgramName[] = "VelofonPocket";

// Every title the player's window takes holds this word, after the play
// state: "PLAY-Kuroto". Another start finds the running player by it.
inline constexpr char kCaptionWord[] = "Kuroto";

// How far a jump goes: Left and Right, and with Shift (the window), or with
// Up and Down (velofon play).
inline constexpr int kShortJumpSeconds = 10;
inline constexpr int kLongJumpSeconds = 60;
