// Where the listener is in a file: the heard position and its display,
// jumps within the playing entry, the places remembered per file, and files
// opened from outside the window.
#include "PlaybackController.h"

#include "engine/SpeedEngine.h"
#include "output/WaveOutput.h"
#include "platform/events/TimeOfDay.h"
#include "platform/positions/PositionStore.h"

#include <algorithm>

uint64_t CPlaybackController::HeardFrame() const
{
    return m_engine.HeardFrame(m_output.GetReturnedBytes() / CSpeedEngine::kOutputFrameBytes);
}

uint64_t CPlaybackController::GetHeardFrame() const
{
    if (!IsPlaying())
        return 0;
    return m_pending.Is(EPending::Jump) ? m_pending.nWhere : HeardFrame();
}

uint64_t CPlaybackController::GetLengthFrames() const
{
    return IsPlaying() ? m_nRunLengthFrames : 0;
}

uint32_t CPlaybackController::GetSampleRate() const
{
    const WAVEFORMATEX* pFormat = m_engine.GetFormat();
    return IsPlaying() && pFormat ? pFormat->nSamplesPerSec : 0;
}

uint64_t CPlaybackController::GetSavedMs() const
{
    const uint32_t nRate = GetSampleRate();
    if (nRate == 0)
        return 0;
    const uint64_t nSkipped = m_nSkippedFramesBefore + m_engine.GetSkippedFrames();
    // Listening time: the recording's time at the speed it plays.
    return nSkipped * 10000 / (static_cast<uint64_t>(nRate) * static_cast<uint64_t>(m_nSpeedIdx + 10));
}

void CPlaybackController::ShowTime(uint64_t nFrame)
{
    const uint32_t nRate = GetSampleRate();
    SetShownTime(TimeText(nFrame, GetLengthFrames(), nRate));
    const int nSec = nRate > 0 ? static_cast<int>(nFrame / nRate) : 0;
    if (nSec == m_nLastShownSec)
        return;
    m_nLastShownSec = nSec;
    m_view.SetProgressPos(nSec);
}

void CPlaybackController::JumpTo(uint64_t nFrame)
{
    if (!IsPlaying())
        return;
    // The listener chose where the file goes on: Play after it goes on there.
    m_oPausedAtMs.reset();
    nFrame = std::min(nFrame, GetLengthFrames());
    ShowTime(nFrame);
    if (m_pending.Is(EPending::Jump)) {
        m_pending.nWhere = nFrame;
        return;
    }
    // As a double-click does: what is queued of the old place is dropped,
    // not played out. A speed restart under way gives way to the jump,
    // which starts at the new speed all the same.
    m_pending.eKind = EPending::Jump;
    m_pending.nWhere = nFrame;
    m_pending.bPaused = m_output.IsPaused();
    m_pending.nNextEntry = -1;
    m_engine.Close();
    CutOffOutput();
}

void CPlaybackController::OnSeekTo(uint64_t nFrame)
{
    JumpTo(nFrame);
}

void CPlaybackController::OnSeekBy(int64_t nSeconds)
{
    if (!IsPlaying())
        return;
    const int64_t nFrom = static_cast<int64_t>(GetHeardFrame());
    const int64_t nStep = nSeconds * static_cast<int64_t>(GetSampleRate());
    JumpTo(static_cast<uint64_t>(std::max<int64_t>(0, nFrom + nStep)));
}

void CPlaybackController::RememberPosition()
{
    if (IsPlaying())
        RememberPlace(CurrentFile(), GetHeardFrame(), GetLengthFrames(), GetSampleRate());
}

void CPlaybackController::RememberPlace(const std::string& strPath, uint64_t nFrame, uint64_t nLengthFrames,
                                        uint32_t nRate)
{
    CPositionStore* pStore = m_places.GetStore();
    if (!pStore || strPath.empty())
        return;
    const bool bSaved = m_places.Remember(strPath, nFrame, nLengthFrames, nRate, m_nSpeedIdx);
    ReportSave(bSaved, pStore->GetError(), kPositionsWord, m_bPositionsFailureShown);
}

void CPlaybackController::ForgetPosition(const std::string& strPath)
{
    CPositionStore* pStore = m_places.GetStore();
    if (pStore && !strPath.empty())
        ReportSave(m_places.Forget(strPath), pStore->GetError(), kPositionsWord, m_bPositionsFailureShown);
}

uint64_t CPlaybackController::LastHeardFrame(const std::string& strPath)
{
    const auto place = m_places.TrustedPlace(strPath);
    if (!place)
        return 0;
    // Nothing is left to play at or past the end: the place goes.
    if (place->nFrame >= m_engine.SoundFile().GetLengthFrames()) {
        ForgetPosition(strPath);
        return 0;
    }
    // A place stored without its time tells nothing of the time away.
    return RewoundFrame(place->nFrame, place->nStoredMs == 0 ? 0 : WallClockMs() - place->nStoredMs);
}

CPlaybackController::SShownEntry CPlaybackController::GetShownEntry() const
{
    if (IsPlaying())
        return {m_nCurrent, GetHeardFrame(), GetLengthFrames(), GetSampleRate()};
    SShownEntry shown;
    shown.nEntry = FirstSelectedRow();
    const CPositionStore* pStore = m_places.GetStore();
    if (shown.nEntry < 0 || !pStore)
        return shown;
    if (const auto position = pStore->Find(m_PlayList.GetPath(shown.nEntry))) {
        shown.nFrame = position->nFrame;
        shown.nLengthFrames = position->nLengthFrames;
        shown.nRate = position->nRate;
    }
    return shown;
}

void CPlaybackController::ShowStoppedPlace()
{
    if (m_ePhase != ERunPhase::Idle)
        return;
    const SShownEntry shown = GetShownEntry();
    const uint32_t nRate = std::max<uint32_t>(shown.nRate, 1);
    const uint64_t nSec = shown.nRate > 0 ? shown.nFrame / nRate : 0;
    m_view.SetProgressRange(static_cast<int>(std::min<uint64_t>(shown.nLengthFrames / nRate, INT32_MAX)));
    m_nLastShownSec = static_cast<int>(std::min<uint64_t>(nSec, INT32_MAX));
    SetShownTime(TimeText(shown.nFrame, shown.nLengthFrames, shown.nRate));
    m_view.SetProgressPos(m_nLastShownSec);
}

void CPlaybackController::RememberLastPlayed(const std::string& strPath)
{
    if (strPath == m_strLastPlayed)
        return;
    m_strLastPlayed = strPath;
    SaveSettings();
}

void CPlaybackController::SelectOnly(int nRow)
{
    for (int i = 0; i < m_PlayList.GetCount(); ++i)
        m_view.SelectRow(i, i == nRow);
    if (nRow >= 0)
        m_view.ShowRow(nRow);
}

void CPlaybackController::QueueOpen(const std::vector<std::string>& astrFiles)
{
    m_astrQueuedFiles.insert(m_astrQueuedFiles.end(), astrFiles.begin(), astrFiles.end());
}

void CPlaybackController::OnOpenQueued()
{
    std::vector<std::string> astrFiles;
    astrFiles.swap(m_astrQueuedFiles);
    int nFirst = -1;
    for (const std::string& strFile : astrFiles) {
        int nRow = m_PlayList.IndexOf(strFile);
        if (nRow < 0) {
            AddToPlayList(strFile);
            nRow = m_PlayList.GetCount() - 1;
        }
        if (nFirst < 0)
            nFirst = nRow;
    }
    if (nFirst < 0)
        return;
    SaveSettings();
    SelectOnly(nFirst);
    OnDblclkPlayList();
}
