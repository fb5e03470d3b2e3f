// CFolderGathering: the playable files of paths handed in from outside (a
// drop, a second start, the command line), gathered on a thread of its own,
// so that neither the sound nor the window waits for a large tree. The
// user-interface thread starts it, polls it (IsDone, GetFoundCount) and takes
// the result; Cancel stops it at the next step. Toolkit-free; the gathering
// thread touches nothing but the gatherer and the counters here.
#pragma once

#include "FolderListing.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class CFolderGathering {
public:
    explicit CFolderGathering(std::unique_ptr<CSoundFileGatherer> pGatherer = std::make_unique<CSoundFileGatherer>());
    // Stops a gathering under way and waits for its thread.
    ~CFolderGathering();
    CFolderGathering(const CFolderGathering&) = delete;
    CFolderGathering& operator=(const CFolderGathering&) = delete;

    // Starts gathering astrPaths (files and folders, in that order); false
    // while a gathering has not been taken yet.
    bool Start(std::vector<std::string> astrPaths);
    // From Start until TakeResult.
    bool IsRunning() const { return m_thread.joinable(); }
    // The gathering has ended (or stopped): TakeResult does not wait.
    bool IsDone() const { return m_bDone; }
    // The playable files found so far.
    size_t GetFoundCount() const { return m_nFound; }
    void Cancel() { m_bCancel = true; }
    // Waits for the end; what was found, or nothing when it was cancelled.
    std::vector<std::string> TakeResult();

private:
    std::unique_ptr<CSoundFileGatherer> m_pGatherer;
    std::thread m_thread;
    std::vector<std::string> m_astrResult;
    std::atomic<bool> m_bCancel{false};
    std::atomic<bool> m_bDone{false};
    std::atomic<size_t> m_nFound{0};
};
