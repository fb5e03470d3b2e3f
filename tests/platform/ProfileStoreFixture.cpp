#include "ProfileStoreFixture.h"

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

std::string ReadText(const std::string& strPath)
{
    const Bytes abContent = ReadWholeFile(strPath);
    return std::string(abContent.begin(), abContent.end());
}

void WriteText(const std::string& strPath, const std::string& strText)
{
    std::filesystem::create_directories(std::filesystem::path(strPath).parent_path());
    std::ofstream file(strPath, std::ios::binary | std::ios::trunc);
    file << strText;
    ASSERT_TRUE(file.good()) << strPath;
}

bool Exists(const std::string& strPath)
{
    struct stat st {};
    return ::lstat(strPath.c_str(), &st) == 0;
}
