// What the time shows (the elapsed time, or what is left at the speed of the
// file or of its chapter) and its tooltip, and the chapters of the entry
// that plays: the title beside the name, the ticks, the chapter keys.
#include "PlaybackController.h"

#include "common/Program.h"
#include "engine/Chapters.h"
#include "engine/SpeedEngine.h"

#include <cstdio>

std::string FormatTimeLeft(uint64_t nSeconds)
{
    char strTime[40];
    std::snprintf(strTime, sizeof strTime, "-%llu:%02llu:%02llu", static_cast<unsigned long long>(nSeconds / 3600),
        static_cast<unsigned long long>((nSeconds / 60) % 60), static_cast<unsigned long long>(nSeconds % 60));
    return strTime;
}

const std::vector<SChapter>& CPlaybackController::GetChapters() const
{
    static const std::vector<SChapter> kNone;
    return IsPlaying() ? m_engine.SoundFile().GetChapters() : kNone;
}

int CPlaybackController::GetCurrentChapter() const
{
    return IsPlaying() ? ChapterAt(GetChapters(), GetHeardFrame()) : -1;
}

std::string CPlaybackController::LeftAtSpeed(uint64_t nFrame, uint64_t nEnd, uint32_t nRate) const
{
    const uint64_t nDivisor = static_cast<uint64_t>(nRate) * static_cast<uint64_t>(m_nSpeedIdx + 10);
    const uint64_t nFrames = nEnd - std::min(nFrame, nEnd);
    return FormatTimeLeft(nDivisor == 0 ? 0 : (nFrames * 10 + nDivisor - 1) / nDivisor);
}

std::optional<uint64_t> CPlaybackController::ChapterEndAt(uint64_t nFrame) const
{
    const std::vector<SChapter>& chapters = GetChapters();
    const int nChapter = ChapterAt(chapters, nFrame);
    if (nChapter < 0)
        return std::nullopt;
    return chapters[static_cast<size_t>(nChapter)].nEndFrame;
}

std::string CPlaybackController::TimeText(uint64_t nFrame, uint64_t nLengthFrames, uint32_t nRate) const
{
    if (nRate == 0)
        return kTimeZero;
    if (m_nTimeDisplay == TIME_ELAPSED)
        return FormatElapsed(nFrame / nRate);
    const uint64_t nEnd = m_nTimeDisplay == TIME_CHAPTER_LEFT ? ChapterEndAt(nFrame).value_or(nLengthFrames)
                                                              : nLengthFrames;
    return LeftAtSpeed(nFrame, nEnd, nRate);
}

void CPlaybackController::SetShownTime(const std::string& strText)
{
    if (strText == m_strShownTime)
        return;
    m_strShownTime = strText;
    m_view.SetTimeText(strText);
}

void CPlaybackController::ShowTimeTip()
{
    const uint32_t nRate = GetSampleRate();
    std::string strTip;
    if (nRate > 0) {
        const uint64_t nFrame = GetHeardFrame();
        const uint64_t nLength = GetLengthFrames();
        const std::string strAtSpeed = " (" + SpeedText(m_nSpeedIdx) + kTimesSpeedWord + ")";
        strTip = kElapsedTip + FormatElapsed(nFrame / nRate)
            + "\n" + kLengthTip + FormatElapsed(nLength / nRate)
            + "\n" + kFileLeftTip + LeftAtSpeed(nFrame, nLength, nRate) + strAtSpeed;
        if (const std::optional<uint64_t> nChapterEnd = ChapterEndAt(nFrame))
            strTip += "\n" + std::string(kChapterLeftTip) + LeftAtSpeed(nFrame, *nChapterEnd, nRate) + strAtSpeed;
    }
    const uint64_t nSavedMs = GetSavedMs();
    if (m_bSkipSilence || nSavedMs > 0) {
        strTip += (strTip.empty() ? "" : "\n") + std::string(kSavedTimeTip)
            + FormatElapsed(nSavedMs / 1000);
    }
    if (m_bSkipSilence && nRate > 0)
        strTip += "\n" + std::string(kLeftBeforeSkippingTip);
    if (strTip == m_strShownTip)
        return;
    m_strShownTip = strTip;
    m_view.SetTimeTip(strTip);
}

void CPlaybackController::OnToggleTimeDisplay()
{
    // The chapter's time left is offered where there are chapters.
    const int nLast = GetChapters().empty() ? TIME_FILE_LEFT : TIME_CHAPTER_LEFT;
    m_nTimeDisplay = m_nTimeDisplay >= nLast ? TIME_ELAPSED : m_nTimeDisplay + 1;
    SaveSettings();
    if (IsPlaying())
        SetShownTime(TimeText(GetHeardFrame(), GetLengthFrames(), GetSampleRate()));
    else
        ShowStoppedPlace();
}

void CPlaybackController::ShowChapter(bool bAlways)
{
    const int nChapter = GetCurrentChapter();
    if (!bAlways && nChapter == m_nShownChapter)
        return;
    m_nShownChapter = nChapter;
    std::string strName = FileNameOfPath(CurrentFile());
    if (nChapter >= 0) {
        const std::string& strTitle = GetChapters()[static_cast<size_t>(nChapter)].strTitle;
        if (!strTitle.empty())
            strName += kChapterSeparator + strTitle;
    }
    m_view.SetFileName(strName);
}

void CPlaybackController::ShowChapterTicks()
{
    std::vector<int> anSeconds;
    const uint32_t nRate = GetSampleRate();
    for (const SChapter& chapter : GetChapters()) {
        if (nRate > 0 && chapter.nStartFrame > 0)
            anSeconds.push_back(static_cast<int>(std::min<uint64_t>(chapter.nStartFrame / nRate, INT32_MAX)));
    }
    m_view.SetProgressTicks(anSeconds);
}

void CPlaybackController::OnChapterStep(bool bForward)
{
    if (!IsPlaying())
        return;
    const std::vector<SChapter>& chapters = GetChapters();
    const uint64_t nFrom = GetHeardFrame();
    const std::optional<uint64_t> nTarget =
        bForward ? NextChapterStart(chapters, nFrom) : PreviousChapterStart(chapters, nFrom, GetSampleRate());
    if (nTarget)
        JumpTo(*nTarget);
}

void CPlaybackController::OnSeekToChapter(int nChapter)
{
    const std::vector<SChapter>& chapters = GetChapters();
    if (nChapter >= 0 && static_cast<size_t>(nChapter) < chapters.size())
        JumpTo(chapters[static_cast<size_t>(nChapter)].nStartFrame);
}
