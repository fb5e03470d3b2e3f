// Every message the player puts before the listener, in one table: the
// Japanese texts exactly as the player has always said them, and the
// functions that complete those holding a name, a path or a reason.
#pragma once

#include <string>

// The question asked before the Alpha tones are first switched on.
extern const char kAlphaQuestion[];
// Said when the sound device stops playing during a run: the sound system
// stopped it, it has returned nothing for seconds, or it cannot be opened
// again after a stall or for the next entry.
extern const char kDeviceLostMessage[];
// Said, with the sound system's reason, when Play finds no sound device.
extern const char kNoDeviceMessage[];
// The elapsed time's tooltip while skipping silence: this, then the time saved.
extern const char kSavedTimeTip[];
// The elapsed time's tooltip: the elapsed time and the length, what is left
// at the speed (also of the chapter), and while skipping silence the note
// that what is left is counted without it.
extern const char kElapsedTip[];
extern const char kLengthTip[];
extern const char kFileLeftTip[];
extern const char kChapterLeftTip[];
extern const char kTimesSpeedWord[];
extern const char kLeftBeforeSkippingTip[];
// The sleep timer's place in the form while it ends at a chapter's or the file's end.
extern const char kSleepChapterEndText[];
extern const char kSleepFileEndText[];
// Between the file's name and the chapter's title.
extern const char kChapterSeparator[];
// What a failed save names: the settings, or the places reached in files.
extern const char kSettingsWord[];
extern const char kPositionsWord[];

// A store that cannot be written this run, with the system's reason; the
// settings' reason may stand for the places too (one lock guards both).
std::string NotSavingThisRunMessage(const std::string& strReason, bool bSettings, bool bPositions);
// A damaged file set aside under strCopy, the player started without it.
std::string DamagedSettingsMessage(const std::string& strCopy);
std::string DamagedPositionsMessage(const std::string& strCopy);
// A save that failed (strWhat is kSettingsWord or kPositionsWord).
std::string SaveFailedMessage(const char* strWhat, const std::string& strError);
// Another start's files could not be taken over.
std::string HandOverFailedMessage(const std::string& strError);
// The help page is not where it belongs, or could not be opened there.
std::string HelpMissingMessage(const std::string& strPath);
std::string HelpNotOpenedMessage(const std::string& strPath);
