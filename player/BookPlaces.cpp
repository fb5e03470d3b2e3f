// Each book keeps its own speed, and playing that resumes after a while away
// goes back a little: the rule of how far, and the controller's side of both.
#include "BookPlaces.h"

#include "PlaybackController.h"

#include "engine/Chapters.h"
#include "platform/events/TimeOfDay.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace {

// How far back, by how long the listener was away: a short break keeps the
// thread; after minutes the sentence, after an hour the paragraph is gone.
struct SRewindStep {
    int64_t nAwayUpToMs; // up to this long away, inclusive
    uint64_t nBackMs;
};
constexpr SRewindStep kRewindSteps[] = {
    {9'999, 0},
    {5 * 60 * 1000, 3'000},
    {60 * 60 * 1000, 10'000},
    {std::numeric_limits<int64_t>::max(), 20'000},
};

} // namespace

uint64_t RewindOnResume(uint64_t nFrame, uint64_t nFloorFrame, int64_t nAwayMs, uint32_t nRate)
{
    if (nAwayMs < 0 || nFrame <= nFloorFrame)
        return nFrame;
    const auto step = std::find_if(std::begin(kRewindSteps), std::end(kRewindSteps),
        [nAwayMs](const SRewindStep& s) { return nAwayMs <= s.nAwayUpToMs; });
    const uint64_t nBack = step->nBackMs * nRate / 1000;
    return nFrame - std::min(nBack, nFrame - nFloorFrame);
}

uint64_t CPlaybackController::RewoundFrame(uint64_t nFrame, int64_t nAwayMs) const
{
    if (!m_bRewindOnResume)
        return nFrame;
    // Never back over the start of the chapter (or of the file).
    const std::vector<SChapter>& chapters = GetChapters();
    const int nChapter = ChapterAt(chapters, nFrame);
    const uint64_t nFloor = nChapter >= 0 ? chapters[static_cast<size_t>(nChapter)].nStartFrame : 0;
    return RewindOnResume(nFrame, nFloor, nAwayMs, GetSampleRate());
}

bool CPlaybackController::OnPauseToggling(bool bResume)
{
    if (!bResume) {
        m_oPausedAtMs = WallClockMs();
        return false;
    }
    const std::optional<int64_t> oPausedAtMs = std::exchange(m_oPausedAtMs, std::nullopt);
    if (!oPausedAtMs)
        return false;
    const uint64_t nFrame = GetHeardFrame();
    const uint64_t nResumeAt = RewoundFrame(nFrame, WallClockMs() - *oPausedAtMs);
    if (nResumeAt == nFrame)
        return false;
    // A jump from the pause, which plays at once.
    JumpTo(nResumeAt);
    m_pending.bPaused = false;
    m_view.ShowPlayButton(false);
    UpdateCaption();
    return true;
}

void CPlaybackController::TakeBookSpeed(const std::string& strPath)
{
    const CPositionStore* pStore = m_places.GetStore();
    const auto place = m_bSpeedPerBook && pStore ? pStore->Find(strPath) : std::nullopt;
    const bool bOwn = place && place->nSpeedIdx != CPositionStore::kNoSpeed;
    const int nSpeedIdx = bOwn ? ClampSpeedIndex(place->nSpeedIdx) : m_nPlayerSpeedIdx;
    if (nSpeedIdx == m_nSpeedIdx)
        return;
    m_nSpeedIdx = nSpeedIdx;
    m_view.SetSpeedText(SpeedText(m_nSpeedIdx));
}

void CPlaybackController::BackToPlayerSpeed()
{
    if (m_nSpeedIdx == m_nPlayerSpeedIdx)
        return;
    m_nSpeedIdx = m_nPlayerSpeedIdx;
    m_view.SetSpeedText(SpeedText(m_nSpeedIdx));
}

void CPlaybackController::SetBookSwitches(bool bSpeedPerBook, bool bRewindOnResume)
{
    m_bSpeedPerBook = bSpeedPerBook;
    m_bRewindOnResume = bRewindOnResume;
    // Without books' own speeds the one that plays goes over to the player's.
    if (!m_bSpeedPerBook && m_nSpeedIdx != m_nPlayerSpeedIdx)
        ChangeSpeed(m_nPlayerSpeedIdx - m_nSpeedIdx);
}
