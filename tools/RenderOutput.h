// Where `velofon render` writes: a canonical 16-bit stereo WAV or raw frames,
// to standard output or to a file that takes the target's name only when the
// run completes, so that no failure, signal, kill or power cut leaves half a
// file. A target that is there and is no regular file (a device, a FIFO) is
// written in place.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

// Whether two names or handles lead to one file.
bool IsSameFile(const struct stat& a, const struct stat& b);

// A file that gets its name only once it is complete and on disk. Where the
// file system allows, it has no name at all while written, so a run that dies
// leaves nothing behind. Elsewhere it is a hidden file .NAME.velofon-XXXXXX
// beside the target, locked while written: the lock tells a run under way
// from a leftover, which the next run for the same target removes.
class CPendingFile {
public:
    CPendingFile() = default;
    CPendingFile(const CPendingFile&) = delete;
    CPendingFile& operator=(const CPendingFile&) = delete;
    ~CPendingFile() { Discard(); }

    // strFolder "" is the current folder. bAllowUnnamed false takes the road
    // of file systems without unnamed files. False with errno on failure.
    bool Open(const std::string& strFolder, const std::string& strName, bool bAllowUnnamed = true);
    bool IsOpen() const { return m_hFile >= 0; }
    int GetHandle() const { return m_hFile; }
    // The hidden name while written, empty for an unnamed file.
    const std::string& GetTempPath() const { return m_strTemp; }
    // Puts the file on disk in place of the target. False with errno on
    // failure: the file is gone then, or in place but perhaps not for good
    // when only the folder could not be synced.
    bool Commit();
    void Discard();

private:
    std::string FolderToOpen() const { return m_strFolder.empty() ? "." : m_strFolder; }
    std::string TempPrefix() const { return "." + m_strName + ".velofon-"; }
    void RemoveLeftovers() const;
    bool OpenNamed();
    bool LinkUnnamed();
    bool SyncFolder() const;
    bool FailAndDiscard();

    std::string m_strFolder; // empty, or ending in '/'
    std::string m_strName;
    int m_hFile = -1;
    std::string m_strTemp;
};

// Writes blocks on a thread of its own, one at a time, so that their copy
// into the page cache and their writeback overlap the rendering of the next.
class CBlockWriter {
public:
    explicit CBlockWriter(size_t nBlockBytes) : m_abBlock(nBlockBytes) {}
    CBlockWriter(const CBlockWriter&) = delete;
    CBlockWriter& operator=(const CBlockWriter&) = delete;
    ~CBlockWriter();

    // Takes the first nBytes of abBlock, which gets an empty block of the same
    // size in exchange, to be written at hFile's position, which is nOffset;
    // bWriteback starts their way to the disk at once. Waits while the
    // previous block is being written. False with errno when an earlier write
    // failed: nothing is written after a failure.
    bool Post(int hFile, std::vector<unsigned char>& abBlock, size_t nBytes, uint64_t nOffset, bool bWriteback);
    // Waits until every block posted is written. False with errno on failure.
    bool Finish();

private:
    void Run();
    bool WaitUntilIdle(std::unique_lock<std::mutex>& lock);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<unsigned char> m_abBlock;
    size_t m_nBytes = 0;
    int m_hFile = -1;
    uint64_t m_nOffset = 0;
    bool m_bWriteback = false;
    bool m_bPending = false;
    bool m_bQuit = false;
    int m_nErrno = 0;
    std::thread m_thread; // started with the first block
};

class CRenderOutput {
public:
    static constexpr uint32_t kHeaderBytes = 44;

    CRenderOutput(bool bRaw, uint32_t nDefaultRate);
    CRenderOutput(const CRenderOutput&) = delete;
    CRenderOutput& operator=(const CRenderOutput&) = delete;
    ~CRenderOutput();

    // "-" means standard output. False with GetError() on failure.
    bool Open(const std::string& strPath);
    // The header carries the rate of the first rendered input.
    void SetSampleRate(uint32_t nRate);
    bool HasSampleRate() const { return m_bRateSet; }
    uint32_t GetSampleRate() const { return m_nRate; }
    bool Write(const void* pData, uint32_t nBytes);
    // Completes the header and moves the file into place.
    bool Commit();
    // Removes the temporary file; used on failure and interruption.
    void Abort();

    const std::string& GetError() const { return m_strError; }
    // True once a WAV file's sizes no longer fit its header's 32-bit fields,
    // which are then capped.
    bool ExceedsHeaderSizes() const { return !m_bRaw && m_nDataBytes + kHeaderBytes - 8 > UINT32_MAX; }

private:
    bool EnsureHeader();
    bool Append(const unsigned char* pData, size_t nBytes);
    bool Flush();
    bool Fail();
    void BuildHeader(unsigned char* pHeader) const;

    bool m_bRaw;
    uint32_t m_nRate;
    bool m_bRateSet = false;
    bool m_bHeaderWritten = false;
    int m_hFile = -1;
    bool m_bOwnsFile = false; // a device or a FIFO opened in place
    CPendingFile m_pending;
    int64_t m_nHeaderOffset = -1; // where the header can be patched, -1 when unseekable
    uint64_t m_nDataBytes = 0;
    std::string m_strTarget;
    std::vector<unsigned char> m_abBuffer;
    size_t m_nBuffered = 0;
    uint64_t m_nFlushedBytes = 0; // from the file's start, header included
    std::string m_strError;
    CBlockWriter m_writer; // last: it stops before the file it writes is closed
};
