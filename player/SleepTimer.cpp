// The sleep timer: playback stops after minutes of listening, the sound
// fading out over their last seconds, or at the end of the chapter or the
// file. A Stop and the end of the list end it.
#include "PlaybackController.h"

#include "engine/Chapters.h"
#include "engine/SpeedEngine.h"

#include <cstdio>

namespace {

constexpr uint64_t kUsPerMinute = 60 * 1000 * 1000;
constexpr uint64_t kUsPerSecond = 1000 * 1000;

} // namespace

int CPlaybackController::GetSleepTimer() const
{
    switch (m_eSleep) {
    case ESleep::Off:
        return SLEEP_OFF;
    case ESleep::ChapterEnd:
        return SLEEP_CHAPTER_END;
    case ESleep::FileEnd:
        return SLEEP_FILE_END;
    case ESleep::Minutes:
        break;
    }
    return static_cast<int>(std::max<uint64_t>(1, (m_nSleepLeftUs + kUsPerMinute - 1) / kUsPerMinute));
}

void CPlaybackController::OnSleepTimer(int nChoice)
{
    if (nChoice > 0) {
        // Chosen again while it runs, the minutes add up.
        const uint64_t nAdded = static_cast<uint64_t>(nChoice) * kUsPerMinute;
        m_nSleepLeftUs = m_eSleep == ESleep::Minutes ? m_nSleepLeftUs + nAdded : nAdded;
        m_eSleep = ESleep::Minutes;
    } else {
        m_eSleep = nChoice == SLEEP_CHAPTER_END ? ESleep::ChapterEnd
            : nChoice == SLEEP_FILE_END        ? ESleep::FileEnd
                                               : ESleep::Off;
        m_nSleepLeftUs = 0;
    }
    // The engine's file takes the new timer from the sound it writes next;
    // one that has written its last keeps the end it was given.
    if (IsPlaying() && m_engine.GetFormat() && m_pending.Is(EPending::None) && !m_engine.m_bEndOfInput)
        ApplySleepTimer();
    ShowSleepTimer();
}

void CPlaybackController::ApplySleepTimer()
{
    const uint64_t nRate = m_engine.GetFormat()->nSamplesPerSec;
    if (m_eSleep == ESleep::Minutes)
        m_engine.SetFadeOut(m_nSleepLeftUs * nRate / kUsPerSecond, kSleepFadeSeconds * nRate);
    else
        m_engine.SetFadeOut(CSpeedEngine::kNoFadeOut, 0);
    m_nSleepEndFrame = kNoEndFrame;
    if (m_eSleep == ESleep::ChapterEnd) {
        // The chapter the reader stands in; a file without chapters ends at its end.
        const std::vector<SChapter>& chapters = m_engine.SoundFile().GetChapters();
        const int nChapter = ChapterAt(chapters, m_engine.SoundFile().GetPositionFrames());
        if (nChapter >= 0 && static_cast<size_t>(nChapter) + 1 < chapters.size())
            m_nSleepEndFrame = chapters[static_cast<size_t>(nChapter)].nEndFrame;
    }
    m_engine.SetEndFrame(m_nSleepEndFrame);
}

void CPlaybackController::FollowSleepTimer()
{
    const WAVEFORMATEX* pFormat = m_engine.GetFormat();
    if (m_eSleep == ESleep::Minutes && pFormat && pFormat->nSamplesPerSec > 0
        && m_engine.GetFadeOutLeft() != CSpeedEngine::kNoFadeOut)
        m_nSleepLeftUs = m_engine.GetFadeOutLeft() * kUsPerSecond / pFormat->nSamplesPerSec;
    ShowSleepTimer();
}

void CPlaybackController::ShowSleepTimer()
{
    std::string strText;
    if (m_eSleep == ESleep::Minutes) {
        const uint64_t nSeconds = (m_nSleepLeftUs + kUsPerSecond - 1) / kUsPerSecond;
        char strTime[32];
        std::snprintf(strTime, sizeof strTime, "%llu:%02llu", static_cast<unsigned long long>(nSeconds / 60),
            static_cast<unsigned long long>(nSeconds % 60));
        strText = strTime;
    } else if (m_eSleep == ESleep::ChapterEnd) {
        strText = kSleepChapterEndText;
    } else if (m_eSleep == ESleep::FileEnd) {
        strText = kSleepFileEndText;
    }
    if (strText == m_strShownSleep)
        return;
    m_strShownSleep = strText;
    m_view.SetSleepText(strText);
}

bool CPlaybackController::StopForSleepTimer()
{
    const WAVEFORMATEX* pFormat = m_engine.GetFormat();
    if (!pFormat || m_pending.nNextEntry != -1)
        return false;
    // What the engine was given decides, even where the timer was switched
    // off as the sound ran out: the file itself has not ended.
    const std::string strPath = CurrentFile();
    int nContinueWith = m_nCurrent;
    uint64_t nPlace = 0;
    if (m_engine.HasFadedOut()) {
        // What faded is heard again: the next Play goes back to where the fade began.
        nPlace = m_engine.GetFadeStartFrame();
    } else if (m_nSleepEndFrame != kNoEndFrame) {
        // The chapter's end is the end of the engine's input: a restart
        // asked for near it finds nothing more either.
        if (m_pending.Is(EPending::Jump) || !m_engine.m_bEndOfInput)
            return false;
        nPlace = m_nSleepEndFrame;
    } else if (m_eSleep == ESleep::FileEnd || m_eSleep == ESleep::ChapterEnd) {
        if (!m_pending.Is(EPending::None))
            return false;
        // The file played to its end: Play goes on with the next entry.
        ForgetPosition(strPath);
        nContinueWith = m_nCurrent + 1 < m_PlayList.GetCount() ? m_nCurrent + 1 : m_nCurrent;
    } else {
        return false;
    }
    if (nPlace > 0)
        RememberPlace(strPath, nPlace, m_nRunLengthFrames, pFormat->nSamplesPerSec);
    m_pending = SPendingStart{};
    EndRun();
    if (nContinueWith >= 0 && nContinueWith < m_PlayList.GetCount())
        SelectOnly(nContinueWith);
    ShowStoppedPlace();
    return true;
}

void CPlaybackController::EndSleepTimer()
{
    m_eSleep = ESleep::Off;
    m_nSleepLeftUs = 0;
    m_nSleepEndFrame = kNoEndFrame;
    ShowSleepTimer();
}
