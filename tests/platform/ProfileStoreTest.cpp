// The settings key file: where it lives, how integers and strings come back,
// files written or damaged by others, batches, failed writes, kills in the
// middle of a save, and files that cannot be read or written.
#include "platform/settings/ProfileStore.h"

#include "AsNobody.h"
#include "WavBytes.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <pwd.h>
#include <random>
#include <signal.h>
#include <sstream>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const char* const kKey = "VelofonTest";
const char* const kApp = "Player";

// Sets (or, with nullptr, unsets) an environment variable for the life of the
// object and puts the old state back afterwards.
class CEnvOverride {
public:
    CEnvOverride(const char* strName, const char* strValue)
        : m_strName(strName)
    {
        const char* strOld = std::getenv(strName);
        m_bHadValue = strOld != nullptr;
        if (m_bHadValue)
            m_strOldValue = strOld;
        Set(strValue);
    }
    ~CEnvOverride() { Set(m_bHadValue ? m_strOldValue.c_str() : nullptr); }
    CEnvOverride(const CEnvOverride&) = delete;
    CEnvOverride& operator=(const CEnvOverride&) = delete;

    void Set(const char* strValue)
    {
        if (strValue)
            ::setenv(m_strName.c_str(), strValue, 1);
        else
            ::unsetenv(m_strName.c_str());
    }

private:
    std::string m_strName;
    bool m_bHadValue = false;
    std::string m_strOldValue;
};

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

// Counts how often the file is made or a new one renamed into its place, as
// every save does, through inotify on its folder. The temporary files' events
// come between, so that inotify does not merge those of the file.
class CFileChangeCounter {
public:
    explicit CFileChangeCounter(const std::string& strPath)
        : m_strName(std::filesystem::path(strPath).filename().string())
        , m_hInotify(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        const std::string strFolder = std::filesystem::path(strPath).parent_path().string();
        m_bWatching = m_hInotify >= 0
            && ::inotify_add_watch(m_hInotify, strFolder.c_str(), IN_MOVED_TO | IN_CREATE) >= 0;
    }
    ~CFileChangeCounter()
    {
        if (m_hInotify >= 0)
            ::close(m_hInotify);
    }
    CFileChangeCounter(const CFileChangeCounter&) = delete;
    CFileChangeCounter& operator=(const CFileChangeCounter&) = delete;

    bool IsWatching() const { return m_bWatching; }

    // The changes since the last call.
    int TakeCount()
    {
        char achBuffer[4096];
        int nCount = 0;
        for (;;) {
            const ssize_t nGot = ::read(m_hInotify, achBuffer, sizeof achBuffer);
            if (nGot <= 0)
                return nCount;
            for (size_t nAt = 0; nAt + sizeof(inotify_event) <= static_cast<size_t>(nGot);) {
                inotify_event event {};
                std::memcpy(&event, achBuffer + nAt, sizeof event);
                const char* strName = achBuffer + nAt + sizeof event;
                if (event.len > 0 && m_strName == strName)
                    ++nCount;
                nAt += sizeof event + event.len;
            }
        }
    }

private:
    std::string m_strName;
    int m_hInotify;
    bool m_bWatching = false;
};

// Every test gets a config folder of its own.
class ProfileStoreTest : public ::testing::Test {
protected:
    ProfileStoreTest()
        : m_xdgConfig("XDG_CONFIG_HOME", ConfigHome().c_str())
    {
    }

    std::string ConfigHome() const { return m_dir.Path() + "/config"; }
    std::string Folder() const { return ConfigHome() + "/" + kKey; }
    std::string FilePath() const { return Folder() + "/" + kApp + ".conf"; }

    // A store that reads the file as it is now, as the next program start would.
    std::unique_ptr<CProfileStore> Open() const
    {
        auto pStore = std::make_unique<CProfileStore>();
        pStore->SetLocation(kKey, kApp);
        return pStore;
    }

    CTempDir m_dir;
    CEnvOverride m_xdgConfig;
};

// ---------------------------------------------------------------------------
// Where the file lives

using ProfileLocationTest = ProfileStoreTest;

TEST_F(ProfileLocationTest, BeforeSetLocationReadsGiveDefaultsAndWritesFail)
{
    CProfileStore store;
    EXPECT_TRUE(store.GetPath().empty());
    EXPECT_FALSE(store.WriteProfileInt("Settings", "Volume", 5));
    EXPECT_FALSE(store.WriteProfileString("Settings", "Name", "x"));
    EXPECT_EQ(store.GetProfileInt("Settings", "Volume", 9), 9);
    EXPECT_EQ(store.GetProfileString("Settings", "Name", "none"), "none");
    EXPECT_FALSE(Exists(ConfigHome()));
}

TEST_F(ProfileLocationTest, FileIsNamedAfterKeyAndApplicationInXdgConfigHome)
{
    const auto pStore = Open();
    EXPECT_EQ(pStore->GetPath(), FilePath());
}

TEST_F(ProfileLocationTest, EachSetLocationReadsTheVariableAfresh)
{
    CProfileStore store;
    store.SetLocation(kKey, kApp);
    ASSERT_TRUE(store.WriteProfileInt("Settings", "Volume", 1));

    const std::string strOther = m_dir.Path() + "/other";
    m_xdgConfig.Set(strOther.c_str());
    store.SetLocation(kKey, kApp);
    EXPECT_EQ(store.GetPath(), strOther + "/" + kKey + "/" + kApp + ".conf");
    EXPECT_EQ(store.GetProfileInt("Settings", "Volume", 0), 0);
    ASSERT_TRUE(store.WriteProfileInt("Settings", "Volume", 2));
    EXPECT_TRUE(Exists(store.GetPath()));
    EXPECT_EQ(Open()->GetProfileInt("Settings", "Volume", 0), 2);
}

TEST_F(ProfileLocationTest, UnsetEmptyOrRelativeVariableMeansDotConfigInHome)
{
    const std::string strHome = m_dir.Path() + "/home";
    CEnvOverride home("HOME", strHome.c_str());
    const std::string strExpected = strHome + "/.config/" + kKey + "/" + kApp + ".conf";

    for (const char* strValue : {static_cast<const char*>(nullptr), "", "relative/config"}) {
        SCOPED_TRACE(strValue ? std::string("XDG_CONFIG_HOME=\"") + strValue + "\"" : "XDG_CONFIG_HOME unset");
        m_xdgConfig.Set(strValue);
        CProfileStore store;
        store.SetLocation(kKey, kApp);
        EXPECT_EQ(store.GetPath(), strExpected);
    }
    CProfileStore store;
    store.SetLocation(kKey, kApp);
    ASSERT_TRUE(store.WriteProfileInt("Settings", "Volume", 3));
    EXPECT_TRUE(Exists(strExpected));
}

