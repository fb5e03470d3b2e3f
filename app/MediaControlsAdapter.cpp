#include "MediaControlsAdapter.h"

#include "common/Program.h"
#include "common/Version.h"
#include "engine/PlayableFiles.h"
#include "engine/SpeedEngine.h"
#include "engine/SpeedSteps.h"
#include "platform/media/CoverCache.h"
#include "platform/media/SessionBus.h"

#include <FL/Fl.H>

#include <algorithm>
#include <cmath>

namespace {

// What the desktop shows of the inhibition of idle suspend.
const char kInhibitReason[] = "Playing a recording";

// The bus's calls wait at most this long. GLib's main context is run from a
// timer rather than through its descriptors: their set and its timeouts
// change as GDBus works, which the toolkit's loop cannot follow, and a
// twentieth of a second is below what a key press lets one notice.
constexpr double kDispatchSeconds = 0.05;

constexpr double kMicroseconds = 1e6;
// The Mixing level that plays the sound as loud as recorded: a volume of 1.0.
constexpr double kMixingOfUnitVolume = kDefaultMixing;
constexpr int kMixingStep = 10;
constexpr double kSpeedStepsPerUnit = 10;

int64_t MicrosecondsOf(uint64_t nFrames, uint32_t nRate)
{
    return static_cast<int64_t>(std::llround(static_cast<double>(nFrames) * kMicroseconds / nRate));
}

double FramesOf(int64_t nMicroseconds, uint32_t nRate)
{
    return static_cast<double>(nMicroseconds) * nRate / kMicroseconds;
}

} // namespace

