// velofon render and velofon play given inputs that are cut short, that
// shrink while they play, that cannot be read, or that are no files at all:
// each is rendered as far as it goes or skipped with its reason, and no run
// crashes or hangs.
#include "../ChildEnvironment.h"
#include "../WavBytes.h"
#include "engine/ReferenceRender.h"
#include "engine/SpeedEngine.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Far longer than any run here takes; a run still going then has hung.
constexpr auto kHangLimit = std::chrono::seconds(120);
// The status of a child that could not become the program.
constexpr int kCannotStart = 127;
constexpr uid_t kNobody = 65534;

// The frames between the first and the last that are not silent.
Bytes WithoutOuterSilence(const Bytes& ab)
{
    auto isSilent = [&ab](size_t nFrame) {
        return std::all_of(ab.begin() + 4 * nFrame, ab.begin() + 4 * nFrame + 4, [](uint8_t b) { return b == 0; });
    };
    size_t nFirst = 0;
    size_t nEnd = ab.size() / 4;
    while (nFirst < nEnd && isSilent(nFirst))
        ++nFirst;
    while (nEnd > nFirst && isSilent(nEnd - 1))
        --nEnd;
    return Bytes(ab.begin() + 4 * nFirst, ab.begin() + 4 * nEnd);
}

bool CanOpen(const std::string& strPath)
{
    const int hFile = ::open(strPath.c_str(), O_RDONLY | O_NONBLOCK);
    if (hFile >= 0)
        ::close(hFile);
    return hFile >= 0;
}

size_t CountOf(const std::string& strText, const std::string& strPart)
{
    size_t nCount = 0;
    for (size_t nAt = strText.find(strPart); nAt != std::string::npos; nAt = strText.find(strPart, nAt + 1))
        ++nCount;
    return nCount;
}

// What the engine gives for a file at 4.0x and the default levels.
Bytes RenderAtSpeed4(const Bytes& abFile)
{
    CTempDir dir;
    auto pEngine = std::make_unique<CSpeedEngine>(4.0);
    pEngine->m_nMixingGain = 10;
    pEngine->m_bAlpha = 0;
    Bytes abAll;
    if (!pEngine->Open(dir.Write("r.wav", abFile), 4.0))
        return abAll;
    pEngine->Seek(0);
    Bytes abBuffer(30000);
    while (const uint32_t n = pEngine->Fill(abBuffer.data(), 30000))
        abAll.insert(abAll.end(), abBuffer.begin(), abBuffer.begin() + n);
    return abAll;
}

class BadInputCommandTest : public ::testing::Test {
protected:
    std::string Path(const std::string& strName) const { return m_dir.Path() + "/" + strName; }

