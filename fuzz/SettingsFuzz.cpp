// Fuzz target for the settings file: the input is the file as the player
// finds it. The player's values are read from it as the player reads them,
// then written back together with awkward numbers, strings and names taken
// from the input; everything written must read back the same, from memory
// and again after the file has been read anew.
#include "FuzzInput.h"

#include "platform/settings/ProfileStore.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <glib.h>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr char kKey[] = "VelofonPocket";
constexpr char kSection[] = "VelofonSettings";
// The player reads PlayListCount entries; here a bounded number of them.
constexpr size_t kMaxPlayFiles = 24;
constexpr int kSpeedIndexCount = 31;
constexpr size_t kMaxFileBytes = 1024 * 1024;
constexpr size_t kMaxTakenString = 4096;

// A GLib warning or critical means GLib was used wrongly, or has a bug that
// input reaches: the run stops as at a crash, so that the fuzzer keeps the input.
GLogWriterOutput AbortOnWarning(GLogLevelFlags eLevel, const GLogField* pFields, gsize nFields, gpointer pData)
{
    const GLogWriterOutput eResult = g_log_writer_default(eLevel, pFields, nFields, pData);
    if (eLevel & (G_LOG_LEVEL_ERROR | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING))
        std::abort();
    return eResult;
}

// A settings folder of this process's own, made the user's for the run.
struct SConfigHome {
    std::string strFolder;
    std::string strFile;