TEST_F(ProfileLocationTest, UnsetEmptyOrRelativeHomeMeansTheUserDatabasesHome)
{
    m_xdgConfig.Set(nullptr);
    const passwd* pUser = ::getpwuid(::getuid());
    ASSERT_NE(pUser, nullptr);
    for (const char* strHome : {static_cast<const char*>(nullptr), "", "relative/home"}) {
        SCOPED_TRACE(strHome ? std::string("HOME=\"") + strHome + "\"" : "HOME unset");
        CEnvOverride home("HOME", strHome);
        EXPECT_EQ(CProfileStore::LocationOf(kKey, kApp),
                  std::string(pUser->pw_dir) + "/.config/" + kKey + "/" + kApp + ".conf");
    }
}

TEST_F(ProfileLocationTest, ReadingCreatesNothingAndTheFirstWriteMakesPrivateFolders)
{
    const auto pStore = Open();
    EXPECT_EQ(pStore->GetProfileInt("Settings", "Volume", 4), 4);
    EXPECT_FALSE(Exists(ConfigHome()));

    ASSERT_TRUE(pStore->WriteProfileInt("Settings", "Volume", 5));
    struct stat st {};
    ASSERT_EQ(::stat(Folder().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(Exists(FilePath()));
}

TEST_F(ProfileLocationTest, NamesThatAreNotOneFolderLeaveTheStoreWithoutAFile)
{
    const std::vector<std::pair<std::string, std::string>> aNames = {
        {"", kApp}, {kKey, ""}, {"..", kApp}, {kKey, "."}, {"a/b", kApp}, {kKey, "../x"},
        {std::string("a\0b", 3), kApp},
    };
    for (const auto& names : aNames) {
        SCOPED_TRACE("key \"" + names.first + "\", application \"" + names.second + "\"");
        CProfileStore store;
        store.SetLocation(names.first, names.second);
        EXPECT_TRUE(store.GetPath().empty());
        EXPECT_FALSE(store.WriteProfileInt("Settings", "Volume", 5));
    }
    EXPECT_FALSE(Exists(ConfigHome()));
}

// ---------------------------------------------------------------------------
// Integers

using ProfileIntegerTest = ProfileStoreTest;

TEST_F(ProfileIntegerTest, Every32BitValueComesBack)
{
    const std::vector<int> anValues = {0, 1, -1, 42, -42, 123456789, INT32_MAX, INT32_MIN, INT32_MIN + 1};
    {
        const auto pStore = Open();
        CProfileBatch batch(*pStore);
        for (size_t i = 0; i < anValues.size(); ++i)
            pStore->WriteProfileInt("Numbers", "n" + std::to_string(i), anValues[i]);
    }
    const auto pStore = Open();
    for (size_t i = 0; i < anValues.size(); ++i)
        EXPECT_EQ(pStore->GetProfileInt("Numbers", "n" + std::to_string(i), 777), anValues[i]) << "entry " << i;
}

TEST_F(ProfileIntegerTest, NegativeValuesAreWrittenAsUnsignedDecimals)
{
    const auto pStore = Open();
    ASSERT_TRUE(pStore->WriteProfileInt("Settings", "MinusOne", -1));
    ASSERT_TRUE(pStore->WriteProfileInt("Settings", "Lowest", INT32_MIN));
    const std::string strText = ReadText(FilePath());
    EXPECT_NE(strText.find("MinusOne=4294967295\n"), std::string::npos) << strText;
    EXPECT_NE(strText.find("Lowest=2147483648\n"), std::string::npos) << strText;
    EXPECT_EQ(strText.find('-'), std::string::npos) << strText;
}

TEST_F(ProfileIntegerTest, MissingEntryOrSectionGivesTheDefault)
{
    const auto pStore = Open();
    ASSERT_TRUE(pStore->WriteProfileInt("Settings", "Volume", 5));
    EXPECT_EQ(pStore->GetProfileInt("Settings", "Speed", -3), -3);
    EXPECT_EQ(pStore->GetProfileInt("Other", "Volume", 8), 8);
}

TEST_F(ProfileIntegerTest, HandWrittenValuesReadAsTheirNumberOrTheDefault)
{
    constexpr int kDefault = 555;
    const std::vector<std::pair<std::string, int>> aCases = {
        // Whole decimals that fit 32 bits either way.
        {"0", 0},
        {"7", 7},
        {"007", 7},
        {"-0", 0},
        {"-5", -5},
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MIN},
        {"4294967295", -1},
        {"-2147483648", INT32_MIN},
        {"  12  ", 12},
        {"\t12\t", 12},
        // Everything else.
        {"", kDefault},
        {"   ", kDefault},
        {"4294967296", kDefault},
        {"-2147483649", kDefault},
        {"99999999999999999999999999", kDefault},
        {"-99999999999999999999999999", kDefault},
        {"+5", kDefault},
        {"-", kDefault},
        {"--5", kDefault},
        {"1 2", kDefault},
        {"12abc", kDefault},
        {"0x10", kDefault},
        {"5.0", kDefault},
        {"1e3", kDefault},
        {"5 # loud", kDefault},
        {"\\s5", kDefault},
        {"\xd9\xa3", kDefault}, // an Arabic-Indic digit three
        {"loud", kDefault},
    };
    std::string strFile = "[Numbers]\n";
    for (size_t i = 0; i < aCases.size(); ++i)
        strFile += "n" + std::to_string(i) + "=" + aCases[i].first + "\n";
    WriteText(FilePath(), strFile);

    const auto pStore = Open();
    for (size_t i = 0; i < aCases.size(); ++i)
        EXPECT_EQ(pStore->GetProfileInt("Numbers", "n" + std::to_string(i), kDefault), aCases[i].second)
            << "value \"" << aCases[i].first << "\"";
}

// ---------------------------------------------------------------------------
// Strings

using ProfileStringTest = ProfileStoreTest;

TEST_F(ProfileStringTest, AwkwardTextComesBackUnchanged)
{
    const std::vector<std::string> astrValues = {
        "",
        " ",
        "/home/listener/Lectures/week 1.wav",
        "/music/with\nnewline.wav",
        "C:\\Lectures\\new\\today.wav",
        "ends with backslash\\",
        "  two leading spaces",
        "two trailing spaces  ",
        "\ttabs at both ends\t",
        "\r\nline ends\r\n",
        "#not a comment",
        "key=value",
        "[not a group]",
        "semi;colons,and,commas;",
        "\\s is not a space",
        "\\x41 is not an A",
        "Grüße, 日本語, emoji \xF0\x9F\x8E\xA7",
        "/music/caf\xE9.wav",               // Latin-1, not UTF-8
        "/music/\xFF\xFE\xFD",             // not UTF-8 at all
        "half \xE6\x97 of a character",    // a cut UTF-8 sequence
        "Mü\xFFller \\x41 and \\s",        // invalid bytes next to text like our escapes
        "control \x01 \x1B[0m \x7F chars", // escapes GLib would leave raw
        "\x0C\x0B form feed and vertical tab lead",
        std::string("zero\0byte", 9),
    };
    const auto pWriter = Open();
    for (size_t i = 0; i < astrValues.size(); ++i)
        ASSERT_TRUE(pWriter->WriteProfileString("Strings", "s" + std::to_string(i), astrValues[i])) << "entry " << i;

    const auto pReader = Open();
    for (size_t i = 0; i < astrValues.size(); ++i) {
        const std::string strEntry = "s" + std::to_string(i);
        EXPECT_EQ(pWriter->GetProfileString("Strings", strEntry, "?"), astrValues[i]) << "in memory, entry " << i;
        EXPECT_EQ(pReader->GetProfileString("Strings", strEntry, "?"), astrValues[i]) << "from the file, entry " << i;
    }
}

TEST_F(ProfileStringTest, PathsThatAreNotUtf8KeepTheFileUtf8Text)
{
    const auto pStore = Open();
    ASSERT_TRUE(pStore->WriteProfileString("Files", "Last", "/music/caf\xE9/\xFF.wav"));
    const std::string strText = ReadText(FilePath());
    EXPECT_EQ(strText.find('\xE9'), std::string::npos);
    EXPECT_EQ(strText.find('\xFF'), std::string::npos);
    EXPECT_NE(strText.find("Last=/music/caf\\xe9/\\xff.wav\n"), std::string::npos) << strText;
    EXPECT_EQ(Open()->GetProfileString("Files", "Last", ""), "/music/caf\xE9/\xFF.wav");
}

TEST_F(ProfileStringTest, PlainPathsAreWrittenReadably)
{
    const auto pStore = Open();
    ASSERT_TRUE(pStore->WriteProfileString("Files", "Last", "/home/listener/Hörbücher/Kapitel 1.wav"));
    ASSERT_TRUE(pStore->WriteProfileString("Files", "Odd", "/music/a\nb\\c"));
    const std::string strText = ReadText(FilePath());
    EXPECT_NE(strText.find("Last=/home/listener/Hörbücher/Kapitel 1.wav\n"), std::string::npos) << strText;
    EXPECT_NE(strText.find("Odd=/music/a\\nb\\\\c\n"), std::string::npos) << strText;
}

TEST_F(ProfileStringTest, TrailingBlanksSurviveAnEditorThatTrimsLines)
{
    ASSERT_TRUE(Open()->WriteProfileString("Files", "Last", "/music/name with spaces  "));
    ASSERT_TRUE(Open()->WriteProfileString("Files", "Tabbed", "tab\t"));

    std::istringstream lines(ReadText(FilePath()));
    std::string strTrimmed;
    for (std::string strLine; std::getline(lines, strLine);)
        strTrimmed += strLine.substr(0, strLine.find_last_not_of(" \t") + 1) + "\n";
    WriteText(FilePath(), strTrimmed);

    const auto pStore = Open();
    EXPECT_EQ(pStore->GetProfileString("Files", "Last", ""), "/music/name with spaces  ");
    EXPECT_EQ(pStore->GetProfileString("Files", "Tabbed", ""), "tab\t");
}

TEST_F(ProfileStringTest, HandWrittenValuesFollowTheKeyFileEscapes)
{
    WriteText(FilePath(),
              "[Files]\n"
              "Escaped=\\sa\\tb\\nc\\\\d\\r\n"
              "Latin1=/music/caf\xE9.wav\n"
              "SpacesAround =  /music/x.wav\n"
              "UnknownEscape=C:\\Music\n"
              "CutEscape=ends in \\\n"
              "ShortHex=\\x4\n");
    const auto pStore = Open();
    EXPECT_EQ(pStore->GetProfileString("Files", "Escaped", "?"), " a\tb\nc\\d\r");
    EXPECT_EQ(pStore->GetProfileString("Files", "Latin1", "?"), "/music/caf\xE9.wav");
    EXPECT_EQ(pStore->GetProfileString("Files", "SpacesAround", "?"), "/music/x.wav");
    EXPECT_EQ(pStore->GetProfileString("Files", "UnknownEscape", "?"), "?");
    EXPECT_EQ(pStore->GetProfileString("Files", "CutEscape", "?"), "?");
    EXPECT_EQ(pStore->GetProfileString("Files", "ShortHex", "?"), "?");
    EXPECT_EQ(pStore->GetProfileString("Files", "Missing", "?"), "?");
}

TEST_F(ProfileStringTest, IntegersAndStringsShareEntries)
{
    const auto pStore = Open();
    ASSERT_TRUE(pStore->WriteProfileInt("Settings", "Volume", -1));
    EXPECT_EQ(pStore->GetProfileString("Settings", "Volume", ""), "4294967295");
    ASSERT_TRUE(pStore->WriteProfileString("Settings", "Volume", "12"));
    EXPECT_EQ(pStore->GetProfileInt("Settings", "Volume", 0), 12);
}

// ---------------------------------------------------------------------------
// Section and entry names

using ProfileNameTest = ProfileStoreTest;

TEST_F(ProfileNameTest, NamesTheFileCannotHoldAreRefusedAndHarmNothing)
{
    const std::vector<std::pair<std::string, std::string>> aNames = {
        {"", "Volume"},
        {"Set[tings", "Volume"},
        {"Set]tings", "Volume"},
        {"Set\ntings", "Volume"},
        {"Settings", ""},
        {"Settings", "Vol=ume"},
        {"Settings", "#Volume"},
        {"Settings", " Volume"},
        {"Settings", "Volume "},
        {"Settings", "Volume[de]"},
        {"Settings", "Vol\tume"},
        {"Settings", "Vol\nume"},
        {"Settings", std::string("Vol\0ume", 7)},
        {"Settings", "Vol\xFFume"},
    };
    const auto pStore = Open();
    ASSERT_TRUE(pStore->WriteProfileInt("Settings", "Vol", 1));
    for (const auto& names : aNames) {
        SCOPED_TRACE("section \"" + names.first + "\", entry \"" + names.second + "\"");
        EXPECT_FALSE(pStore->WriteProfileInt(names.first, names.second, 5));
        EXPECT_FALSE(pStore->WriteProfileString(names.first, names.second, "x"));
        EXPECT_EQ(pStore->GetProfileInt(names.first, names.second, 9), 9);
        EXPECT_EQ(pStore->GetProfileString(names.first, names.second, "d"), "d");
    }
    EXPECT_EQ(Open()->GetProfileInt("Settings", "Vol", 0), 1);
}

TEST_F(ProfileNameTest, NamesWithSpacesAndOtherScriptsWork)
{
    ASSERT_TRUE(Open()->WriteProfileInt("Recent Files", "File 1", 1));
    ASSERT_TRUE(Open()->WriteProfileInt("Einstellungen", "Lautstärke", 2));
    ASSERT_TRUE(Open()->WriteProfileInt("#Section", "a;b", 3));
    const auto pStore = Open();
    EXPECT_EQ(pStore->GetProfileInt("Recent Files", "File 1", 0), 1);
    EXPECT_EQ(pStore->GetProfileInt("Einstellungen", "Lautstärke", 0), 2);
    EXPECT_EQ(pStore->GetProfileInt("#Section", "a;b", 0), 3);
}

// GLib checks an Encoding key in the file's first group and refuses the whole
// file unless it says UTF-8.
TEST_F(ProfileNameTest, EncodingInTheFirstSectionIsRefusedUnlessUtf8)
{
    const auto pStore = Open();
    EXPECT_FALSE(pStore->WriteProfileString("Settings", "Encoding", "latin1"));
    ASSERT_TRUE(pStore->WriteProfileInt("Settings", "Volume", 3));
    EXPECT_FALSE(pStore->WriteProfileInt("Settings", "Encoding", 1));
    EXPECT_TRUE(pStore->WriteProfileString("Settings", "Encoding", "UTF-8"));
    EXPECT_TRUE(pStore->WriteProfileString("Output", "Encoding", "pcm16"));

    const auto pReader = Open();
    EXPECT_EQ(pReader->GetProfileInt("Settings", "Volume", 0), 3);
    EXPECT_EQ(pReader->GetProfileString("Settings", "Encoding", ""), "UTF-8");
    EXPECT_EQ(pReader->GetProfileString("Output", "Encoding", ""), "pcm16");
}

// ---------------------------------------------------------------------------
// Files written by hand

using HandWrittenProfileTest = ProfileStoreTest;

TEST_F(HandWrittenProfileTest, CommentsAndBlankLinesBreakNothingAndAreKept)
{
    WriteText(FilePath(),
              "# Settings of the player\n"
              "\n"
              "[Settings]\n"
              "# loudness, 0 to 100\n"
              "Volume=40\n"
              "\n"
              "   # indented note\n"
              "#Speed=25\n"
              "Speed=20\n"
              "\n"
              "# recent files follow\n"
              "[Files]\n"
              "Last=/music/a.wav\n");
    {
        const auto pStore = Open();
        EXPECT_EQ(pStore->GetProfileInt("Settings", "Volume", 0), 40);
        EXPECT_EQ(pStore->GetProfileInt("Settings", "Speed", 0), 20);
        EXPECT_EQ(pStore->GetProfileString("Files", "Last", ""), "/music/a.wav");
        ASSERT_TRUE(pStore->WriteProfileInt("Settings", "Volume", 41));
        ASSERT_TRUE(pStore->WriteProfileInt("Settings", "Mixing", 50));
        ASSERT_TRUE(pStore->WriteProfileString("Files", "Last", "/music/b.wav"));
    }
    const auto pStore = Open();
    EXPECT_EQ(pStore->GetProfileInt("Settings", "Volume", 0), 41);
    EXPECT_EQ(pStore->GetProfileInt("Settings", "Speed", 0), 20);
    EXPECT_EQ(pStore->GetProfileInt("Settings", "Mixing", 0), 50);
    EXPECT_EQ(pStore->GetProfileString("Files", "Last", ""), "/music/b.wav");
    const std::string strText = ReadText(FilePath());
    for (const char* strComment : {"# Settings of the player\n", "# loudness, 0 to 100\n", "   # indented note\n",
                                   "#Speed=25\n", "# recent files follow\n"})
        EXPECT_NE(strText.find(strComment), std::string::npos) << strComment << " is gone from\n" << strText;
}

TEST_F(HandWrittenProfileTest, LastOfDuplicatedKeysWinsAndDuplicatedGroupsMerge)
{
    WriteText(FilePath(),
              "[Settings]\n"
              "Volume=1\n"
              "Volume=2\n"
              "[Files]\n"
              "Last=/music/a.wav\n"
              "[Settings]\n"
              "Volume=3\n"
              "Speed=25\n");
    {
        const auto pStore = Open();
        EXPECT_EQ(pStore->GetProfileInt("Settings", "Volume", 0), 3);
        EXPECT_EQ(pStore->GetProfileInt("Settings", "Speed", 0), 25);
        EXPECT_EQ(pStore->GetProfileString("Files", "Last", ""), "/music/a.wav");
        ASSERT_TRUE(pStore->WriteProfileInt("Settings", "Volume", 9));
    }
    EXPECT_EQ(Open()->GetProfileInt("Settings", "Volume", 0), 9);
}

TEST_F(HandWrittenProfileTest, ByteOrderMarkAndWindowsLineEndsAreAccepted)
{
    WriteText(FilePath(), "\xEF\xBB\xBF[Settings]\r\nVolume = 33\r\nName=Bob\r\n");
    const auto pStore = Open();
    EXPECT_EQ(pStore->GetProfileInt("Settings", "Volume", 0), 33);
    EXPECT_EQ(pStore->GetProfileString("Settings", "Name", ""), "Bob");
}

// ---------------------------------------------------------------------------
// Damaged files

struct SDamage {
    const char* strName;
    std::string strContent;
};

// The same bytes on every run.
std::string GarbageText()
{
    std::mt19937 random(20240601);
    std::string strGarbage(4096, '\0');
    for (char& c : strGarbage)
        c = static_cast<char>(random());
    return strGarbage;
}

class DamagedProfileTest : public ProfileStoreTest, public ::testing::WithParamInterface<SDamage> {};

TEST_P(DamagedProfileTest, ReadsAsDefaultsAndTheNextWriteReplacesIt)
{
    WriteText(FilePath(), GetParam().strContent);
    {
        const auto pStore = Open();
        EXPECT_EQ(pStore->GetProfileInt("Settings", "Volume", -7), -7);
        EXPECT_EQ(pStore->GetProfileString("Settings", "Name", "none"), "none");
        ASSERT_TRUE(pStore->WriteProfileString("Settings", "Name", "fresh"));
    }
    const auto pStore = Open();
    EXPECT_EQ(pStore->GetProfileString("Settings", "Name", ""), "fresh");
    EXPECT_EQ(pStore->GetProfileInt("Settings", "Volume", -7), -7);
    EXPECT_EQ(ReadText(FilePath()), "[Settings]\nName=fresh\n");
    // Nothing is lost: a damaged file stays beside the new one.
    if (!GetParam().strContent.empty())
        EXPECT_EQ(ReadText(FilePath() + ".damaged"), GetParam().strContent);
    else
        EXPECT_FALSE(std::filesystem::exists(FilePath() + ".damaged"));
}

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedProfileTest,
    ::testing::Values(SDamage{"Empty", ""},
                      SDamage{"BinaryGarbage", GarbageText()},
                      SDamage{"ZeroBytes", std::string(1000, '\0')},
                      SDamage{"ZeroByteInAValue", std::string("[Settings]\nVolume=5\nName=ol\0d\n", 30)},
                      SDamage{"KeyBeforeAnyGroup", "Volume=5\n[Settings]\nName=old\n"},
                      SDamage{"CutGroupHeader", "[Settings]\nVolume=5\n[Fil"},
                      SDamage{"LineThatIsNoSetting", "[Settings]\nVolume=5\nName=old\nthis is not a setting\n"},
                      SDamage{"EmptyKey", "[Settings]\nVolume=5\n=old\n"},
                      SDamage{"ForeignEncoding", "[Settings]\nEncoding=ISO-8859-1\nVolume=5\n"},
                      SDamage{"ZeroInsideAGroupName", std::string("[Sett\0ings]\nVolume=5\n", 21)}),
    [](const ::testing::TestParamInfo<SDamage>& info) { return std::string(info.param.strName); });