    // Starts velofon with the arguments and the SDL driver given, standard
    // error into a file; as the user nobody when bAsNobody.
    pid_t Spawn(const std::vector<std::string>& astrArgs, const std::string& strDriver, bool bAsNobody = false)
    {
        CChildEnvironment environment({ "SDL_AUDIODRIVER=" + strDriver, "SDL_DISKAUDIOFILE=" + Path("device.raw") });
        std::vector<std::string> astrAll = { VELOFON_EXE };
        astrAll.insert(astrAll.end(), astrArgs.begin(), astrArgs.end());
        std::vector<char*> apArgs = ArgumentPointers(astrAll);
        const std::string strErr = Path("stderr.txt");
        const pid_t nPid = ::fork();
        if (nPid == 0) {
            // Only system calls between fork and exec.
            const int hErr = ::open(strErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            const int hIn = ::open("/dev/null", O_RDONLY);
            if (hErr < 0 || hIn < 0 || ::dup2(hErr, STDERR_FILENO) < 0 || ::dup2(hIn, STDIN_FILENO) < 0)
                ::_exit(kCannotStart);
            if (bAsNobody && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
                ::_exit(kCannotStart);
            ::execve(apArgs[0], apArgs.data(), environment.Get());
            ::_exit(kCannotStart);
        }
        EXPECT_GT(nPid, 0);
        return nPid;
    }

    // The exit status, -1 for a run that hung (it is killed) or crashed;
    // keeps standard error in m_strErr.
    int WaitFor(pid_t nPid)
    {
        int nStatus = 0;
        const auto deadline = Clock::now() + kHangLimit;
        pid_t nDone = 0;
        while ((nDone = ::waitpid(nPid, &nStatus, WNOHANG)) == 0 && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (nDone == 0) {
            ::kill(nPid, SIGKILL);
            ::waitpid(nPid, &nStatus, 0);
            ADD_FAILURE() << "velofon hung";
        }
        const Bytes abErr = ReadWholeFile(Path("stderr.txt"));
        m_strErr.assign(abErr.begin(), abErr.end());
        return nDone == nPid && WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    }

    int Run(const std::vector<std::string>& astrArgs, const std::string& strDriver = "dummy", bool bAsNobody = false)
    {
        return WaitFor(Spawn(astrArgs, strDriver, bAsNobody));
    }

    std::string Sound(const std::string& strName, uint32_t nRate, double dSeconds)
    {
        const size_t nBytes = static_cast<size_t>(dSeconds * nRate) * 2;
        Bytes ab(nBytes);
        for (size_t i = 0; i < nBytes; ++i)
            ab[i] = static_cast<uint8_t>((i * i + 5 * i) >> 6);
        return m_dir.Write(strName, MakeWav(1, nRate, 2, ab));
    }

    CTempDir m_dir;
    std::string m_strErr;
};

TEST_F(BadInputCommandTest, EveryPrefixOfAFileIsRenderedAsFarAsItGoesOrSkippedWithItsReason)
{
    struct SLayout {
        uint16_t nChannels;
        uint16_t nBlockAlign;
        uint32_t nRate;
        size_t nListBytes;
    };
    const std::string strSkipping = "velofon: skipping ";
    for (const SLayout& layout : { SLayout { 1, 2, 8000, 0 }, SLayout { 2, 4, 11025, 20 } }) {
        Bytes abData(600);
        for (size_t i = 0; i < abData.size(); ++i)
            abData[i] = static_cast<uint8_t>(i * 37 + (i >> 3));
        Bytes abFile = MakeWav(layout.nChannels, layout.nRate, layout.nBlockAlign, abData);
        InsertListChunk(abFile, layout.nListBytes, 'x');
        const size_t nDataOffset = abFile.size() - abData.size();

        std::vector<std::string> astrArgs = { "render", "--speed", "4", "--mixing", "50", "--raw", "-o", Path("out.raw") };
        for (size_t nLength = 0; nLength <= abFile.size(); ++nLength) {
            char strName[32];
            std::snprintf(strName, sizeof strName, "p%05zu.wav", nLength);
            astrArgs.push_back(m_dir.Write(strName, Bytes(abFile.begin(), abFile.begin() + nLength)));
        }
        EXPECT_EQ(Run(astrArgs), 1);

        SReferenceSettings settings;
        settings.dSpeed = 4.0;
        CReferenceRender reference;
        Bytes abExpected;
        for (size_t nLength = 0; nLength <= abFile.size(); ++nLength) {
            const std::string& strPath = astrArgs[8 + nLength];
            const std::string strLine = strSkipping + strPath + ": ";
            if (nLength < 36) {
                EXPECT_NE(m_strErr.find(strLine + "too short for a WAV header\n"), std::string::npos) << strPath;
            } else if (nLength < nDataOffset) {
                EXPECT_NE(m_strErr.find(strLine + "no data chunk in the first 4096 bytes\n"), std::string::npos)
                    << strPath;
            } else {
                EXPECT_EQ(m_strErr.find(strLine), std::string::npos) << strPath << " is skipped";
                const size_t nWhole = (nLength - nDataOffset) / layout.nBlockAlign * layout.nBlockAlign;
                const Bytes abClean = MakeWav(layout.nChannels, layout.nRate, layout.nBlockAlign,
                    Bytes(abData.begin(), abData.begin() + static_cast<std::ptrdiff_t>(nWhole)));
                const Bytes abOne = reference.Render(abClean, settings);
                abExpected.insert(abExpected.end(), abOne.begin(), abOne.end());
            }
        }
        EXPECT_EQ(CountOf(m_strErr, strSkipping), nDataOffset) << "one line for each file skipped";
        EXPECT_TRUE(ReadWholeFile(Path("out.raw")) == abExpected);
    }
}

TEST_F(BadInputCommandTest, SizeFieldsOfZeroOrAllOnesAreRenderedAsTheDataIs)
{
    const std::string strClean = Sound("clean.wav", 22050, 1.0);
    const Bytes abClean = ReadWholeFile(strClean);
    std::vector<std::string> astrInputs;
    for (size_t nField : { 4u, 16u }) {
        for (uint32_t nValue : { 0u, 0xFFFFFFFFu }) {
            Bytes ab = abClean;
            PutU32(ab, nField, nValue);
            astrInputs.push_back(m_dir.Write("f" + std::to_string(nField) + "-" + std::to_string(nValue) + ".wav", ab));
        }
    }
    // A data size of 0, as a recorder that died leaves it, and one larger
    // than the file both run to the file's end.
    for (uint32_t nDataSize : { 0u, 0x7FFFFFFFu }) {
        Bytes ab = abClean;
        PutU32(ab, 40, nDataSize);
        astrInputs.push_back(m_dir.Write("data-" + std::to_string(nDataSize) + ".wav", ab));
    }

    std::vector<std::string> astrArgs = { "render", "--raw", "-o", Path("out.raw") };
    astrArgs.insert(astrArgs.end(), astrInputs.begin(), astrInputs.end());
    EXPECT_EQ(Run(astrArgs), 0) << m_strErr;
    EXPECT_EQ(m_strErr.find("skipping"), std::string::npos) << m_strErr;
    CReferenceRender reference;
    const Bytes abOne = reference.Render(abClean, SReferenceSettings());
    Bytes abExpected;
    for (size_t i = 0; i < astrInputs.size(); ++i)
        abExpected.insert(abExpected.end(), abOne.begin(), abOne.end());
    EXPECT_TRUE(ReadWholeFile(Path("out.raw")) == abExpected);
}

TEST_F(BadInputCommandTest, PlayOfAFileThatShrinksEndsWithWhatWasRead)
{
    const std::string strLong = Sound("long.wav", 44100, 40.0);
    const Bytes abFile = ReadWholeFile(strLong);
    const std::string strDevice = Path("device.raw");
    const pid_t nPid = Spawn({ "play", "--speed", "4", strLong }, "disk");
    // Once sound reaches the device, only the header is left of the file.
    const auto deadline = Clock::now() + kHangLimit;
    while (Clock::now() < deadline && WithoutOuterSilence(ReadWholeFile(strDevice)).size() < 8000)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(::truncate(strLong.c_str(), 44), 0);
    EXPECT_EQ(WaitFor(nPid), 0) << m_strErr;
    EXPECT_EQ(m_strErr.find("skipping"), std::string::npos) << m_strErr;

    // The reader takes whole segments (2004 samples at 44100 Hz and 4.0x),
    // and each gives a hop (501 frames) of output. What was played is what
    // the file held up to where the reader had got: a whole number of
    // segments near the number of hops heard.
    const Bytes abPlayed = WithoutOuterSilence(ReadWholeFile(strDevice));
    ASSERT_GE(abPlayed.size(), 8000u);
    constexpr size_t kSegmentBytes = 2 * 2004;
    constexpr size_t kHopBytes = 4 * 501;
    const size_t nDataBytes = abFile.size() - 44;
    const size_t nGuess = abPlayed.size() / kHopBytes;
    size_t nReadBytes = 0;
    for (size_t n = nGuess > 12 ? nGuess - 12 : 1; n <= nGuess + 4 && n * kSegmentBytes <= nDataBytes; ++n) {
        const Bytes abHeld(abFile.begin() + 44, abFile.begin() + 44 + static_cast<std::ptrdiff_t>(n * kSegmentBytes));
        if (WithoutOuterSilence(RenderAtSpeed4(MakeWav(1, 44100, 2, abHeld))) == abPlayed) {
            nReadBytes = n * kSegmentBytes;
            break;
        }
    }
    EXPECT_GT(nReadBytes, 0u) << "what was played is not the start of the file; " << abPlayed.size() << " bytes";
    EXPECT_LT(nReadBytes, nDataBytes) << "the reader had not got to the end";
}

TEST_F(BadInputCommandTest, AFileWithoutReadPermissionIsSkippedWithItsReason)
{
    const std::string strA = Sound("a.wav", 8000, 0.5);
    const std::string strB = Sound("b.wav", 8000, 0.5);
    const std::string strC = Sound("c.wav", 8000, 0.5);
    ASSERT_EQ(::chmod(strB.c_str(), 0), 0);
    // Root opens the file whatever its mode; the command then runs as nobody,
    // which needs its way to the files and a place for the output.
    const bool bAsNobody = CanOpen(strB);
    if (bAsNobody) {
        ASSERT_EQ(::chmod(m_dir.Path().c_str(), 0777), 0);
        for (const std::string& strPath : { strA, strC })
            ASSERT_EQ(::chmod(strPath.c_str(), 0644), 0);
    }
    const std::string strReason = "velofon: skipping " + strB + ": cannot be opened (Permission denied)\n";
    for (const std::string strCommand : { "play", "render" }) {
        std::vector<std::string> astrArgs = { strCommand, strA, strB, strC };
        if (strCommand == "render")
            astrArgs.insert(astrArgs.begin() + 1, { "--raw", "-o", Path("out.raw") });
        const int nStatus = Run(astrArgs, "dummy", bAsNobody);
        if (bAsNobody && nStatus == kCannotStart)
            GTEST_SKIP() << "root reads files whatever their mode, and cannot run the command as another user";
        EXPECT_EQ(nStatus, 1) << strCommand << ": " << m_strErr;
        EXPECT_NE(m_strErr.find(strReason), std::string::npos) << strCommand << ": " << m_strErr;
        EXPECT_EQ(CountOf(m_strErr, "skipping"), 1u) << strCommand << ": " << m_strErr;
    }
    CReferenceRender reference;
    Bytes abExpected = reference.Render(ReadWholeFile(strA), SReferenceSettings());
    const Bytes abC = reference.Render(ReadWholeFile(strC), SReferenceSettings());
    abExpected.insert(abExpected.end(), abC.begin(), abC.end());
    EXPECT_TRUE(ReadWholeFile(Path("out.raw")) == abExpected);
}

TEST_F(BadInputCommandTest, AFolderAndAFifoNamedLikeWavFilesAreSkippedWithoutBlocking)
{
    const std::string strFolder = Path("folder.wav");
    const std::string strFifo = Path("fifo.wav");
    ASSERT_EQ(::mkdir(strFolder.c_str(), 0700), 0);
    ASSERT_EQ(::mkfifo(strFifo.c_str(), 0600), 0);
    const std::string strGood = Sound("good.wav", 8000, 0.5);
    for (const std::string strCommand : { "play", "render" }) {
        std::vector<std::string> astrArgs = { strCommand, strFifo, strFolder, strGood };
        if (strCommand == "render")
            astrArgs.insert(astrArgs.begin() + 1, { "--raw", "-o", Path("out.raw") });
        EXPECT_EQ(Run(astrArgs), 1) << strCommand << ": " << m_strErr;
        for (const std::string& strPath : { strFifo, strFolder }) {
            EXPECT_NE(m_strErr.find("velofon: skipping " + strPath + ": not a regular file\n"), std::string::npos)
                << strCommand << ": " << m_strErr;
        }
        EXPECT_EQ(CountOf(m_strErr, "skipping"), 2u) << strCommand << ": " << m_strErr;
    }
    EXPECT_TRUE(ReadWholeFile(Path("out.raw")) == CReferenceRender().Render(ReadWholeFile(strGood), SReferenceSettings()));
}

// A file renamed over such an output would replace the device or the FIFO.
TEST_F(BadInputCommandTest, AnOutputThatIsADeviceOrAFifoIsWrittenInPlace)
{
    const std::string strIn = Sound("in.wav", 8000, 1.0);
    const std::string strDevice = Path("null");
    // A node made on a file system mounted nodev (a tmpfs /tmp) cannot be
    // opened: the system's /dev/null stands in then, through a link.
    const bool bMade = ::mknod(strDevice.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0;
    const int hProbe = bMade ? ::open(strDevice.c_str(), O_WRONLY) : -1;
    if (hProbe >= 0)
        ::close(hProbe);
    if (hProbe < 0) {
        ::unlink(strDevice.c_str());
        struct stat stNull {};
        if (::stat("/dev/null", &stNull) != 0 || !S_ISCHR(stNull.st_mode))
            GTEST_SKIP() << "no device to write to: cannot make one, and /dev/null is none";
        ASSERT_EQ(::symlink("/dev/null", strDevice.c_str()), 0);
    }
    EXPECT_EQ(Run({ "render", "-o", strDevice, strIn }), 0) << m_strErr;
    struct stat st {};
    ASSERT_EQ(::stat(strDevice.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the device was replaced";

    const std::string strFifo = Path("out.fifo");
    ASSERT_EQ(::mkfifo(strFifo.c_str(), 0600), 0);
    // Held open both ways, so that neither side waits for the other and the
    // reader sees the end only when this goes, whatever the run did.
    const int hHold = ::open(strFifo.c_str(), O_RDWR);
    ASSERT_GE(hHold, 0);
    Bytes abRead;
    std::thread reader([&] { abRead = ReadWholeFile(strFifo); });
    const int nStatus = Run({ "render", "--raw", "-o", strFifo, strIn });
    ::close(hHold);
    reader.join();
    EXPECT_EQ(nStatus, 0) << m_strErr;
    ASSERT_EQ(::lstat(strFifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the FIFO was replaced";
    EXPECT_TRUE(abRead == CReferenceRender().Render(ReadWholeFile(strIn), SReferenceSettings()));
}

} // namespace
