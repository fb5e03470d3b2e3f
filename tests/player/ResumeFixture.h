// The player with the places it remembers per file, in a database of the
// test's own, and what the tests of resuming check with it.
#pragma once

#include "PlayerFixture.h"

#include "platform/positions/PositionStore.h"

// The test files: 16-bit mono WAVs with their data at byte 44, at 8000 Hz.
constexpr uint64_t kDataOffset = 44;
constexpr uint64_t kRate = 8000;
// One output buffer holds this many stereo frames.
constexpr uint64_t kBufferFrames = WAVE_BUFFER_BYTES / 4;

class ResumeSeekTest : public PlayerFixture {
protected:
    CPlaybackController& StartWithPositions(const std::vector<std::string>& astrPlaylist)
    {
        m_positions.SetPath(m_pDir->Path() + "/positions");
        return Start(astrPlaylist);
    }
    // Every controller knows the places from its start, as the program's does.
    std::unique_ptr<CPlaybackController> MakeController(CProfileStore& profile, IPlayerView& view) override
    {
        auto pController = PlayerFixture::MakeController(profile, view);
        pController->SetPositionStore(&m_positions);
        return pController;
    }

    uint64_t StoredFrame(const std::string& strPath) const
    {
        const auto position = m_positions.Find(strPath);
        return position ? position->nFrame : 0;
    }

    // The jump has restarted the file: what plays next equals a fresh
    // render from nFrame at dSpeed.
    void ExpectPlaysFrom(const std::string& strPath, uint64_t nFrame, double dSpeed = 2.0)
    {
        const size_t nFrom = m_sound.GetPlayed().size();
        PlayOne();
        PlayOne();
        Bytes abExpected = Render(strPath, kDataOffset + 2 * nFrame, dSpeed);
        const Bytes abPlayed = PlayedSince(nFrom);
        ASSERT_GE(abExpected.size(), abPlayed.size());
        abExpected.resize(abPlayed.size());
        EXPECT_TRUE(abPlayed == abExpected) << "the sound does not start at frame " << nFrame;
    }

    CPositionStore m_positions;
};
