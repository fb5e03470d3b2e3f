// CSpeedEngine: plays a WAV file faster than recorded at unchanged pitch.
//
// Pipe: the reader's frames are converted to 16-bit mono, cut into
// consecutive segments that are faded at both ends and laid on four circular
// tracks closer together than recorded (overlap-add), mixed a hop at a time
// with the Mixing gain, and turned into 16-bit stereo frames with the Alpha
// tones. Fill is the one "receive"; Open, Seek and SetSpeed steer it.
//
// Two choices change the road, each from the next Open: the clear mode puts
// CClearStretcher in place of the overlap-add (pitch-synchronous, pauses
// compressed first), and skipping silence puts CPauseShortener between the
// conversion and either stretch. With both off, every byte is as it always
// was. Each filled buffer records the frame of the file it starts at, so that
// what is heard maps back to the file in both modes (HeardFrame).
//
// Everything lives in this one object's fixed-size buffers: nothing is
// allocated per file or per buffer, and every per-sample step is integer
// arithmetic, so the output is the same byte for byte on every machine.
// One thread only; there are no locks.
#pragma once

#include "ClearStretcher.h"
#include "PauseShortener.h"
#include "SoundFile.h"

#include <cstdint>
#include <string>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "samples are stored and read little-endian");

class CSpeedEngine {
public:
    // What Fill writes: 16-bit stereo.
    static constexpr uint32_t kOutputFrameBytes = 4;
    static constexpr int kTrackCount = 4;
    // Track length in samples, the same for every sample rate.
    static constexpr int kTrackLength = 44100;
    // Mono samples staged per Fill: 30000 bytes, one output buffer's worth.
    static constexpr int kMonoCapacity = 15000;
    // The two-channel conversion staging bounds a segment.
    static constexpr int kMaxSegmentLength = 22050;
    static constexpr int kLowestSampleRate = CSoundFile::kLowestRate;
    // The Alpha tones lie half the beat above and below the centre.
    static constexpr double kToneBeat = 9.3;
    static constexpr double kToneCentre = 150.0;
    static constexpr double kToneLowFrequency = kToneCentre - kToneBeat * 0.5;
    // Tone periods up to this many samples (rates up to about 1.19 MHz).
    static constexpr int kMaxTonePeriod = 8192;

    explicit CSpeedEngine(double dSpeed);
    CSpeedEngine(const CSpeedEngine&) = delete;
    CSpeedEngine& operator=(const CSpeedEngine&) = delete;

    // Opens a sound file for playback at dSpeed and resets the processor.
    // Fails, leaving the engine as it was and no file open, while another file
    // is open and for files it cannot play (see GetOpenError). The Alpha tone
    // phase carries over from the previous file.
    bool Open(std::string strPath, double dSpeed);
    // Writes up to nCapacity bytes of 16-bit stereo frames, in whole hops, and
    // returns the bytes written (a multiple of 4). 0 means this file has no
    // more output: the input has ended and the tracks are drained, or one hop
    // does not fit into nCapacity.
    uint32_t Fill(void* pBuffer, uint32_t nCapacity);
    // Moves the reader; the segments already on the tracks stay.
    void Seek(uint64_t nPosition) { m_SoundFile.Seek(nPosition); }
    void SeekFrame(uint64_t nFrame) { m_SoundFile.SeekFrame(nFrame); }
    // The open file ends at its frame nFrame (exclusive) for what is read from
    // now on, as if it ended there; each Open resets it to kNoEndFrame. With a
    // seek to S before, the output is that of a file of frames S to nFrame.
    void SetEndFrame(uint64_t nFrame) { m_SoundFile.SetEndFrame(nFrame); }
    bool Close() { return m_SoundFile.Close(); }
    // The last opened file's format (null before the first file).
    const WAVEFORMATEX* GetFormat() const { return m_SoundFile.GetFormat(); }
    uint32_t GetLengthSec() const { return m_SoundFile.GetLengthSec(); }
    // The reader's position, which runs ahead of what is heard.
    uint32_t GetPositionSec() const { return m_SoundFile.GetPositionSec(); }
    uint64_t GetPosition() const { return m_SoundFile.GetPosition(); }
    // Takes effect at the next Open (the fade length follows at once).
    void SetSpeed(double dSpeed) { m_dSpeed = dSpeed; }
    // The clear mode and the pause shortening, from the next Open.
    void SetClearSpeech(bool bClear) { m_bClearSpeech = bClear; }
    void SetSkipSilence(bool bSkip) { m_bSkipSilence = bSkip; }
    bool IsClearSpeech() const { return m_bClearSpeech; }
    bool IsSkipSilence() const { return m_bSkipSilence; }
    // Whether the open file (the last one opened) plays in the clear mode.
    bool IsClearActive() const { return m_bClearActive; }

