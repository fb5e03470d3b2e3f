#include "FolderGathering.h"

namespace {

// The gatherer looks at the counters this often (steps of its search).
constexpr int kProgressEvery = 64;

} // namespace

CFolderGathering::CFolderGathering(std::unique_ptr<CSoundFileGatherer> pGatherer)
    : m_pGatherer(std::move(pGatherer))
{
}

CFolderGathering::~CFolderGathering()
{
    Cancel();
    if (m_thread.joinable())
        m_thread.join();
}

bool CFolderGathering::Start(std::vector<std::string> astrPaths)
{
    if (IsRunning())
        return false;
    m_astrResult.clear();
    m_bCancel = false;
    m_bDone = false;
    m_nFound = 0;
    m_pGatherer->SetProgress(
        [this](const std::string&) {
            m_nFound = m_astrResult.size();
            return !m_bCancel;
        },
        kProgressEvery);
    m_thread = std::thread([this, astrPaths = std::move(astrPaths)] {
        PlayableFilesOf(astrPaths, *m_pGatherer, m_astrResult);
        m_nFound = m_astrResult.size();
        m_bDone = true;
    });
    return true;
}

std::vector<std::string> CFolderGathering::TakeResult()
{
    if (m_thread.joinable())
        m_thread.join();
    if (m_bCancel)
        m_astrResult.clear();
    return std::move(m_astrResult);
}
