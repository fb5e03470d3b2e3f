#include "CoverCache.h"

#include "common/Program.h"

#include <glib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

namespace {

namespace fs = std::filesystem;

// FNV-1a: the same picture always gets the same name.
std::string NameOf(const std::string& strBytes, const std::string& strExtension)
{
    uint64_t nHash = 14695981039346656037u;
    for (const char ch : strBytes)
        nHash = (nHash ^ static_cast<unsigned char>(ch)) * 1099511628211u;
    char strName[32];
    std::snprintf(strName, sizeof strName, "%016llx", static_cast<unsigned long long>(nHash));
    return std::string(strName) + "." + strExtension;
}

// The least recently used pictures go until the folder is within its bounds.
void Prune(const fs::path& folder)
{
    struct SCover {
        fs::path path;
        fs::file_time_type used;
        uintmax_t nBytes;
    };
    std::vector<SCover> aCovers;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        std::error_code entryError;
        if (entry.is_regular_file(entryError))
            aCovers.push_back({entry.path(), entry.last_write_time(entryError), entry.file_size(entryError)});
    }
    std::sort(aCovers.begin(), aCovers.end(), [](const SCover& a, const SCover& b) { return a.used > b.used; });
    uintmax_t nTotal = 0;
    for (size_t i = 0; i < aCovers.size(); ++i) {
        nTotal += aCovers[i].nBytes;
        if (i >= kMaxCovers || nTotal > kMaxCoverBytes)
            fs::remove(aCovers[i].path, error);
    }
}

} // namespace

std::string CacheCover(const std::string& strBytes, const std::string& strExtension)
{
    if (strBytes.empty() || strBytes.size() > kMaxCoverBytes)
        return {};
    const fs::path folder = fs::path(g_get_user_cache_dir()) / kProgramName / "covers";
    std::error_code error;
    fs::create_directories(folder, error);
    const fs::path path = folder / NameOf(strBytes, strExtension);
    if (fs::exists(path, error)) {
        // Used again: the last to go.
        fs::last_write_time(path, fs::file_time_type::clock::now(), error);
        return path.string();
    }
    // Written aside and renamed, so that a reader never sees half a picture.
    const fs::path temporary = folder / ("." + path.filename().string() + ".tmp");
    FILE* pFile = std::fopen(temporary.c_str(), "wbe");
    if (!pFile)
        return {};
    const bool bWritten = std::fwrite(strBytes.data(), 1, strBytes.size(), pFile) == strBytes.size();
    const bool bClosed = std::fclose(pFile) == 0;
    if (bWritten && bClosed)
        fs::rename(temporary, path, error);
    if (!bWritten || !bClosed || error) {
        fs::remove(temporary, error);
        return {};
    }
    Prune(folder);
    return path.string();
}