std::vector<std::string> PlayableMimeTypes()
{
    const std::string strList = VELOFON_MIME_TYPES;
    std::vector<std::string> astrTypes;
    for (size_t nStart = 0; nStart < strList.size();) {
        const size_t nEnd = std::min(strList.find(',', nStart), strList.size());
        if (nEnd > nStart)
            astrTypes.push_back(strList.substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
    }
    return astrTypes;
}

CMediaControlsAdapter::CMediaControlsAdapter(CPlaybackController& controller, const CSpeedEngine& engine,
    std::function<void()> onRaise, std::function<void()> onQuit)
    : m_controller(controller)
    , m_engine(engine)
    , m_onRaise(std::move(onRaise))
    , m_onQuit(std::move(onQuit))
    , m_idleInhibitor(kProgramName, kInhibitReason)
{
    SMediaIdentity identity;
    identity.strName = kProgramName;
    identity.strDesktopEntry = kDesktopId;
    identity.astrMimeTypes = PlayableMimeTypes();
    identity.dMinimumRate = SpeedOfIndex(0);
    identity.dMaximumRate = SpeedOfIndex(kSpeedIndexCount - 1);
    // Made here, not among the members: it asks for the state at once.
    m_pControls = std::make_unique<CMediaControls>(*this, identity);
    // Followed and dispatched without the controls too: the inhibition may
    // go through the system bus.
    m_controller.SetObserver(this);
    Fl::add_timeout(kDispatchSeconds, OnDispatchTimer, this);
}

CMediaControlsAdapter::~CMediaControlsAdapter()
{
    Fl::remove_timeout(OnDispatchTimer, this);
    m_controller.SetObserver(nullptr);
}

void CMediaControlsAdapter::OnDispatchTimer(void* pThis)
{
    DispatchBusCalls();
    Fl::repeat_timeout(kDispatchSeconds, OnDispatchTimer, pThis);
}

SMediaState CMediaControlsAdapter::GetMediaState()
{
    SMediaState state;
    if (m_controller.IsPlaying())
        state.eStatus = m_controller.IsPaused() ? EMediaStatus::Paused : EMediaStatus::Playing;
    const int nRepeat = m_controller.GetRepeat();
    state.eLoop = nRepeat == REPEAT_ONE ? EMediaLoop::Track
        : nRepeat == REPEAT_ALL         ? EMediaLoop::Playlist
                                        : EMediaLoop::None;
    state.dRate = SpeedOfIndex(m_controller.GetSpeedIndex());
    state.dVolume = m_controller.GetMixingVolume() / kMixingOfUnitVolume;

    // While stopped, the entry that Play would continue, at its saved place.
    const CPlayList& playList = m_controller.GetPlayList();
    const CPlaybackController::SShownEntry shown = m_controller.GetShownEntry();
    if (shown.nEntry >= 0) {
        state.nTrack = shown.nEntry;
        if (shown.nRate > 0) {
            state.nPositionUs = MicrosecondsOf(shown.nFrame, shown.nRate);
            state.nLengthUs = MicrosecondsOf(shown.nLengthFrames, shown.nRate);
        }
        state.strPath = playList.GetPath(shown.nEntry);
        const STags& tags = TagsOf(state.strPath);
        state.strTitle = tags.strTitle.empty() ? FileNameOfPath(state.strPath) : tags.strTitle;
        state.strAlbum = tags.strAlbum;
        state.strArtist = tags.strArtist;
        state.strArtPath = tags.strArtPath;
        // In a book with chapters the chapter is the title, the book the album.
        const int nChapter = shown.nEntry == m_controller.GetCurrentEntry() ? m_controller.GetCurrentChapter() : -1;
        if (nChapter >= 0) {
            const std::string& strChapter = m_controller.GetChapters()[static_cast<size_t>(nChapter)].strTitle;
            if (!strChapter.empty()) {
                state.strAlbum = !tags.strTitle.empty() ? tags.strTitle
                    : !tags.strAlbum.empty()            ? tags.strAlbum
                                                        : FileNameOfPath(state.strPath);
                state.strTitle = strChapter;
            }
        }
    }
    const bool bHasEntries = playList.GetCount() > 0;
    state.bCanGoNext = bHasEntries;
    state.bCanGoPrevious = bHasEntries;
    state.bCanPlay = bHasEntries;
    state.bCanPause = bHasEntries;
    state.bCanSeek = m_controller.IsPlaying();
    return state;
}

// The engine's file is the entry that plays: the tags are read from it while
// it is open (or parked by a jump or a speed step), and kept for the entry.
const CMediaControlsAdapter::STags& CMediaControlsAdapter::TagsOf(const std::string& strPath)
{
    if (strPath != m_tags.strPath) {
        // While stopped the engine holds no file: an entry that has not
        // played since shows its name.
        const CSoundFile& file = m_engine.SoundFile();
        m_tags = STags{ strPath, "", "", "", "" };
        std::string strCover;
        std::string strExtension;
        if (m_controller.IsPlaying()) {
            m_tags = STags{ strPath, file.GetTag("title"), file.GetTag("album"), file.GetTag("artist"), "" };
            if (file.GetCover(strCover, strExtension))
                m_tags.strArtPath = CacheCover(strCover, strExtension);
        }
    }
    return m_tags;
}

void CMediaControlsAdapter::Raise()
{
    m_onRaise();
}

void CMediaControlsAdapter::Quit()
{
    m_onQuit();
}

void CMediaControlsAdapter::PlayPause()
{
    m_controller.Post(EPlayerCommand::Play);
}

void CMediaControlsAdapter::Play()
{
    m_controller.Post(EPlayerCommand::Resume);
}

void CMediaControlsAdapter::Pause()
{
    m_controller.Post(EPlayerCommand::Pause);
}

void CMediaControlsAdapter::Stop()
{
    m_controller.Post(EPlayerCommand::Stop);
}

void CMediaControlsAdapter::Next()
{
    m_controller.Post(EPlayerCommand::NextEntry);
}

void CMediaControlsAdapter::Previous()
{
    m_controller.Post(EPlayerCommand::PreviousEntry);
}

// To the exact frame; past the end goes on to the next entry, before the
// start to the first frame.
void CMediaControlsAdapter::SeekBy(int64_t nOffsetUs)
{
    const uint32_t nRate = m_controller.GetSampleRate();
    if (m_controller.GetCurrentEntry() < 0 || nRate == 0)
        return;
    const double dTarget = static_cast<double>(m_controller.GetHeardFrame()) + FramesOf(nOffsetUs, nRate);
    if (dTarget >= static_cast<double>(m_controller.GetLengthFrames()))
        m_controller.Post(EPlayerCommand::NextEntry);
    else
        m_controller.Post(EPlayerCommand::SeekTo, std::max<int64_t>(0, std::llround(dTarget)));
}

// The controls have made sure that nTrack is the entry that plays.
void CMediaControlsAdapter::SetPosition(int /*nTrack*/, int64_t nPositionUs)
{
    const uint32_t nRate = m_controller.GetSampleRate();
    if (nRate != 0)
        m_controller.Post(EPlayerCommand::SeekTo, std::llround(FramesOf(nPositionUs, nRate)));
}

bool CMediaControlsAdapter::OpenFile(const std::string& strPath)
{
    if (!HasPlayableExtension(strPath))
        return false;
    m_controller.QueueOpen({ strPath });
    m_controller.Post(EPlayerCommand::OpenQueued);
    return true;
}

void CMediaControlsAdapter::SetRate(double dRate)
{
    m_controller.Post(EPlayerCommand::SetSpeedIndex, std::lround((dRate - SpeedOfIndex(0)) * kSpeedStepsPerUnit));
}

void CMediaControlsAdapter::SetVolume(double dVolume)
{
    const double dMixing = std::min(dVolume * kMixingOfUnitVolume, static_cast<double>(kMaxMixing));
    m_controller.Post(EPlayerCommand::SetMixing, std::lround(dMixing / kMixingStep) * kMixingStep);
}

void CMediaControlsAdapter::SetLoop(EMediaLoop eLoop)
{
    const int nRepeat = eLoop == EMediaLoop::Track ? REPEAT_ONE
        : eLoop == EMediaLoop::Playlist            ? REPEAT_ALL
                                                   : REPEAT_NONE;
    m_controller.Post(EPlayerCommand::SetRepeat, nRepeat);
}

void CMediaControlsAdapter::OnPlayerChanged()
{
    m_idleInhibitor.SetPlaying(m_controller.IsPlaying() && !m_controller.IsPaused());
    m_pControls->PublishChanges();
}

void CMediaControlsAdapter::OnSeeked(uint64_t nFrame)
{
    const uint32_t nRate = m_controller.GetSampleRate();
    m_pControls->EmitSeeked(nRate == 0 ? 0 : MicrosecondsOf(nFrame, nRate));
}