using UnreadableProfileTest = ProfileStoreTest;

TEST_F(UnreadableProfileTest, FifoInPlaceOfTheFileNeitherBlocksNorStaysThere)
{
    std::filesystem::create_directories(Folder());
    ASSERT_EQ(::mkfifo(FilePath().c_str(), 0600), 0);
    {
        const auto pStore = Open();
        EXPECT_EQ(pStore->GetProfileInt("Settings", "Volume", -7), -7);
        ASSERT_TRUE(pStore->WriteProfileInt("Settings", "Volume", 8));
    }
    struct stat st {};
    ASSERT_EQ(::lstat(FilePath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(Open()->GetProfileInt("Settings", "Volume", 0), 8);
}

// ---------------------------------------------------------------------------
// Batches

class ProfileBatchTest : public ProfileStoreTest {
protected:
    void SetUp() override
    {
        const auto pStore = Open();
        ASSERT_TRUE(pStore->WriteProfileInt("Settings", "Volume", 1));
        m_pChanges = std::make_unique<CFileChangeCounter>(FilePath());
        ASSERT_TRUE(m_pChanges->IsWatching());
    }

    std::unique_ptr<CFileChangeCounter> m_pChanges;
};

TEST_F(ProfileBatchTest, EachWriteOutsideABatchReplacesTheFile)
{
    const auto pStore = Open();
    ASSERT_TRUE(pStore->WriteProfileInt("Settings", "Volume", 2));
    ASSERT_TRUE(pStore->WriteProfileInt("Settings", "Speed", 3));
    ASSERT_TRUE(pStore->WriteProfileString("Files", "Last", "/music/a.wav"));
    EXPECT_EQ(m_pChanges->TakeCount(), 3);
}

TEST_F(ProfileBatchTest, BatchWritesTheFileOnceAtItsEnd)
{
    const auto pStore = Open();
    struct stat stBefore {};
    ASSERT_EQ(::stat(FilePath().c_str(), &stBefore), 0);

    pStore->BeginBatch();
    EXPECT_TRUE(pStore->WriteProfileInt("Settings", "Volume", 2));
    EXPECT_TRUE(pStore->WriteProfileInt("Settings", "Speed", 3));
    EXPECT_TRUE(pStore->WriteProfileString("Files", "Last", "/music/a.wav"));
    EXPECT_EQ(pStore->GetProfileInt("Settings", "Volume", 0), 2);
    EXPECT_EQ(m_pChanges->TakeCount(), 0);
    EXPECT_EQ(Open()->GetProfileInt("Settings", "Volume", 0), 1);

    EXPECT_TRUE(pStore->EndBatch());
    EXPECT_EQ(m_pChanges->TakeCount(), 1);
    struct stat stAfter {};
    ASSERT_EQ(::stat(FilePath().c_str(), &stAfter), 0);
    EXPECT_NE(stAfter.st_ino, stBefore.st_ino);
    const auto pReader = Open();
    EXPECT_EQ(pReader->GetProfileInt("Settings", "Volume", 0), 2);
    EXPECT_EQ(pReader->GetProfileInt("Settings", "Speed", 0), 3);
    EXPECT_EQ(pReader->GetProfileString("Files", "Last", ""), "/music/a.wav");
}

TEST_F(ProfileBatchTest, NestedBatchesSaveOnlyAtTheOutermostEnd)
{
    const auto pStore = Open();
    pStore->BeginBatch();
    pStore->BeginBatch();
    EXPECT_TRUE(pStore->WriteProfileInt("Settings", "Volume", 2));
    EXPECT_TRUE(pStore->EndBatch());
    EXPECT_EQ(m_pChanges->TakeCount(), 0);
    EXPECT_TRUE(pStore->WriteProfileInt("Settings", "Speed", 3));
    EXPECT_EQ(m_pChanges->TakeCount(), 0);
    EXPECT_TRUE(pStore->EndBatch());
    EXPECT_EQ(m_pChanges->TakeCount(), 1);

    const auto pReader = Open();
    EXPECT_EQ(pReader->GetProfileInt("Settings", "Volume", 0), 2);
    EXPECT_EQ(pReader->GetProfileInt("Settings", "Speed", 0), 3);
}

TEST_F(ProfileBatchTest, ScopedBatchSavesWhenItEnds)
{
    const auto pStore = Open();
    {
        CProfileBatch batch(*pStore);
        pStore->WriteProfileInt("Settings", "Volume", 2);
        pStore->WriteProfileInt("Settings", "Speed", 3);
        EXPECT_EQ(m_pChanges->TakeCount(), 0);
    }
    EXPECT_EQ(m_pChanges->TakeCount(), 1);
    EXPECT_EQ(Open()->GetProfileInt("Settings", "Speed", 0), 3);
}

TEST_F(ProfileBatchTest, WritesThatChangeNothingLeaveTheFileAlone)
{
    const auto pStore = Open();
    EXPECT_TRUE(pStore->WriteProfileInt("Settings", "Volume", 1));
    pStore->BeginBatch();
    EXPECT_TRUE(pStore->WriteProfileInt("Settings", "Volume", 1));
    EXPECT_TRUE(pStore->EndBatch());
    EXPECT_EQ(m_pChanges->TakeCount(), 0);
}

TEST_F(ProfileBatchTest, UnmatchedEndBatchOpensNothing)
{
    const auto pStore = Open();
    EXPECT_TRUE(pStore->EndBatch());
    EXPECT_TRUE(pStore->WriteProfileInt("Settings", "Volume", 2));
    EXPECT_EQ(m_pChanges->TakeCount(), 1);
}

// ---------------------------------------------------------------------------
// Failed writes

using ProfileWriteFailureTest = ProfileStoreTest;

TEST_F(ProfileWriteFailureTest, FileInTheWayOfTheFolderFailsTheWriteUntilItIsGone)
{
    WriteText(Folder(), "not a folder");
    const auto pStore = Open();
    EXPECT_FALSE(pStore->WriteProfileInt("Settings", "Volume", 2));
    EXPECT_EQ(pStore->GetProfileInt("Settings", "Volume", 0), 2);

    ASSERT_EQ(::unlink(Folder().c_str()), 0);
    EXPECT_TRUE(pStore->WriteProfileInt("Settings", "Speed", 3));
    const auto pReader = Open();
    EXPECT_EQ(pReader->GetProfileInt("Settings", "Volume", 0), 2);
    EXPECT_EQ(pReader->GetProfileInt("Settings", "Speed", 0), 3);
}

TEST_F(ProfileWriteFailureTest, FailedBatchEndIsRetriedByTheNextOne)
{
    WriteText(Folder(), "not a folder");
    const auto pStore = Open();
    pStore->BeginBatch();
    EXPECT_TRUE(pStore->WriteProfileInt("Settings", "Volume", 2));
    EXPECT_FALSE(pStore->EndBatch());

    ASSERT_EQ(::unlink(Folder().c_str()), 0);
    pStore->BeginBatch();
    EXPECT_TRUE(pStore->EndBatch());
    EXPECT_EQ(Open()->GetProfileInt("Settings", "Volume", 0), 2);
}

TEST_F(ProfileWriteFailureTest, FolderInPlaceOfTheFileReadsAsDefaultsAndFailsWrites)
{
    std::filesystem::create_directories(FilePath());
    const auto pStore = Open();
    EXPECT_EQ(pStore->GetProfileInt("Settings", "Volume", -7), -7);
    EXPECT_FALSE(pStore->WriteProfileInt("Settings", "Volume", 2));
    EXPECT_EQ(pStore->GetProfileInt("Settings", "Volume", 0), 2);
}

// ---------------------------------------------------------------------------
// Kills in the middle of a save

class ProfileCrashTest : public ProfileStoreTest {
protected:
    static constexpr int kEntries = 200;

    static std::string Entry(char chSet, int i)
    {
        return "/home/listener/Lectures " + std::string(1, chSet) + "/lecture " + std::to_string(i) + ".wav";
    }

    // The whole playlist of one set, saved once.
    static bool SaveSet(CProfileStore& store, char chSet)
    {
        store.BeginBatch();
        store.WriteProfileString("Playlist", "Set", std::string(1, chSet));
        store.WriteProfileInt("Playlist", "Count", chSet == 'A' ? kEntries : -kEntries);
        for (int i = 0; i < kEntries; ++i)
            store.WriteProfileString("Playlist", "File" + std::to_string(i), Entry(chSet, i));
        return store.EndBatch();
    }

    // 'A' or 'B' when the file holds exactly that set, '?' otherwise.
    char SetOnDisk() const
    {
        const auto pStore = Open();
        const std::string strSet = pStore->GetProfileString("Playlist", "Set", "");
        if (strSet != "A" && strSet != "B")
            return '?';
        const char chSet = strSet[0];
        if (pStore->GetProfileInt("Playlist", "Count", 0) != (chSet == 'A' ? kEntries : -kEntries))
            return '?';
        for (int i = 0; i < kEntries; ++i) {
            if (pStore->GetProfileString("Playlist", "File" + std::to_string(i), "") != Entry(chSet, i))
                return '?';
        }
        return chSet;
    }

    // A child that saves set chFirst, reports that on hReady, then saves the
    // two sets in turn until it is killed.
    pid_t StartSavingChild(int hReady, char chFirst) const
    {
        const pid_t pid = ::fork();
        if (pid != 0)
            return pid;
        CProfileStore store;
        store.SetLocation(kKey, kApp);
        char chSet = chFirst;
        if (!SaveSet(store, chSet) || ::write(hReady, "r", 1) != 1)
            ::_exit(2);
        for (;;) {
            chSet = chSet == 'A' ? 'B' : 'A';
            if (!SaveSet(store, chSet))
                ::_exit(3);
        }
    }
};

// Kills and reaps the child if the test leaves early.
class CChildGuard {
public:
    explicit CChildGuard(pid_t pid)
        : m_pid(pid)
    {
    }
    ~CChildGuard()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    CChildGuard(const CChildGuard&) = delete;
    CChildGuard& operator=(const CChildGuard&) = delete;

    // Kills the child now and gives its wait status.
    int Kill()
    {
        int nStatus = 0;
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, &nStatus, 0);
        m_pid = -1;
        return nStatus;
    }

private:
    pid_t m_pid;
};

TEST_F(ProfileCrashTest, KillDuringSavesLeavesOneCompleteSet)
{
    ASSERT_TRUE(SaveSet(*Open(), 'A'));
    const unsigned nSeed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(nSeed));
    std::mt19937 random(nSeed);
    std::uniform_int_distribution<int> delayMicroseconds(0, 20000);
    int nSeenA = 0;
    int nSeenB = 0;

    for (int nRound = 0; nRound < 30; ++nRound) {
        SCOPED_TRACE("round " + std::to_string(nRound));
        int ahPipe[2];
        ASSERT_EQ(::pipe2(ahPipe, O_CLOEXEC), 0);
        const pid_t pid = StartSavingChild(ahPipe[1], nRound % 2 == 0 ? 'B' : 'A');
        ASSERT_GT(pid, 0);
        CChildGuard child(pid);
        ::close(ahPipe[1]);

        pollfd ready{ahPipe[0], POLLIN, 0};
        char chByte = 0;
        const bool bReady = ::poll(&ready, 1, 10000) == 1 && ::read(ahPipe[0], &chByte, 1) == 1;
        ::close(ahPipe[0]);
        ASSERT_TRUE(bReady) << "the child did not save";

        std::this_thread::sleep_for(std::chrono::microseconds(delayMicroseconds(random)));
        const int nStatus = child.Kill();
        ASSERT_TRUE(WIFSIGNALED(nStatus) && WTERMSIG(nStatus) == SIGKILL) << "the child stopped by itself";

        const char chSet = SetOnDisk();
        ASSERT_NE(chSet, '?') << "the file holds neither complete set:\n" << ReadText(FilePath()).substr(0, 2000);
        (chSet == 'A' ? nSeenA : nSeenB)++;
    }
    // Both sets reached the disk, so the kills met a file that kept changing.
    EXPECT_GT(nSeenA, 0);
    EXPECT_GT(nSeenB, 0);
}