    // The frame of the file heard once nPlayedFrames of the output filled
    // since Open have been played: from the record of where each buffer
    // started, never past what the reader has read.
    uint64_t HeardFrame(uint64_t nPlayedFrames) const;
    // The frame of the file that the next output frame comes from: where a
    // restart continues so that nothing is lost or heard twice.
    uint64_t GetNextOutputFrame() const;
    // The sleep timer's end: the output written from now on ends after
    // nFramesLeft more frames, all of it (the tones too) fading out evenly
    // over the last nFadeFrames; Fill then returns 0 as at the file's end.
    // kNoFadeOut for none, which each Open sets.
    static constexpr uint64_t kNoFadeOut = UINT64_MAX;
    void SetFadeOut(uint64_t nFramesLeft, uint64_t nFadeFrames);
    // Output frames left before the fade-out's end; kNoFadeOut without one.
    uint64_t GetFadeOutLeft() const { return m_nFadeOutLeft; }
    bool HasFadedOut() const { return m_nFadeOutLeft == 0; }
    // The frame of the file (to a fill) where the fade began, what a listener
    // falling asleep may not have followed; before it begins, where the
    // sound stood as the fade-out was set.
    uint64_t GetFadeStartFrame() const { return m_nFadeStartFrame; }
    // Frames of the file that skipping silence has left out since Open.
    uint64_t GetSkippedFrames() const { return m_bSkipActive ? static_cast<uint64_t>(m_PauseShortener.GetRemoved()) : 0; }

    EOpenError GetOpenError() const { return m_eOpenError; }
    // Why the last Open failed, in the words a user reads, naming the file's
    // format where the engine refused what the file holds.
    std::string GetOpenErrorText() const;
    int GetOpenErrno() const { return m_SoundFile.GetLastErrno(); }
    const CSoundFile& SoundFile() const { return m_SoundFile; }
    int32_t GetHop() const { return m_nHop; }
    int32_t GetSegmentLength() const { return m_nSegLen; }

    // Levels the player writes between fills.
    int32_t m_nMixingGain = 15; // speech gain in tenths (Mixing percent / 5)
    int32_t m_bAlpha = 1;       // tones on
    int32_t m_nAlphaLevel = 5;  // tone level in percent of full, 0 to 50
    // Set when a segment read yields nothing; the player reads it.
    int16_t m_bEndOfInput = 0;

private:
    friend struct CSpeedEngineProbe;

    struct SGeometry {
        int32_t nHop;
        int32_t nSegLen;
    };
    // False when the speed is outside the rate table or a segment would not
    // fit the staging and track buffers.
    static bool ComputeGeometry(int32_t nSampleRate, double dSpeed, SGeometry& geometry);

