#include "SeekIndex.h"

#include "FileInput.h"

CSeekIndex::~CSeekIndex()
{
    Stop();
}

void CSeekIndex::Stop()
{
    m_bStop = true;
    if (m_thread.joinable())
        m_thread.join();
}

bool CSeekIndex::IsNeeded(const AVFormatContext* pFormat)
{
    return pFormat && pFormat->iformat && (pFormat->iformat->flags & AVFMT_GENERIC_INDEX) != 0;
}

void CSeekIndex::Start(int hFile, const std::string& strPath, const AVInputFormat* pFormat, int nStream)
{
    if (m_thread.joinable() || m_bStop)
        return;
    m_thread = std::thread(&CSeekIndex::Scan, this, hFile, strPath, pFormat, nStream);
}

void CSeekIndex::AddTo(AVStream* pStream, bool bFromStart)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (bFromStart)
        m_nGiven = 0;
    for (; m_nGiven < m_aEntries.size(); ++m_nGiven) {
        const SEntry& entry = m_aEntries[m_nGiven];
        av_add_index_entry(pStream, entry.nPos, entry.nTimestamp, entry.nSize, 0, AVINDEX_KEYFRAME);
    }
}

// The demuxer as the playing session opens it, read to the end: a place
// about every second, the first packet at or after each.
void CSeekIndex::Scan(int hFile, std::string strPath, const AVInputFormat* pFormat, int nStream)
{
    SFileCursor cursor{hFile, 0};
    AVIOContext* pIo = AllocFileInput(&cursor);
    AVFormatContext* pContext = pIo ? AllocFileDemuxer(pIo) : nullptr;
    AVPacket* pPacket = av_packet_alloc();
    // Opened as the playing demuxer was, stream information and all, so
    // that its packets carry the same timestamps.
    const bool bOpen = pContext && pPacket && avformat_open_input(&pContext, strPath.c_str(), pFormat, nullptr) >= 0
        && avformat_find_stream_info(pContext, nullptr) >= 0;
    if (bOpen && nStream >= 0 && static_cast<unsigned>(nStream) < pContext->nb_streams) {
        const AVRational timeBase = pContext->streams[nStream]->time_base;
        int64_t nSpacing = av_rescale_q(1, AVRational{1, 1}, timeBase);
        int64_t nNext = AV_NOPTS_VALUE;
        while (!m_bStop && av_read_frame(pContext, pPacket) >= 0) {
            const int64_t nTimestamp = pPacket->pts != AV_NOPTS_VALUE ? pPacket->pts : pPacket->dts;
            if (pPacket->stream_index == nStream && nTimestamp != AV_NOPTS_VALUE && pPacket->pos >= 0
                && (nNext == AV_NOPTS_VALUE || nTimestamp >= nNext)) {
                const std::lock_guard<std::mutex> lock(m_mutex);
                if (m_aEntries.size() >= kMaxEntries) {
                    // Every other place goes, and the spacing doubles.
                    size_t nKept = 0;
                    for (size_t i = 0; i < m_aEntries.size(); i += 2)
                        m_aEntries[nKept++] = m_aEntries[i];
                    m_aEntries.resize(nKept);
                    m_nGiven = 0;
                    nSpacing *= 2;
                }
                m_aEntries.push_back({pPacket->pos, nTimestamp, pPacket->size});
                nNext = nTimestamp + nSpacing;
            }
            av_packet_unref(pPacket);
        }
    }
    av_packet_free(&pPacket);
    avformat_close_input(&pContext); // frees it also when the open failed
    FreeFileInput(&pIo);
}
