// The FFmpeg side of the decoder: the file read through an AVIOContext of our
// own, the first audio stream's built-in decoder with no options, and one
// resampler into the output format fixed by the first decoded frame.
#include "DecodeSession.h"

#include "FileInput.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <numeric>
#include <unistd.h>

namespace {

// The engine's buffers are sized for rates up to this; higher ones are halved
// or more, as "-ar 48000" does.
constexpr int kMaxOutRate = 48000;
// The resampler's filter grows with the ratio of the rates: a header claiming
// a gigahertz would take half a minute and gigabytes to set up. No recording
// comes near this rate, at which setting up takes some 40 ms.
constexpr int kMaxSourceRate = 1'536'000;

std::string ErrorText(int nErr)
{
    char ach[AV_ERROR_MAX_STRING_SIZE] = {};
    av_make_error_string(ach, sizeof ach, nErr);
    return ach;
}

// The codec's long name up to its parenthesis: "MP3", "AAC", "Opus", "FLAC".
std::string FormatName(AVCodecID id)
{
    const AVCodecDescriptor* pDescriptor = avcodec_descriptor_get(id);
    if (!pDescriptor)
        return "unknown audio";
    const std::string strName = pDescriptor->long_name ? pDescriptor->long_name : pDescriptor->name;
    return strName.substr(0, strName.find(" ("));
}

// How much is decoded ahead of a seek target so that the decoder's state has
// settled before the kept samples: MP3's bit reservoir and overlap reach a
// few frames back, AAC's overlap one frame, Vorbis's one block, and Opus's
// predictors need seconds. Each frame of PCM and FLAC stands alone. The
// 50 ms on top cover the resampler's filter when the rate is converted.
int PrerollMilliseconds(AVCodecID id)
{
    if (id >= AV_CODEC_ID_FIRST_AUDIO && id < AV_CODEC_ID_ADPCM_IMA_QT)
        return 50;
    switch (id) {
    case AV_CODEC_ID_FLAC:
        return 50;
    case AV_CODEC_ID_MP1:
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_MP3:
        return 500;
    case AV_CODEC_ID_AAC:
    case AV_CODEC_ID_VORBIS:
        return 300;
    case AV_CODEC_ID_OPUS:
        return 2050;
    default:
        return 1050;
    }
}

int64_t FloorDiv(int64_t n, int64_t d)
{
    return n >= 0 ? n / d : -((-n + d - 1) / d);
}

int64_t FrameDuration(const AVFrame* pFrame)
{
#if LIBAVUTIL_VERSION_MAJOR >= 58
    return pFrame->duration;
#else
    return pFrame->pkt_duration;
#endif
}

} // namespace

CDecodeSession::~CDecodeSession()
{
    m_seekIndex.Stop(); // it reads the descriptor closed below
    FreeDemuxer();
    av_channel_layout_uninit(&m_inLayout);
    av_channel_layout_uninit(&m_outLayout);
    if (m_file.hFile >= 0)
        ::close(m_file.hFile);
}

bool CDecodeSession::Open(int hFile, const struct stat& st, const std::string& strPath, std::string& strError)
{
    // FFmpeg's own remarks ("misdetection possible", "invalid backstep") would
    // reach the user's terminal beside the one line the program says about a
    // file; the program is FFmpeg's only user, so its log is turned off.
    static const bool bQuiet = (av_log_set_level(AV_LOG_QUIET), true);
    (void)bQuiet;
    m_file.hFile = hFile;
    m_stat = st;
    m_strPath = strPath;
    if (!OpenDemuxer(strError))
        return false;
    // The first frame fixes the output format, so the file must yield one now.
    if (!Refill()) {
        strError = m_strError.empty() ? "the audio stream holds no sound" : m_strError;
        return false;
    }
    EstimateLength();
    m_vAllChapters = ReadChapters(m_pFormat, m_nOutRate);
    CutChapters(m_vAllChapters, m_nLength, m_vChapters);
    return true;
}

bool CDecodeSession::IsSameFile(const std::string& strPath, const struct stat& st) const
{
    return strPath == m_strPath && st.st_dev == m_stat.st_dev && st.st_ino == m_stat.st_ino
        && st.st_size == m_stat.st_size && st.st_mtim.tv_sec == m_stat.st_mtim.tv_sec
        && st.st_mtim.tv_nsec == m_stat.st_mtim.tv_nsec;
}