    // Time-stretch processor.
    void Prepare(const SGeometry& geometry);
    uint32_t FillExact(void* pBuffer, uint32_t nCapacity);
    uint32_t FillClear(void* pBuffer, uint32_t nCapacity);
    void ApplyGain(int16_t* pSamples, int32_t nCount) const;
    // Fades the stereo frames of one fill, which begins at nStartFrame of
    // the file; returns the frames to keep.
    uint32_t ApplyFadeOut(int16_t* pFrames, uint32_t nFrames, uint64_t nStartFrame);
    // The converted input, through the pause shortener when it is on: whole
    // reads, fewer samples only at the end.
    int32_t ReadStream(int16_t* pDest, int32_t nFrames);
    uint64_t FrameOfStream(int64_t nStreamSample) const;
    int32_t ProduceSegment();
    void ApplyFades(int16_t* pSegment, int32_t nLength, int32_t nFadeLength);
    void MixHop(int16_t* pDest);
    void AgeTracks();

    // Sample conversion.
    int32_t ConvertSamples(int16_t* pDest, int32_t nFrames);
    int32_t ReadSegment(int16_t* pDest, int32_t nFrames);

    // Alpha tone and stereo output stage.
    void SetupAlphaTones();
    void AlphaTonePair(int32_t nFrame, int16_t& nRight, int16_t& nLeft) const;
    void MakeStereo(const int16_t* pMono, void* pOut, int32_t nMonoBytes);
    void BuildToneTables();

    CSoundFile m_SoundFile;
    EOpenError m_eOpenError = EOpenError::None;
    // The format of a file that opened but that the engine cannot play.
    std::string m_strRefusedFormat;
    int32_t m_nFormatKind = FMT_MONO16;

    double m_dSpeed;
    int32_t m_nSampleRate = 22050;
    int32_t m_nHop = 0;
    int32_t m_nSegLen = 0;
    int16_t m_asTrack[kTrackCount][kTrackLength] = {};
    int32_t m_anTrackEnd[kTrackCount] = {};
    int32_t m_nNextTrack = 0;
    int32_t m_nWriteOffset = 0;
    int32_t m_nWriteAhead = 0;
    int32_t m_nReadIndex = 0;
    int16_t m_asScratch[kTrackLength] = {};
    int16_t m_asMono[kMonoCapacity] = {};

    // Fade gains in percent for the current fade length, rebuilt when it changes.
    int16_t m_anFadeGain[kMaxSegmentLength] = {};
    int32_t m_nFadeGainLength = 0;

    // The clear mode and the pause shortener, as chosen and as the open file uses them.
    bool m_bClearSpeech = false;
    bool m_bSkipSilence = false;
    bool m_bClearActive = false;
    bool m_bSkipActive = false;
    CClearStretcher m_ClearStretcher;
    CPauseShortener m_PauseShortener;

    // Where the output filled since Open started: the frame of the file at
    // each buffer's first frame, the newest kMarkCount of them.
    struct SOutputMark {
        uint64_t nOutputFrame;
        uint64_t nInputFrame;
    };
    static constexpr int kMarkCount = 16;
    SOutputMark m_aMarks[kMarkCount] = {};
    int m_nMarks = 0;
    uint64_t m_nOutputFrames = 0;
    uint64_t m_nFadeOutLeft = kNoFadeOut;
    uint64_t m_nFadeOutFrames = 0;
    uint64_t m_nFadeStartFrame = 0;
    // The reader's frame when the stream began (the place of the Seek after Open).
    uint64_t m_nStreamOrigin = 0;
    bool m_bStreamStarted = false;

    uint8_t m_abStaging8[2 * kMaxSegmentLength] = {};
    int16_t m_asStreamStaging[kMaxSegmentLength] = {};
    int16_t m_asStaging16[2 * kMaxSegmentLength] = {};

    double m_dToneHighPeriod = 0;
    double m_dToneLowPeriod = 0;
    int32_t m_nToneFrame = 0;
    // One period of each tone at m_nToneTableLevel, so that a frame costs two
    // lookups and two additions.
    int16_t m_asRightTone[kMaxTonePeriod] = {};
    int16_t m_asLeftTone[kMaxTonePeriod] = {};
    int32_t m_nToneTableLevel = -1;
};
