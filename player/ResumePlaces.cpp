#include "ResumePlaces.h"

#include "platform/events/TimeOfDay.h"

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

void CResumePlaces::StampRun(const std::string& strPath)
{
    StampOfFile(strPath, m_nRunFileSize, m_nRunFileModifiedNs);
}

bool CResumePlaces::Remember(const std::string& strPath, uint64_t nFrame, uint64_t nLengthFrames, uint32_t nRate,
                             int nSpeedIdx)
{
    return m_pStore->Store(
        strPath, {nFrame, nLengthFrames, nRate, m_nRunFileSize, m_nRunFileModifiedNs, nSpeedIdx, WallClockMs()});
}

bool CResumePlaces::Forget(const std::string& strPath)
{
    return m_pStore->Forget(strPath);
}

std::optional<CPositionStore::SPosition> CResumePlaces::TrustedPlace(const std::string& strPath) const
{
    const auto position = m_pStore ? m_pStore->Find(strPath) : std::nullopt;
    if (!position)
        return std::nullopt;
    // The length is no sign of a change: a decoder's estimate differs from
    // the decoded end.
    uint64_t nSize = 0;
    int64_t nModifiedNs = 0;
    StampOfFile(strPath, nSize, nModifiedNs);
    const bool bStamped = position->nFileSize != 0 || position->nModifiedNs != 0;
    if (bStamped && (position->nFileSize != nSize || position->nModifiedNs != nModifiedNs))
        return std::nullopt;
    return position;
}
