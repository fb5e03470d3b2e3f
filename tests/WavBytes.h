// Builds WAV files byte by byte for the tests, with named mutations, and
// writes them into a temporary folder that is removed afterwards.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

inline void PutU16(Bytes& b, size_t nAt, uint16_t n)
{
    b[nAt] = static_cast<uint8_t>(n);
    b[nAt + 1] = static_cast<uint8_t>(n >> 8);
}

inline void PutU32(Bytes& b, size_t nAt, uint32_t n)
{
    PutU16(b, nAt, static_cast<uint16_t>(n));
    PutU16(b, nAt + 2, static_cast<uint16_t>(n >> 16));
}

inline void Append(Bytes& b, const std::string& str)
{
    b.insert(b.end(), str.begin(), str.end());
}

inline void AppendU32(Bytes& b, uint32_t n)
{
    b.resize(b.size() + 4);
    PutU32(b, b.size() - 4, n);
}

// A canonical 44-byte header (format chunk first, data at 44) and the samples.
inline Bytes MakeWav(uint16_t nChannels, uint32_t nRate, uint16_t nBlockAlign, const Bytes& abData)
{
    Bytes b(44 + abData.size());
    std::memcpy(b.data(), "RIFF", 4);
    PutU32(b, 4, static_cast<uint32_t>(36 + abData.size()));
    std::memcpy(b.data() + 8, "WAVEfmt ", 8);
    PutU32(b, 16, 16);
    PutU16(b, 20, 1);
    PutU16(b, 22, nChannels);
    PutU32(b, 24, nRate);
    PutU32(b, 28, nRate * nBlockAlign);
    PutU16(b, 32, nBlockAlign);
    PutU16(b, 34, static_cast<uint16_t>(nBlockAlign / nChannels * 8));
    std::memcpy(b.data() + 36, "data", 4);
    PutU32(b, 40, static_cast<uint32_t>(abData.size()));
    std::copy(abData.begin(), abData.end(), b.begin() + 44);
    return b;
}

// Puts a LIST chunk of nBytes filler bytes between the format chunk and the
// data of a canonical file, as editors that add tags write them.
inline void InsertListChunk(Bytes& abWav, size_t nBytes, char cFill)
{
    if (nBytes == 0)
        return;
    Bytes abList;
    Append(abList, "LIST");
    AppendU32(abList, static_cast<uint32_t>(nBytes));
    abList.resize(abList.size() + nBytes, static_cast<uint8_t>(cFill));
    abWav.insert(abWav.begin() + 36, abList.begin(), abList.end());
}

inline Bytes Samples16(const std::vector<int16_t>& asSamples)
{
    Bytes b;
    for (int16_t n : asSamples) {
        b.push_back(static_cast<uint8_t>(n));
        b.push_back(static_cast<uint8_t>(static_cast<uint16_t>(n) >> 8));
    }
    return b;
}

// A folder of its own under the system's temporary folder.
class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::string& Path() const { return m_strPath; }
    std::string Write(const std::string& strName, const Bytes& abContent) const;

private:
    std::string m_strPath;
};

Bytes ReadWholeFile(const std::string& strPath);

// nBytes of noise, the same on every run for one seed: a file no program
// wrote.
std::string Garbage(size_t nBytes, unsigned nSeed);
