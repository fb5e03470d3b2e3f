#include "WavBytes.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

CTempDir::CTempDir()
{
    std::string strTemplate = (std::filesystem::temp_directory_path() / "velofon-test-XXXXXX").string();
    if (!::mkdtemp(strTemplate.data()))
        throw std::runtime_error("cannot create a temporary folder");
    m_strPath = strTemplate;
}

CTempDir::~CTempDir()
{
    std::error_code error;
    std::filesystem::remove_all(m_strPath, error);
}

std::string CTempDir::Write(const std::string& strName, const Bytes& abContent) const
{
    const std::string strPath = m_strPath + "/" + strName;
    std::ofstream file(strPath, std::ios::binary);
    file.write(reinterpret_cast<const char*>(abContent.data()), static_cast<std::streamsize>(abContent.size()));
    if (!file)
        throw std::runtime_error("cannot write " + strPath);
    return strPath;
}

Bytes ReadWholeFile(const std::string& strPath)
{
    std::ifstream file(strPath, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string Garbage(size_t nBytes, unsigned nSeed)
{
    std::mt19937 random(nSeed);
    std::string strGarbage(nBytes, '\0');
    for (char& c : strGarbage)
        c = static_cast<char>(random());
    return strGarbage;
}