// ---------------------------------------------------------------------------
// Damaged copies, files that cannot be read or written, links, leftovers

class ProfileFileTest : public ProfileStoreTest {
protected:
    std::vector<std::string> FolderNames(const std::string& strFolder) const
    {
        std::vector<std::string> astrNames;
        for (const auto& entry : std::filesystem::directory_iterator(strFolder))
            astrNames.push_back(entry.path().filename().string());
        std::sort(astrNames.begin(), astrNames.end());
        return astrNames;
    }
    // Changes when anything replaces or changes the file.
    std::string Identity() const
    {
        struct stat st {};
        EXPECT_EQ(::lstat(FilePath().c_str(), &st), 0);
        return std::to_string(st.st_ino) + " " + std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " "
            + std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
    }
};

TEST_F(ProfileFileTest, EachDamagedFileIsKeptUnderANameOfItsOwn)
{
    const std::string astrDamaged[] = {"first damage\n", "second damage\n"};
    const std::string astrCopies[] = {FilePath() + ".damaged", FilePath() + ".damaged.2"};
    for (size_t i = 0; i < 2; ++i) {
        WriteText(FilePath(), astrDamaged[i]);
        const auto pStore = Open();
        EXPECT_EQ(pStore->GetFile().GetDamagedCopy(), astrCopies[i]);
        ASSERT_TRUE(pStore->WriteProfileInt("Settings", "Volume", 1));
        EXPECT_EQ(pStore->GetFile().GetDamagedCopy(), "");
    }
    for (size_t i = 0; i < 2; ++i)
        EXPECT_EQ(ReadText(astrCopies[i]), astrDamaged[i]);
}

