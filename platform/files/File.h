// CFile: read-only access to one regular file over POSIX calls.
// It stands in for the handheld framework's file class. Only regular files
// open: a FIFO or a device node named like a WAV file is refused at once
// instead of blocking the caller. Not thread-safe; use it from one thread.
#pragma once

#include <cstdint>
#include <string>

class CFile {
public:
    enum class EOpenResult { Ok, CannotOpen, NotRegularFile };

    CFile() = default;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    virtual ~CFile();

    // Opens the file for reading; other processes may read and write it meanwhile.
    // On failure nothing stays open and GetOpenErrno() holds the system's reason.
    EOpenResult Open(const std::string& strPath);

    // Reads up to nCount bytes at the current position, retrying short and
    // interrupted reads. Returns the bytes delivered: fewer at the end of the
    // file, 0 for a request of 0, for a closed file or when the first read fails.
    virtual uint32_t Read(void* pBuffer, uint32_t nCount);

    // Moves the position to nOffset bytes from the beginning; returns it.
    uint64_t SeekFromStart(uint64_t nOffset);
    uint64_t GetPosition() const { return m_nPosition; }
    // The current size of the file (it may grow while open); 0 when closed.
    uint64_t GetLength() const;

    void SetFilePath(const std::string& strPath) { m_strPath = strPath; }
    const std::string& GetFilePath() const { return m_strPath; }

    bool IsOpen() const { return m_hFile >= 0; }
    int GetOpenErrno() const { return m_nOpenErrno; }
    void Close();

private:
    int m_hFile = -1;
    uint64_t m_nPosition = 0;
    int m_nOpenErrno = 0;
    std::string m_strPath;
};
