// The desktop's media controls: media keys, the sound menu and the lock
// screen's player reach the program over the session bus, in the interfaces
// of MPRIS 2.2 (org.mpris.MediaPlayer2 and its Player) on the object
// /org/mpris/MediaPlayer2, under the name org.mpris.MediaPlayer2.<name>, or
// org.mpris.MediaPlayer2.<name>.instance<PID> when another player (of other
// settings) holds that, as MPRIS allows.
//
// This side speaks the protocol and keeps its rules: a stale track or a
// position outside the track is ignored, a rate of 0 pauses, a rate that is
// not a number or below 0 is refused, a negative volume counts as 0, a URI
// other than file:// is refused, a call of the wrong shape gets an error. The
// program answers through IMediaControlsTarget in its own terms.
//
// The bus is the session bus of SessionBusAddress (SessionBus.h). Without one,
// or when it cannot be reached, nothing is offered and nothing said.
// User-interface thread only: calls arrive in DispatchBusCalls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class EMediaStatus { Stopped, Playing, Paused };
enum class EMediaLoop { None, Track, Playlist };

// What the controls show of the program.
struct SMediaState {
    EMediaStatus eStatus = EMediaStatus::Stopped;
    EMediaLoop eLoop = EMediaLoop::None;
    double dRate = 1.0;
    double dVolume = 1.0;
    // The track that plays, -1 when none does; the fields up to strPath
    // describe it. Times in microseconds of the track's own time.
    int nTrack = -1;
    int64_t nPositionUs = 0;
    int64_t nLengthUs = 0;
    std::string strTitle;
    std::string strAlbum;
    std::string strArtist;
    std::string strPath;
    // A picture of the track (its cover) as a file; empty for none.
    std::string strArtPath;
    bool bCanGoNext = false;
    bool bCanGoPrevious = false;
    bool bCanPlay = false;
    bool bCanPause = false;
    bool bCanSeek = false;
};

// The program as the controls drive it. The calls carry values already
// checked against the protocol's rules (see above).
class IMediaControlsTarget {
public:
    virtual ~IMediaControlsTarget() = default;

    virtual SMediaState GetMediaState() = 0;

    virtual void Raise() = 0;
    virtual void Quit() = 0;
    virtual void PlayPause() = 0;
    virtual void Play() = 0;
    virtual void Pause() = 0;
    virtual void Stop() = 0;
    virtual void Next() = 0;
    virtual void Previous() = 0;
    // From the heard position of the track that plays; negative for back.
    virtual void SeekBy(int64_t nOffsetUs) = 0;
    // nTrack plays, and nPositionUs lies within it.
    virtual void SetPosition(int nTrack, int64_t nPositionUs) = 0;
    // A local file to play; false when the program plays no such file.
    virtual bool OpenFile(const std::string& strPath) = 0;
    // Within the minimum and maximum rate.
    virtual void SetRate(double dRate) = 0;
    // 0 or more; 1 is the program's normal level.
    virtual void SetVolume(double dVolume) = 0;
    virtual void SetLoop(EMediaLoop eLoop) = 0;
};

// What the controls say about the program.
struct SMediaIdentity {
    // Ends the bus name, is shown as the program's name and, in lower case,
    // names the track objects: /org/<name>/track/<N>.
    std::string strName;
    std::string strDesktopEntry;
    std::vector<std::string> astrMimeTypes;
    double dMinimumRate = 1.0;
    double dMaximumRate = 1.0;
};

class CMediaBus;

class CMediaControls {
public:
    // Connects and takes the bus name, with target's state as the first one
    // published.
    CMediaControls(IMediaControlsTarget& target, const SMediaIdentity& identity);
    CMediaControls(const CMediaControls&) = delete;
    CMediaControls& operator=(const CMediaControls&) = delete;
    // Gives the name back and sends what is still queued (the reply to Quit).
    ~CMediaControls();

    bool IsConnected() const { return m_pBus != nullptr; }
    // Announces every property that changed since the last call, Position
    // aside: listeners follow it from Rate and from Seeked.
    void PublishChanges();
    // The track that plays jumped to nPositionUs.
    void EmitSeeked(int64_t nPositionUs);

private:
    std::unique_ptr<CMediaBus> m_pBus;
};