struct SReadOnly {
    const char* strName;
    bool bAsNobody;
    void (*pfnPrepare)(const std::string& strFile);
    // The system's reason after the file's name; empty for a session
    // without the single-instance lock.
    const char* strReason;
};

void PrintTo(const SReadOnly& readOnly, std::ostream* pStream)
{
    *pStream << readOnly.strName;
}

class ReadOnlyProfileTest : public ProfileFileTest, public ::testing::WithParamInterface<SReadOnly> {};

TEST_P(ReadOnlyProfileTest, WritesFailWithTheReasonAndTouchNothing)
{
    if (GetParam().bAsNobody && RanAgainAsNobody())
        return;
    WriteText(FilePath(), "[Settings]\nVolume=5\n");
    const std::string strLeftover = Folder() + "/." + kApp + ".conf.tmp-x1y2z3";
    WriteText(strLeftover, "left by a kill");
    GetParam().pfnPrepare(FilePath());
    const std::string strIdentity = Identity();
    const bool bFileReason = *GetParam().strReason != '\0';
    const std::string strReason = bFileReason ? FilePath() + ": " + GetParam().strReason : "lock: taken";
    CProfileStore store;
    if (!bFileReason)
        store.SetReadOnly(strReason);
    store.SetLocation(kKey, kApp);

    EXPECT_EQ(store.GetFile().GetReadOnlyReason(), strReason);
    EXPECT_EQ(store.GetProfileInt("Settings", "Volume", -7), bFileReason ? -7 : 5);
    EXPECT_FALSE(store.WriteProfileInt("Settings", "Volume", 9));
    EXPECT_EQ(store.GetFile().GetError(), strReason);
    EXPECT_EQ(store.GetProfileInt("Settings", "Volume", 0), 9);
    EXPECT_EQ(Identity(), strIdentity);
    EXPECT_EQ(FolderNames(Folder()).size(), 2u);
    EXPECT_TRUE(Exists(strLeftover));
}

