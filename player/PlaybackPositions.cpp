// Where the listener is in a file: the heard position, jumps within the
// playing entry, the positions remembered per file, and files opened from
// outside the window.
#include "PlaybackController.h"

#include "engine/SpeedEngine.h"
#include "output/WaveOutput.h"
#include "platform/positions/PositionStore.h"

#include <algorithm>
#include <sys/stat.h>

namespace {

// The file's size and modification time, by which a stored place knows its
// file; both 0 when it cannot be read.
void StampOfFile(const std::string& strPath, uint64_t& nSize, int64_t& nModifiedNs)
{
    struct stat st {};
    const bool bThere = ::stat(strPath.c_str(), &st) == 0;
    nSize = bThere ? static_cast<uint64_t>(st.st_size) : 0;
    nModifiedNs = bThere ? static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec : 0;
}

} // namespace

void CPlaybackController::StampRunFile(const std::string& strPath)
{
    StampOfFile(strPath, m_nRunFileSize, m_nRunFileModifiedNs);
}

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

void CPlaybackController::JumpTo(uint64_t nFrame)
{
    if (!IsPlaying())
        return;
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
    const std::string strPath = CurrentFile();
    if (!m_pPositions || !IsPlaying() || strPath.empty())
        return;
    const CPositionStore::SPosition position{
        GetHeardFrame(), GetLengthFrames(), GetSampleRate(), m_nRunFileSize, m_nRunFileModifiedNs};
    ReportSave(m_pPositions->Store(strPath, position), m_pPositions->GetError(), kPositionsWord, m_bPositionsFailureShown);
}

void CPlaybackController::ForgetPosition(const std::string& strPath)
{
    if (m_pPositions && !strPath.empty())
        ReportSave(m_pPositions->Forget(strPath), m_pPositions->GetError(), kPositionsWord, m_bPositionsFailureShown);
}

uint64_t CPlaybackController::LastHeardFrame(const std::string& strPath)
{
    const auto position = m_pPositions ? m_pPositions->Find(strPath) : std::nullopt;
    if (!position)
        return 0;
    // A file that changed since (converted, cut, replaced) starts anew. Its
    // length is no sign: a decoder's estimate differs from the decoded end.
    // A place stored without the file's stamp, by an earlier version, is trusted.
    uint64_t nSize = 0;
    int64_t nModifiedNs = 0;
    StampOfFile(strPath, nSize, nModifiedNs);
    const bool bStamped = position->nFileSize != 0 || position->nModifiedNs != 0;
    if (bStamped && (position->nFileSize != nSize || position->nModifiedNs != nModifiedNs))
        return 0;
    // Nothing is left to play at or past the end: the place goes.
    if (position->nFrame >= m_engine.SoundFile().GetLengthFrames()) {
        ForgetPosition(strPath);
        return 0;
    }
    return position->nFrame;
}

CPlaybackController::SShownEntry CPlaybackController::GetShownEntry() const
{
    if (IsPlaying())
        return {m_nCurrent, GetHeardFrame(), GetLengthFrames(), GetSampleRate()};
    SShownEntry shown;
    shown.nEntry = FirstSelectedRow();
    if (shown.nEntry < 0 || !m_pPositions)
        return shown;
    if (const auto position = m_pPositions->Find(m_PlayList.GetPath(shown.nEntry))) {
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
    m_view.SetTimeText(FormatElapsed(static_cast<uint32_t>(std::min<uint64_t>(nSec, UINT32_MAX))));
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