bool CDecodeSession::OpenDemuxer(std::string& strError)
{
    m_file.nPos = 0;
    m_pIo = AllocFileInput(&m_file);
    if (!m_pIo) {
        strError = ErrorText(AVERROR(ENOMEM));
        return false;
    }
    m_pFormat = AllocFileDemuxer(m_pIo);
    if (!m_pFormat) {
        strError = ErrorText(AVERROR(ENOMEM));
        return false;
    }
    // The path only lends its extension to the probe; nothing opens it by name.
    int nRet = avformat_open_input(&m_pFormat, m_strPath.c_str(), nullptr, nullptr);
    if (nRet < 0) {
        // Whatever the probe stumbled on, the user learns the one thing that
        // matters, unless the system itself failed.
        strError = "not an audio file FFmpeg can read";
        if (nRet == AVERROR(EIO) || nRet == AVERROR(ENOMEM))
            strError += " (" + ErrorText(nRet) + ")";
        return false;
    }
    nRet = avformat_find_stream_info(m_pFormat, nullptr);
    if (nRet < 0) {
        strError = "not an audio file FFmpeg can read (" + ErrorText(nRet) + ")";
        return false;
    }

    // The first audio stream, as "-map 0:a:0" takes it; no other is read.
    m_nStream = -1;
    for (unsigned i = 0; i < m_pFormat->nb_streams; ++i) {
        AVStream* pStream = m_pFormat->streams[i];
        if (m_nStream < 0 && pStream->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            m_nStream = static_cast<int>(i);
        else
            pStream->discard = AVDISCARD_ALL;
    }
    if (m_nStream < 0) {
        strError = "no audio stream";
        return false;
    }
    const AVStream* pStream = m_pFormat->streams[m_nStream];
    m_timeBase = pStream->time_base;
    m_strFormatName = FormatName(pStream->codecpar->codec_id);
    m_nPrerollMs = PrerollMilliseconds(pStream->codecpar->codec_id);

    // The built-in decoder with no options: libavcodec then trims the start
    // and end padding that the demuxer marks, as in the ffmpeg program.
    const AVCodec* pDecoder = avcodec_find_decoder(pStream->codecpar->codec_id);
    if (!pDecoder) {
        strError = "no decoder for " + m_strFormatName;
        return false;
    }
    m_pCodec = avcodec_alloc_context3(pDecoder);
    if (!m_pCodec) {
        strError = ErrorText(AVERROR(ENOMEM));
        return false;
    }
    nRet = avcodec_parameters_to_context(m_pCodec, pStream->codecpar);
    if (nRet < 0) {
        strError = m_strFormatName + ": " + ErrorText(nRet);
        return false;
    }
    // As the ffmpeg program sets it: trimmed samples then move the timestamps on.
    m_pCodec->pkt_timebase = m_timeBase;
    nRet = avcodec_open2(m_pCodec, pDecoder, nullptr);
    if (nRet < 0) {
        strError = m_strFormatName + ": " + ErrorText(nRet);
        return false;
    }
    m_pPacket = av_packet_alloc();
    m_pFrame = av_frame_alloc();
    if (!m_pPacket || !m_pFrame) {
        strError = ErrorText(AVERROR(ENOMEM));
        return false;
    }

    m_bIndexHanded = false;
    // Decoding starts at the first sample, so the count is placed at 0.
    m_bPlaced = true;
    m_nNextInput = 0;
    m_nFeedFrom = 0;
    m_bInputEnded = false;
    m_bEnded = false;
    m_nBufferStart = 0;
    m_nBufferFrames = 0;
    m_nBufferOffset = 0;
    return true;
}

void CDecodeSession::FreeDemuxer()
{
    av_frame_free(&m_pFrame);
    av_packet_free(&m_pPacket);
    swr_free(&m_pResampler);
    avcodec_free_context(&m_pCodec);
    avformat_close_input(&m_pFormat); // leaves our own AVIOContext alone
    FreeFileInput(&m_pIo);
}

uint32_t CDecodeSession::Read(int16_t* pOut, uint32_t nFrames)
{
    const auto nChannels = static_cast<size_t>(m_outLayout.nb_channels);
    uint32_t nDone = 0;
    while (nDone < nFrames) {
        if (m_nBufferOffset == m_nBufferFrames && !Refill())
            break;
        const uint32_t nTake = std::min(nFrames - nDone, m_nBufferFrames - m_nBufferOffset);
        std::memcpy(pOut + nDone * nChannels, m_vBuffer.data() + m_nBufferOffset * nChannels,
            nTake * nChannels * sizeof(int16_t));
        m_nBufferOffset += nTake;
        nDone += nTake;
    }
    return nDone;
}

void CDecodeSession::DropTo(uint64_t nFrame)
{
    while (GetPosition() < nFrame) {
        if (m_nBufferOffset == m_nBufferFrames && !Refill())
            return;
        m_nBufferOffset += static_cast<uint32_t>(
            std::min<uint64_t>(nFrame - GetPosition(), m_nBufferFrames - m_nBufferOffset));
    }
}

void CDecodeSession::Seek(uint64_t nFrame)
{
    // Far past any end, yet clear of overflow in the arithmetic below.
    constexpr uint64_t kFarthest = uint64_t { 1 } << 40;
    nFrame = std::min(nFrame, m_bLengthExact ? m_nLength : kFarthest);
    const uint64_t nPosition = GetPosition();
    if (nFrame == nPosition)
        return;
    // A little way ahead, decoding on is exact and cheaper than a seek.
    const int64_t nPrerollOut = av_rescale(m_nPreroll, m_nRateOut, m_nRateIn);
    if (nFrame > nPosition && nFrame - nPosition <= static_cast<uint64_t>(nPrerollOut + m_nOutRate)) {
        DropTo(nFrame);
        return;
    }
    // The input frame where the resampler's period holding nFrame begins
    // (nFrame itself when the rate is kept); decoding starts m_nPreroll
    // before it, further back each time a seek lands too late to settle.
    const int64_t nTargetIn = static_cast<int64_t>(nFrame) / m_nRateOut * m_nRateIn;
    for (int64_t nBack = m_nPreroll;; nBack *= 2) {
        const int64_t nStart = nTargetIn - nBack;
        if (nStart <= 0 || !m_bOriginKnown || !SeekDemuxer(nStart)) {
            if (Restart())
                DropTo(nFrame);
            return;
        }
        if (PlaceAfterSeek(nTargetIn - m_nPreroll))
            break;
    }
    DropTo(nFrame);
}

// Starts again from the file's first byte: the one way back to the start
// that replays exactly what the first decode did, start padding and all.
bool CDecodeSession::Restart()
{
    FreeDemuxer();
    m_strError.clear();
    std::string strError;
    if (OpenDemuxer(strError))
        return true;
    m_strError = strError;
    m_bEnded = true;
    return false;
}

bool CDecodeSession::SeekDemuxer(int64_t nInput)
{
    if (!m_pFormat)
        return false; // a restart failed; the caller tries another
    // Long files are only ever sought in part; a scan of the whole one pays
    // from the second seek on, and a file only read through never starts it.
    if (CSeekIndex::IsNeeded(m_pFormat))
        m_seekIndex.Start(m_file.hFile, m_strPath, m_pFormat->iformat, m_nStream);
    m_seekIndex.AddTo(m_pFormat->streams[m_nStream], !m_bIndexHanded);
    m_bIndexHanded = true;
    const int64_t nPts = m_nOriginPts + av_rescale_q(nInput, AVRational { 1, m_nSourceRate }, m_timeBase);
    if (av_seek_frame(m_pFormat, m_nStream, nPts, AVSEEK_FLAG_BACKWARD) < 0)
        return false;
    avcodec_flush_buffers(m_pCodec);
    swr_free(&m_pResampler);
    m_strError.clear();
    m_bPlaced = false;
    m_bInputEnded = false;
    m_bEnded = false;
    m_nBufferFrames = 0;
    m_nBufferOffset = 0;
    return true;
}

// Decodes after a demuxer seek up to the first frame whose timestamp can be
// trusted, and counts from there. False when that frame starts after
// nLatestInput (too late for the decoder to settle) or the stream ended first.
bool CDecodeSession::PlaceAfterSeek(int64_t nLatestInput)
{
    while (ReceiveFrame() == 1) {
        if (!IsTrusted(m_pFrame)) {
            av_frame_unref(m_pFrame);
            continue;
        }
        const int64_t nInput = InputIndexOf(m_pFrame->pts);
        if (nInput > nLatestInput) {
            av_frame_unref(m_pFrame);
            return false;
        }
        // The resampler starts on a period boundary, where input and output
        // frames line up exactly; nothing before the stream's first frame.
        m_nFeedFrom = std::max<int64_t>(0, -FloorDiv(-nInput, m_nRateIn) * m_nRateIn);
        m_nNextInput = nInput;
        m_nBufferStart = static_cast<uint64_t>(m_nFeedFrom / m_nRateIn * m_nRateOut);
        m_bPlaced = true;
        const int nSamples = m_pFrame->nb_samples;
        const auto nSkip = static_cast<int>(std::clamp<int64_t>(m_nFeedFrom - m_nNextInput, 0, nSamples));
        m_nNextInput += nSamples;
        const bool bConverted = Convert(m_pFrame, nSkip);
        av_frame_unref(m_pFrame);
        m_bEnded = !bConverted;
        return true;
    }
    return false;
}

// A frame's timestamp places it only when its packet's duration agrees with
// the samples it decoded to: the Ogg demuxer guesses Vorbis timestamps inside
// a page from a block size it does not know, and its duration then disagrees.
bool CDecodeSession::IsTrusted(const AVFrame* pFrame) const
{
    if (pFrame->pts == AV_NOPTS_VALUE || pFrame->sample_rate != m_nSourceRate)
        return false;
    const int64_t nDuration = FrameDuration(pFrame);
    return nDuration <= 0
        || av_rescale_q(nDuration, m_timeBase, AVRational { 1, pFrame->sample_rate }) == pFrame->nb_samples;
}

int64_t CDecodeSession::InputIndexOf(int64_t nPts) const
{
    return av_rescale_q(nPts - m_nOriginPts, m_timeBase, AVRational { 1, m_nSourceRate });
}

// Decodes until converted frames wait in the buffer; false at the end.
bool CDecodeSession::Refill()
{
    m_nBufferStart += m_nBufferFrames;
    m_nBufferFrames = 0;
    m_nBufferOffset = 0;
    while (m_nBufferFrames == 0 && !m_bEnded) {
        if (ReceiveFrame() == 0) {
            if (m_pResampler)
                Resample(nullptr, 0);
            m_bEnded = true;
            break;
        }
        const int64_t nInput = m_nNextInput;
        const int nSamples = m_pFrame->nb_samples;
        const auto nSkip = static_cast<int>(std::clamp<int64_t>(m_nFeedFrom - nInput, 0, nSamples));
        m_nNextInput += nSamples;
        const bool bConverted = Convert(m_pFrame, nSkip); // the first one sets the source rate
        // Decoding from the start counts exactly; the first trusted timestamp
        // ties the stream's timestamps to that count, for seeking.
        if (bConverted && !m_bOriginKnown && IsTrusted(m_pFrame)) {
            m_nOriginPts = m_pFrame->pts - av_rescale_q(nInput, AVRational { 1, m_nSourceRate }, m_timeBase);
            m_bOriginKnown = true;
        }
        av_frame_unref(m_pFrame);
        m_bEnded = !bConverted;
    }
    // Once the end has been reached, its position holds: after a seek, FFmpeg's
    // Ogg demuxer can miss the padding it trims from the last packet.
    if (m_bLengthExact && m_nBufferStart + m_nBufferFrames > m_nLength) {
        m_nBufferFrames = static_cast<uint32_t>(m_nLength - std::min(m_nBufferStart, m_nLength));
        m_bEnded = true;
    }
    if (m_bEnded && !m_bLengthExact) {
        m_nLength = m_nBufferStart + m_nBufferFrames;
        m_bLengthExact = true;
        CutChapters(m_vAllChapters, m_nLength, m_vChapters);
    }
    return m_nBufferFrames > 0;
}

// The next decoded frame into m_pFrame (1), or 0 when no more come: at the
// end, or after an error, noted once what was decoded before it has come out.
int CDecodeSession::ReceiveFrame()
{
    for (;;) {
        int nRet = avcodec_receive_frame(m_pCodec, m_pFrame);
        if (nRet >= 0)
            return 1;
        if (nRet == AVERROR_EOF)
            return 0;
        if (nRet != AVERROR(EAGAIN)) {
            Fail(m_strFormatName + " decoding", nRet);
            return 0;
        }
        if (m_bInputEnded)
            return 0; // a decoder draining never asks for more; this guards against a loop
        nRet = av_read_frame(m_pFormat, m_pPacket);
        if (nRet >= 0) {
            const bool bOurs = m_pPacket->stream_index == m_nStream;
            if (bOurs)
                nRet = avcodec_send_packet(m_pCodec, m_pPacket);
            av_packet_unref(m_pPacket);
            if (!bOurs || nRet >= 0)
                continue;
            Fail(m_strFormatName + " decoding", nRet);
        } else if (nRet != AVERROR_EOF) {
            Fail("reading the file", nRet);
        }
        // The end of the input, or an error in it: the decoder gives up what it holds.
        m_bInputEnded = true;
        nRet = avcodec_send_packet(m_pCodec, nullptr);
        if (nRet < 0) {
            Fail(m_strFormatName + " decoding", nRet);
            return 0;
        }
    }
}

// Converts pFrame from its sample nSkip on and appends it to the buffer.
bool CDecodeSession::Convert(const AVFrame* pFrame, int nSkip)
{
    if (!MakeResampler(pFrame))
        return false;
    const int nIn = pFrame->nb_samples - nSkip;
    if (nIn <= 0)
        return true;
    const auto format = static_cast<AVSampleFormat>(pFrame->format);
    const int nChannels = pFrame->ch_layout.nb_channels;
    const bool bPlanar = av_sample_fmt_is_planar(format);
    const int nStep = av_get_bytes_per_sample(format) * (bPlanar ? 1 : nChannels);
    m_vInPlanes.resize(bPlanar ? static_cast<size_t>(nChannels) : 1);
    for (size_t i = 0; i < m_vInPlanes.size(); ++i)
        m_vInPlanes[i] = pFrame->extended_data[i] + static_cast<ptrdiff_t>(nSkip) * nStep;
    return Resample(m_vInPlanes.data(), nIn);
}

// Runs the resampler on nIn frames (none to drain it) into the buffer's end.
bool CDecodeSession::Resample(const uint8_t** ppIn, int nIn)
{
    const int nRoom = swr_get_out_samples(m_pResampler, nIn);
    if (nRoom < 0) {
        Fail("converting samples", nRoom);
        return false;
    }
    const auto nChannels = static_cast<size_t>(m_outLayout.nb_channels);
    m_vBuffer.resize((m_nBufferFrames + static_cast<size_t>(nRoom)) * nChannels);
    auto* pOut = reinterpret_cast<uint8_t*>(m_vBuffer.data() + m_nBufferFrames * nChannels);
    const int nGot = swr_convert(m_pResampler, &pOut, nRoom, ppIn, nIn);
    if (nGot < 0) {
        Fail("converting samples", nGot);
        return false;
    }
    m_nBufferFrames += static_cast<uint32_t>(nGot);
    return true;
}

// Makes the resampler for pFrame's format unless the current one fits. The
// first frame also fixes the output: 16-bit, its own one or two channels
// (more are mixed to stereo) and its rate up to 48 kHz, with FFmpeg's
// defaults for all else, as the ffmpeg program's filters convert.
bool CDecodeSession::MakeResampler(const AVFrame* pFrame)
{
    if (pFrame->sample_rate <= 0 || pFrame->ch_layout.nb_channels <= 0) {
        Fail(m_strFormatName + " decoding", AVERROR_INVALIDDATA);
        return false;
    }
    if (pFrame->sample_rate > kMaxSourceRate) {
        Fail(m_strFormatName + " at " + std::to_string(pFrame->sample_rate) + " Hz", AVERROR_INVALIDDATA);
        return false;
    }
    AVChannelLayout layout {};
    int nRet = 0;
    if (pFrame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&layout, pFrame->ch_layout.nb_channels);
    else
        nRet = av_channel_layout_copy(&layout, &pFrame->ch_layout);
    if (nRet < 0) {
        Fail("converting samples", nRet);
        return false;
    }
    if (m_pResampler && pFrame->format == m_nInFormat && pFrame->sample_rate == m_nInRate
        && av_channel_layout_compare(&layout, &m_inLayout) == 0) {
        av_channel_layout_uninit(&layout);
        return true;
    }
    if (m_nOutRate == 0) {
        if (layout.nb_channels > 2)
            av_channel_layout_default(&m_outLayout, 2);
        else
            nRet = av_channel_layout_copy(&m_outLayout, &layout);
        m_nSourceRate = pFrame->sample_rate;
        m_nOutRate = std::min(m_nSourceRate, kMaxOutRate);
        const int nCommon = std::gcd(m_nSourceRate, m_nOutRate);
        m_nRateIn = m_nSourceRate / nCommon;
        m_nRateOut = m_nOutRate / nCommon;
        m_nPreroll = std::max<int64_t>(1, av_rescale(m_nPrerollMs, m_nSourceRate, 1000));
    }
    // A change of input part-way (chained files) gets a new resampler into the
    // same output; like the ffmpeg program's rebuilt filters, the old one's
    // few delayed samples are not flushed.
    swr_free(&m_pResampler);
    if (nRet >= 0)
        nRet = swr_alloc_set_opts2(&m_pResampler, &m_outLayout, AV_SAMPLE_FMT_S16, m_nOutRate, &layout,
            static_cast<AVSampleFormat>(pFrame->format), pFrame->sample_rate, 0, nullptr);
    if (nRet >= 0)
        nRet = swr_init(m_pResampler);
    av_channel_layout_uninit(&m_inLayout);
    m_inLayout = layout; // takes over what layout holds
    m_nInFormat = pFrame->format;
    m_nInRate = pFrame->sample_rate;
    if (nRet < 0) {
        swr_free(&m_pResampler);
        Fail("converting samples", nRet);
        return false;
    }
    return true;
}

void CDecodeSession::Fail(const std::string& strWhat, int nErr)
{
    if (m_strError.empty())
        m_strError = strWhat + ": " + ErrorText(nErr);
}

// The length from the container's duration, until the end has been read.
void CDecodeSession::EstimateLength()
{
    if (m_bLengthExact || !m_nSourceRate)
        return;
    const AVStream* pStream = m_pFormat->streams[m_nStream];
    int64_t nInput = 0;
    if (pStream->duration != AV_NOPTS_VALUE && pStream->duration > 0) {
        const int64_t nStart = pStream->start_time != AV_NOPTS_VALUE ? pStream->start_time : m_nOriginPts;
        nInput = av_rescale_q(nStart + pStream->duration - m_nOriginPts, m_timeBase, AVRational { 1, m_nSourceRate });
    } else if (m_pFormat->duration > 0) {
        nInput = av_rescale_q(m_pFormat->duration, AV_TIME_BASE_Q, AVRational { 1, m_nSourceRate });
    }
    m_nLength = static_cast<uint64_t>(std::max<int64_t>(0, av_rescale(nInput, m_nRateOut, m_nRateIn)));
}

bool CDecodeSession::GetCover(std::string& strBytes, std::string& strExtension) const
{
    for (unsigned i = 0; m_pFormat && i < m_pFormat->nb_streams; ++i) {
        const AVStream* pStream = m_pFormat->streams[i];
        const AVPacket& picture = pStream->attached_pic;
        if (!(pStream->disposition & AV_DISPOSITION_ATTACHED_PIC) || !picture.data || picture.size <= 0)
            continue;
        strBytes.assign(reinterpret_cast<const char*>(picture.data), static_cast<size_t>(picture.size));
        const AVCodecID eCodec = pStream->codecpar->codec_id;
        strExtension = eCodec == AV_CODEC_ID_MJPEG ? "jpg" : eCodec == AV_CODEC_ID_PNG ? "png" : "img";
        return true;
    }
    return false;
}