INSTANTIATE_TEST_SUITE_P(
    Files, ReadOnlyProfileTest,
    ::testing::Values(
        SReadOnly{"WithoutReadPermission", true,
                  [](const std::string& strFile) { EXPECT_EQ(::chmod(strFile.c_str(), 0200), 0); },
                  "Permission denied"},
        SReadOnly{"LinkLoop", false,
                  [](const std::string& strFile) {
                      EXPECT_EQ(::unlink(strFile.c_str()), 0);
                      EXPECT_EQ(::symlink(strFile.c_str(), strFile.c_str()), 0);
                  },
                  "Too many levels of symbolic links"},
        SReadOnly{"WithoutTheInstanceLock", false, [](const std::string&) {}, ""}),
    [](const ::testing::TestParamInfo<SReadOnly>& info) { return std::string(info.param.strName); });

// A full disk, as a limit of the file size makes it.
void LimitFileSize(rlim_t nBytes)
{
    rlimit limit {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    limit.rlim_cur = nBytes == RLIM_INFINITY ? limit.rlim_max : nBytes;
    ::signal(SIGXFSZ, nBytes == RLIM_INFINITY ? SIG_DFL : SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
}

struct SSaveFailure {
    const char* strName;
    bool bAsNobody;
    const char* strReason;
    void (*pfnBreak)(const std::string& strFile);
    void (*pfnRepair)(const std::string& strFile);
};

void PrintTo(const SSaveFailure& failure, std::ostream* pStream)
{
    *pStream << failure.strName;
}

class SaveFailureProfileTest : public ProfileFileTest, public ::testing::WithParamInterface<SSaveFailure> {};

TEST_P(SaveFailureProfileTest, FailsNamingTheFileAndTheNextWriteRetries)
{
    if (GetParam().bAsNobody && RanAgainAsNobody())
        return;
    const auto pStore = Open();
    ASSERT_TRUE(pStore->WriteProfileInt("Settings", "Volume", 1));
    GetParam().pfnBreak(FilePath());
    const std::string strIdentity = Identity();
    const bool bWritten = pStore->WriteProfileInt("Settings", "Volume", 2);
    const std::string strIdentityAfter = Identity();
    const std::vector<std::string> astrNames = FolderNames(Folder());
    GetParam().pfnRepair(FilePath());

    EXPECT_FALSE(bWritten);
    EXPECT_EQ(pStore->GetFile().GetError(), FilePath() + ": " + GetParam().strReason);
    EXPECT_EQ(pStore->GetProfileInt("Settings", "Volume", 0), 2);
    EXPECT_EQ(strIdentityAfter, strIdentity);
    EXPECT_EQ(astrNames, std::vector<std::string>{std::string(kApp) + ".conf"});
    EXPECT_EQ(Open()->GetProfileInt("Settings", "Volume", 0), 1);

    EXPECT_TRUE(pStore->WriteProfileInt("Settings", "Speed", 3));
    const auto pReader = Open();
    EXPECT_EQ(pReader->GetProfileInt("Settings", "Volume", 0), 2);
    EXPECT_EQ(pReader->GetProfileInt("Settings", "Speed", 0), 3);
}

std::string FolderOf(const std::string& strFile)
{
    return std::filesystem::path(strFile).parent_path().string();
}

INSTANTIATE_TEST_SUITE_P(
    Files, SaveFailureProfileTest,
    ::testing::Values(
        SSaveFailure{"ReadOnlyFolder", true, "Permission denied",
                     [](const std::string& strFile) { EXPECT_EQ(::chmod(FolderOf(strFile).c_str(), 0500), 0); },
                     [](const std::string& strFile) { EXPECT_EQ(::chmod(FolderOf(strFile).c_str(), 0700), 0); }},
        SSaveFailure{"ReadOnlyFile", false, "Permission denied",
                     [](const std::string& strFile) { EXPECT_EQ(::chmod(strFile.c_str(), 0444), 0); },
                     [](const std::string& strFile) { EXPECT_EQ(::chmod(strFile.c_str(), 0600), 0); }},
        SSaveFailure{"FullDisk", false, "File too large", [](const std::string&) { LimitFileSize(8); },
                     [](const std::string&) { LimitFileSize(RLIM_INFINITY); }}),
    [](const ::testing::TestParamInfo<SSaveFailure>& info) { return std::string(info.param.strName); });

TEST_F(ProfileFileTest, ALinkedFileIsWrittenThroughTheLinkAndKeepsItsMode)
{
    const std::string strTarget = m_dir.Path() + "/dotfiles/player.conf";
    WriteText(strTarget, "[Settings]\nVolume=1\n");
    ASSERT_EQ(::chmod(strTarget.c_str(), 0640), 0);
    std::filesystem::create_directories(Folder());
    ASSERT_EQ(::symlink("../../dotfiles/player.conf", FilePath().c_str()), 0);

    ASSERT_TRUE(Open()->WriteProfileInt("Settings", "Volume", 2));
    struct stat st {};
    ASSERT_EQ(::lstat(FilePath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(strTarget.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadText(strTarget), "[Settings]\nVolume=2\n");
    EXPECT_EQ(FolderNames(m_dir.Path() + "/dotfiles"), std::vector<std::string>{"player.conf"});
}

TEST_F(ProfileFileTest, OpeningRemovesWhatInterruptedSavesLeftButNoSaveUnderWay)
{
    const std::string strPrefix = Folder() + "/." + kApp + ".conf.tmp-";
    const std::string strLeftover = strPrefix + "AAAAAA";
    const std::string strUnderWay = strPrefix + "BBBBBB";
    // The user's own files that only look alike.
    const std::string astrAlike[] = {strPrefix + "CCCCCCC", Folder() + "/" + kApp + ".conf.tmp-DDDDDD",
                                     Folder() + "/.Other.conf.tmp-EEEEEE"};
    for (const std::string& strPath : {strLeftover, strUnderWay, astrAlike[0], astrAlike[1], astrAlike[2]})
        WriteText(strPath, "x");
    // Another process saving holds its temporary file's lock.
    int ahPipe[2];
    ASSERT_EQ(::pipe2(ahPipe, O_CLOEXEC), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int hFile = ::open(strUnderWay.c_str(), O_RDWR);
        if (hFile < 0 || ::flock(hFile, LOCK_EX) != 0 || ::write(ahPipe[1], "l", 1) != 1)
            ::_exit(1);
        for (;;)
            ::pause();
    }
    ASSERT_GT(pid, 0);
    CChildGuard child(pid);
    ::close(ahPipe[1]);
    char chLocked = 0;
    ASSERT_EQ(::read(ahPipe[0], &chLocked, 1), 1);
    ::close(ahPipe[0]);

    Open();
    EXPECT_FALSE(Exists(strLeftover));
    EXPECT_TRUE(Exists(strUnderWay));
    for (const std::string& strPath : astrAlike)
        EXPECT_TRUE(Exists(strPath)) << strPath;
    child.Kill();
    Open();
    EXPECT_FALSE(Exists(strUnderWay));
}

} // namespace
