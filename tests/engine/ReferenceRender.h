// A second, deliberately naive implementation of the whole sound path, written
// straight from the algorithm's description: per-sample loops, a modulo on
// every ring access, the tone computed from the frame number each time. The
// engine is optimised; this one is obviously right. They must agree byte for
// byte.
#pragma once

#include "../WavBytes.h"

struct SReferenceSettings {
    double dSpeed = 2.0;
    int nMixingGain = 10;
    int bAlpha = 0;
    int nAlphaLevel = 0;
};

class CReferenceRender {
public:
    // Renders one file's bytes as Open, Seek(0) and Fill(30000) until 0 would.
    // The tone frame number carries from one call to the next.
    Bytes Render(const Bytes& abFile, const SReferenceSettings& settings);

    int nToneFrame = 0;
};
