// Where the listener is in a file: the heard position, jumps within the
// playing entry, the positions remembered per file, and files opened from
// outside the window.
#include "PlaybackController.h"

#include "engine/SpeedEngine.h"
#include "output/WaveOutput.h"
#include "platform/settings/PositionStore.h"

#include <algorithm>

namespace {

// What the output hands back is 16-bit stereo.
constexpr uint64_t kOutputFrameBytes = 4;

} // namespace

uint64_t CPlaybackController::HeardFrame() const
{
    return m_engine.HeardFrame(m_output.GetReturnedBytes() / kOutputFrameBytes);
}

uint64_t CPlaybackController::GetHeardFrame() const
{
    if (m_nPlayState != PS_RUNNING)
        return 0;
    return m_bJumpPending ? m_nJumpFrame : HeardFrame();
}

uint64_t CPlaybackController::GetLengthFrames() const
{
    return m_nPlayState == PS_RUNNING ? m_nRunLengthFrames : 0;
}

uint32_t CPlaybackController::GetSampleRate() const
{
    const WAVEFORMATEX* pFormat = m_engine.GetFormat();
    return m_nPlayState == PS_RUNNING && pFormat ? pFormat->nSamplesPerSec : 0;
}

void CPlaybackController::JumpTo(uint64_t nFrame)
{
    if (m_nPlayState != PS_RUNNING)
        return;
    nFrame = std::min(nFrame, GetLengthFrames());
    m_nJumpFrame = nFrame;
    ShowTime(nFrame);
    if (m_bJumpPending)
        return;
    // As a double-click does: what is queued of the old place is dropped,
    // not played out. A speed restart under way gives way to the jump,
    // which starts at the new speed all the same.
    m_bJumpPending = true;
    m_bPausedAtJump = m_output.m_bPaused;
    m_bResumeRequest = false;
    m_nPending = -1;
    m_engine.Close();
    CutOffOutput();
}

void CPlaybackController::OnSeekTo(uint64_t nFrame)
{
    JumpTo(nFrame);
}

void CPlaybackController::OnSeekBy(int64_t nSeconds)
{
    if (m_nPlayState != PS_RUNNING)
        return;
    const int64_t nFrom = static_cast<int64_t>(GetHeardFrame());
    const int64_t nStep = nSeconds * static_cast<int64_t>(GetSampleRate());
    JumpTo(static_cast<uint64_t>(std::max<int64_t>(0, nFrom + nStep)));
}

void CPlaybackController::RememberPosition()
{
    const std::string strPath = CurrentFile();
    if (!m_pPositions || m_nPlayState != PS_RUNNING || strPath.empty())
        return;
    ReportSave(m_pPositions->Store(strPath, {GetHeardFrame(), GetLengthFrames()}), m_pPositions->GetFile(), "再生位置",
        m_bPositionsFailureShown);
}

void CPlaybackController::ForgetPosition()
{
    const std::string strPath = CurrentFile();
    if (m_pPositions && !strPath.empty())
        ReportSave(m_pPositions->Forget(strPath), m_pPositions->GetFile(), "再生位置", m_bPositionsFailureShown);
}

uint64_t CPlaybackController::LastHeardFrame(const std::string& strPath) const
{
    if (!m_pPositions)
        return 0;
    const auto position = m_pPositions->Find(strPath);
    // A file that changed since (converted, cut, replaced) starts anew.
    if (!position || position->nLengthFrames != m_engine.SoundFile().GetLengthFrames())
        return 0;
    return position->nFrame;
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
