// The desktop's media controls over the player: what they ask becomes a
// command posted to the controller, what the controller changes is published
// to them, and the bus's calls are run from a toolkit timer. While the sound
// plays, the desktop is kept from suspending for idleness.
//
// The controls speak in microseconds and rates; the player in frames, speed
// steps of 0.1 from 1.0 to 4.0, and Mixing levels in steps of 10 from 0 to
// 100, of which 50 is the normal level (a volume of 1.0).
#pragma once

#include "platform/media/IdleInhibitor.h"
#include "platform/media/MediaControls.h"
#include "player/PlaybackController.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class CSpeedEngine;

// The media types of the files the player plays, as the desktop entry's
// MimeType line names them (the build takes them from there).
std::vector<std::string> PlayableMimeTypes();

class CMediaControlsAdapter : public IMediaControlsTarget, public IPlayerObserver {
public:
    // Connects to the session bus when there is one and follows the
    // controller from now on. onRaise brings the window to the front, onQuit
    // ends the player as 終了 does.
    CMediaControlsAdapter(CPlaybackController& controller, const CSpeedEngine& engine, std::function<void()> onRaise,
        std::function<void()> onQuit);
    CMediaControlsAdapter(const CMediaControlsAdapter&) = delete;
    CMediaControlsAdapter& operator=(const CMediaControlsAdapter&) = delete;
    ~CMediaControlsAdapter() override;

    // ---- IMediaControlsTarget ----
    SMediaState GetMediaState() override;
    void Raise() override;
    void Quit() override;
    void PlayPause() override;
    void Play() override;
    void Pause() override;
    void Stop() override;
    void Next() override;
    void Previous() override;
    void SeekBy(int64_t nOffsetUs) override;
    void SetPosition(int nTrack, int64_t nPositionUs) override;
    bool OpenFile(const std::string& strPath) override;
    void SetRate(double dRate) override;
    void SetVolume(double dVolume) override;
    void SetLoop(EMediaLoop eLoop) override;

    // ---- IPlayerObserver ----
    void OnPlayerChanged() override;
    void OnSeeked(uint64_t nFrame) override;

private:
    struct STags {
        std::string strPath;
        std::string strTitle;
        std::string strAlbum;
        std::string strArtist;
        // Its cover, written to the cache.
        std::string strArtPath;
    };

    static void OnDispatchTimer(void* pThis);
    // The tags of the entry that plays, read once per file.
    const STags& TagsOf(const std::string& strPath);

    CPlaybackController& m_controller;
    const CSpeedEngine& m_engine;
    std::function<void()> m_onRaise;
    std::function<void()> m_onQuit;
    STags m_tags;
    CIdleInhibitor m_idleInhibitor;
    std::unique_ptr<CMediaControls> m_pControls;
};
