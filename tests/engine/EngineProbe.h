// Reaches the engine's inner steps so that each can be tested on its own.
#pragma once

#include "engine/SpeedEngine.h"
#include "engine/SpeedSteps.h"

#include <memory>

struct CSpeedEngineProbe {
    static std::unique_ptr<CSpeedEngine> Make() { return std::make_unique<CSpeedEngine>(2.0); }
    static int32_t& ToneFrame(CSpeedEngine& e) { return e.m_nToneFrame; }
    static int32_t FormatKind(const CSpeedEngine& e) { return e.m_nFormatKind; }
    static int32_t SampleRate(const CSpeedEngine& e) { return e.m_nSampleRate; }
    static double Speed(const CSpeedEngine& e) { return e.m_dSpeed; }
    static double LowPeriod(const CSpeedEngine& e) { return e.m_dToneLowPeriod; }
    static double HighPeriod(const CSpeedEngine& e) { return e.m_dToneHighPeriod; }
    static const int32_t* TrackEnds(const CSpeedEngine& e) { return e.m_anTrackEnd; }
    static int32_t ReadSegment(CSpeedEngine& e, int16_t* pDest, int32_t n) { return e.ReadSegment(pDest, n); }
    static int32_t ProduceSegment(CSpeedEngine& e) { return e.ProduceSegment(); }
    static void ApplyFades(CSpeedEngine& e, int16_t* p, int32_t nLength, int32_t nFade) { e.ApplyFades(p, nLength, nFade); }
    static void AlphaTonePair(const CSpeedEngine& e, int32_t k, int16_t& r, int16_t& l) { e.AlphaTonePair(k, r, l); }
    static void MakeStereo(CSpeedEngine& e, const int16_t* pMono, void* pOut, int32_t nBytes) { e.MakeStereo(pMono, pOut, nBytes); }
    static void SetSampleRateForTones(CSpeedEngine& e, int32_t nRate)
    {
        e.m_nSampleRate = nRate;
        e.SetupAlphaTones();
    }
    static bool Geometry(int32_t nRate, double dSpeed, int32_t& nHop, int32_t& nSegLen)
    {
        CSpeedEngine::SGeometry g{};
        const bool bOk = CSpeedEngine::ComputeGeometry(nRate, dSpeed, g);
        nHop = g.nHop;
        nSegLen = g.nSegLen;
        return bOk;
    }
};
