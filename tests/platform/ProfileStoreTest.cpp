// The settings key file as it is read and written: where it lives, how
// integers and strings come back, the names it can hold, and files written
// by hand.
#include "ProfileStoreFixture.h"

#include <climits>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

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
    CEnvironmentOverride home("HOME", strHome.c_str());
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
        CEnvironmentOverride home("HOME", strHome);
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

} // namespace