    SConfigHome()
    {
        const char* pTemp = std::getenv("TMPDIR");
        std::string strTemplate =
            std::filesystem::absolute(pTemp && pTemp[0] ? pTemp : "/tmp").string() + "/velofon-settings-fuzz-XXXXXX";
        if (!::mkdtemp(strTemplate.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        strFolder = strTemplate;
        ::setenv("XDG_CONFIG_HOME", strFolder.c_str(), 1);
        const std::string strKeyFolder = strFolder + "/" + kKey;
        ::mkdir(strKeyFolder.c_str(), 0700);
        strFile = strKeyFolder + "/" + kKey + ".conf";
        g_log_set_writer_func(AbortOnWarning, nullptr, nullptr);
    }
    ~SConfigHome()
    {
        std::error_code error;
        std::filesystem::remove_all(strFolder, error);
    }
};

std::string PlayFileEntryName(int nIndex)
{
    char achName[32];
    std::snprintf(achName, sizeof achName, "PlayFile%05d", nIndex);
    return achName;
}

// What a value must read back as.
struct SExpected {
    bool bInt = false;
    int nValue = 0;
    std::string strValue;
};

using Expectations = std::map<std::pair<std::string, std::string>, SExpected>;

void ExpectInt(Expectations& expected, const std::string& strSection, const std::string& strEntry, int nValue)
{
    SExpected& e = expected[{ strSection, strEntry }];
    e.bInt = true;
    e.nValue = nValue;
    e.strValue.clear();
}

void ExpectString(Expectations& expected, const std::string& strSection, const std::string& strEntry,
                  const std::string& strValue)
{
    SExpected& e = expected[{ strSection, strEntry }];
    e.bInt = false;
    e.strValue = strValue;
}

void CheckReadsBack(const CProfileStore& store, const Expectations& expected)
{
    for (const auto& [name, e] : expected) {
        const std::vector<std::string> astrNames = store.GetEntryNames(name.first);
        FUZZ_CHECK(std::find(astrNames.begin(), astrNames.end(), name.second) != astrNames.end());
        if (e.bInt) {
            // Both defaults, so that a missing value cannot pass.
            FUZZ_CHECK(store.GetProfileInt(name.first, name.second, 0) == e.nValue);
            FUZZ_CHECK(store.GetProfileInt(name.first, name.second, 1) == e.nValue);
        } else {
            FUZZ_CHECK(store.GetProfileString(name.first, name.second, "") == e.strValue);
            FUZZ_CHECK(store.GetProfileString(name.first, name.second, "?") == e.strValue);
        }
    }
}

// The input's lines (LF only, so that a CR stays in the value), as values.
std::vector<std::string> LinesOf(const uint8_t* pData, size_t nSize, size_t nMaxLines)
{
    std::vector<std::string> astr;
    const char* p = reinterpret_cast<const char*>(pData);
    const char* const pEnd = p + nSize;
    while (p < pEnd && astr.size() < nMaxLines) {
        const char* pLineEnd = std::find(p, pEnd, '\n');
        astr.emplace_back(p, std::min<size_t>(static_cast<size_t>(pLineEnd - p), kMaxTakenString));
        p = pLineEnd == pEnd ? pEnd : pLineEnd + 1;
    }
    return astr;
}

int IntAt(const uint8_t* pData, size_t nSize, size_t nAt)
{
    if (nSize < 4)
        return nSize == 0 ? INT_MIN : -static_cast<int>(pData[0]);
    nAt %= nSize - 3;
    return static_cast<int>(pData[nAt] | (pData[nAt + 1] << 8) | (pData[nAt + 2] << 16)
                            | (static_cast<uint32_t>(pData[nAt + 3]) << 24));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize)
{
    static const SConfigHome s_home;
    nSize = std::min(nSize, kMaxFileBytes);
    ::unlink((s_home.strFile + ".damaged").c_str());
    WriteInputFile(s_home.strFile, pData, nSize);

    CProfileStore store;
    store.SetLocation(kKey, kKey);
    FUZZ_CHECK(store.GetPath() == s_home.strFile);

    // What the player reads at start.
    const int nSpeedIdx = std::clamp(store.GetProfileInt(kSection, "SpeedIdx", 10), 0, kSpeedIndexCount - 1);
    const int nRepeat = store.GetProfileInt(kSection, "Repeat", 0);
    const int nMixingVolume = store.GetProfileInt(kSection, "MixingVolume", 50);
    const int nAlphaControl = store.GetProfileInt(kSection, "AlphaControl", 0);
    const int nFileSelect = store.GetProfileInt(kSection, "FileSelect", 1);
    const int nWaitSec = store.GetProfileInt(kSection, "WaitSec", 0);
    // The count, cut to the entries stored below it.
    const int nCount = store.GetProfileInt(kSection, "PlayListCount", 0);
    static const std::vector<std::string> s_astrPlayFileNames = [] {
        std::vector<std::string> astr;
        for (size_t i = 0; i < kMaxPlayFiles; ++i)
            astr.push_back(PlayFileEntryName(static_cast<int>(i)));
        return astr;
    }();
    int nStored = 0;
    for (const std::string& strName : store.GetEntryNames(kSection)) {
        const auto it = std::find(s_astrPlayFileNames.begin(), s_astrPlayFileNames.end(), strName);
        const int nIndex = static_cast<int>(it - s_astrPlayFileNames.begin());
        if (it != s_astrPlayFileNames.end() && nIndex < nCount)
            nStored = std::max(nStored, nIndex + 1);
    }
    std::vector<std::string> astrFiles;
    for (int i = 0; i < nStored; ++i)
        astrFiles.push_back(store.GetProfileString(kSection, PlayFileEntryName(i), ""));
    // The same entries the other way round: a number as text, text as a number.
    store.GetProfileString(kSection, "SpeedIdx", "");
    store.GetProfileInt(kSection, PlayFileEntryName(0), 0);

    // Values to write back: the playlist read, then lines of the input and
    // its raw tail, then strings that need escapes of one kind or another.
    const std::vector<std::string> astrLines = LinesOf(pData, nSize, 8);
    for (const std::string& str : astrLines) {
        if (astrFiles.size() < kMaxPlayFiles)
            astrFiles.push_back(str);
    }
    const size_t nTail = std::min<size_t>(nSize, 256);
    astrFiles.emplace_back(reinterpret_cast<const char*>(pData) + nSize - nTail, nTail);
    for (const std::string& str : { std::string(" lead and trail \t"), std::string("\\x41\\q\\"),
             std::string("a\0b\x7f\xff\xfe\r\n", 9), std::string("\xEF\xBB\xBF#[x]=y;z") })
        astrFiles.push_back(str);

    Expectations expected;
    {
        CProfileBatch batch(store);
        // A name taken from the input; written only when the store takes it.
        if (astrLines.size() >= 2) {
            const std::string strEntry = astrLines[0].substr(0, 64);
            if (store.WriteProfileString(kSection, strEntry, astrLines[1]))
                ExpectString(expected, kSection, strEntry, astrLines[1]);
            const std::string strSection = astrLines[1].substr(0, 64);
            if (store.WriteProfileInt(strSection, strEntry, IntAt(pData, nSize, 1)))
                ExpectInt(expected, strSection, strEntry, IntAt(pData, nSize, 1));
        }
        // As the player saves them.
        const std::pair<const char*, int> aInts[] = { { "SpeedIdx", nSpeedIdx }, { "Repeat", nRepeat },
            { "MixingVolume", nMixingVolume }, { "AlphaControl", nAlphaControl }, { "FileSelect", nFileSelect },
            { "WaitSec", nWaitSec == 0 ? IntAt(pData, nSize, 0) : nWaitSec },
            { "PlayListCount", static_cast<int>(astrFiles.size()) } };
        for (const auto& [strEntry, nValue] : aInts) {
            FUZZ_CHECK(store.WriteProfileInt(kSection, strEntry, nValue));
            ExpectInt(expected, kSection, strEntry, nValue);
        }
        for (size_t i = 0; i < astrFiles.size(); ++i) {
            const std::string strEntry = PlayFileEntryName(static_cast<int>(i));
            FUZZ_CHECK(store.WriteProfileString(kSection, strEntry, astrFiles[i]));
            ExpectString(expected, kSection, strEntry, astrFiles[i]);
        }
    }
    CheckReadsBack(store, expected);

    // The file as the next start of the player finds it.
    CProfileStore reread;
    reread.SetLocation(kKey, kKey);
    CheckReadsBack(reread, expected);

    // One write outside a batch replaces the file at once.
    const std::string strLast = astrFiles.back() + astrFiles.front();
    FUZZ_CHECK(reread.WriteProfileString(kSection, PlayFileEntryName(0), strLast));
    ExpectString(expected, kSection, PlayFileEntryName(0), strLast);
    store.SetLocation(kKey, kKey);
    CheckReadsBack(store, expected);
    return 0;
}
