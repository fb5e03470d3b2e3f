#include "PlayerFixture.h"

#include "platform/events/MessageQueue.h"
#include "platform/events/TimeOfDay.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

int STestClock::nNowMs = 0;
int STestClock::nStepMs = 1;
int STestClock::nAlarmMs = -1;
std::function<void()> STestClock::onAlarm;
std::function<void()> STestClock::onRead;
int64_t STestClock::nWallMs = 0;

int STestClock::Read()
{
    nNowMs = (nNowMs + nStepMs) % kMillisecondsPerDay;
    if (nAlarmMs >= 0 && nNowMs >= nAlarmMs) {
        nAlarmMs = -1;
        // The alarm may set the next one.
        const std::function<void()> onThisAlarm = std::move(onAlarm);
        onThisAlarm();
    }
    if (onRead)
        onRead();
    return nNowMs;
}

namespace {

const char kSettingsName[] = "VelofonPocket";

// The player saves its settings, flushed to disk, at every change: they go
// to a memory file system where there is one.
std::unique_ptr<CTempDir> MakeDir()
{
    const char* strOld = std::getenv("TMPDIR");
    const std::string strKept = strOld ? strOld : "";
    if (::access("/dev/shm", W_OK) == 0)
        ::setenv("TMPDIR", "/dev/shm", 1);
    auto pDir = std::make_unique<CTempDir>();
    if (strOld)
        ::setenv("TMPDIR", strKept.c_str(), 1);
    else
        ::unsetenv("TMPDIR");
    return pDir;
}

std::unique_ptr<CProfileStore> OpenStore()
{
    auto pStore = std::make_unique<CProfileStore>();
    pStore->SetLocation(kSettingsName, kSettingsName);
    return pStore;
}

} // namespace

void PlayerFixture::SetUp()
{
    // Without a display the screen saver is left alone.
    ::unsetenv("DISPLAY");
    m_pDir = MakeDir();
    ::setenv("XDG_CONFIG_HOME", m_pDir->Path().c_str(), 1);
    std::filesystem::create_directory(m_pDir->Path() + "/" + kSettingsName);
    STestClock::nNowMs = 12 * 3600 * 1000;
    STestClock::nStepMs = 1;
    STestClock::nAlarmMs = -1;
    STestClock::onRead = nullptr;
    SetTimeOfDaySource(STestClock::Read);
    // 2026-01-01 12:00 UTC.
    STestClock::nWallMs = 1767268800000;
    SetWallClockSource(STestClock::ReadWall);
}

void PlayerFixture::TearDown()
{
    STestClock::nAlarmMs = -1;
    STestClock::onAlarm = nullptr;
    STestClock::onRead = nullptr;
    Close();
    SetTimeOfDaySource(nullptr);
    SetWallClockSource(nullptr);
    ::unsetenv("XDG_CONFIG_HOME");
    m_pDir.reset();
}

Bytes PlayerFixture::Samples(const std::string& strName, size_t nFrames)
{
    std::vector<int16_t> asSamples(nFrames);
    for (size_t i = 0; i < nFrames; ++i)
        asSamples[i] = static_cast<int16_t>((i * (7 + strName.size() % 13)) % 3000 - 1500);
    return Samples16(asSamples);
}

std::string PlayerFixture::Sound(const std::string& strPath, size_t nSeconds, uint32_t nRate)
{
    const std::string strFull = strPath[0] == '/' ? strPath : m_pDir->Path() + "/" + strPath;
    std::filesystem::create_directories(std::filesystem::path(strFull).parent_path());
    const Bytes ab = MakeWav(1, nRate, 2, Samples(std::filesystem::path(strFull).filename(), nSeconds * nRate));
    std::ofstream file(strFull, std::ios::binary);
    file.write(reinterpret_cast<const char*>(ab.data()), static_cast<std::streamsize>(ab.size()));
    EXPECT_TRUE(file.good()) << strFull;
    return strFull;
}

std::string PlayerFixture::SettingsPath() const
{
    return m_pDir->Path() + "/" + kSettingsName + "/" + kSettingsName + ".conf";
}

void PlayerFixture::WriteSettings(const std::string& strText)
{
    std::ofstream(SettingsPath(), std::ios::binary) << strText;
}

void PlayerFixture::WritePlaylist(const std::vector<std::string>& astrPaths, const std::string& strMore)
{
    std::string strText = "[VelofonSettings]\nPlayListCount=" + std::to_string(astrPaths.size()) + "\n";
    for (size_t i = 0; i < astrPaths.size(); ++i)
        strText += PlayFileEntryName(static_cast<int>(i)) + "=" + astrPaths[i] + "\n";
    WriteSettings(strText + strMore);
}

int PlayerFixture::StoredInt(const std::string& strEntry) const
{
    return OpenStore()->GetProfileInt(kSettingsSection, strEntry, -12345);
}

std::string PlayerFixture::StoredString(const std::string& strEntry) const
{
    return OpenStore()->GetProfileString(kSettingsSection, strEntry, "(none)");
}

CPlaybackController& PlayerFixture::Start()
{
    Close();
    m_pEngine->Close();
    m_pProfile = OpenStore();
    m_pView = std::make_unique<CFakePlayerView>();
    m_pController = MakeController(*m_pProfile, *m_pView);
    m_pController->Start();
    return *m_pController;
}

CPlaybackController& PlayerFixture::Start(const std::vector<std::string>& astrPlaylist, const std::string& strMore)
{
    WritePlaylist(astrPlaylist, strMore);
    return Start();
}

void PlayerFixture::After(int nMs, std::function<void()> onAlarm)
{
    STestClock::nAlarmMs = STestClock::nNowMs + nMs;
    STestClock::onAlarm = std::move(onAlarm);
}

std::unique_ptr<CPlaybackController> PlayerFixture::MakeController(CProfileStore& profile, IPlayerView& view)
{
    return std::make_unique<CPlaybackController>(*m_pEngine, m_output, profile, view);
}

void PlayerFixture::Close()
{
    // Whatever still plays is taken back before the player goes.
    if (m_pController && m_pController->IsPlaying())
        m_pController->OnStop();
    Drain();
    m_output.Close();
    m_pController.reset();
    m_pView.reset();
    m_pProfile.reset();
}

void PlayerFixture::Post(EPlayerCommand eCommand, int nValue)
{
    Queue(eCommand, nValue);
    Dispatch();
}

void PlayerFixture::Dispatch()
{
    while (PumpMessage()) {
    }
}

bool PlayerFixture::PlayOne()
{
    const bool bPlayed = m_sound.CompleteNext();
    Dispatch();
    return bPlayed;
}

void PlayerFixture::Drain()
{
    Dispatch();
    while (PlayOne()) {
    }
}

bool PlayerFixture::PlayUntilNextOpen()
{
    const int nOpens = m_sound.GetOpenCount();
    while (m_sound.GetOpenCount() == nOpens && PlayOne()) {
    }
    return m_sound.GetOpenCount() != nOpens;
}

Bytes PlayerFixture::Render(const std::string& strPath, uint64_t nPosition, double dSpeed) const
{
    auto pEngine = std::make_unique<CSpeedEngine>(dSpeed);
    pEngine->m_bAlpha = m_pEngine->m_bAlpha;
    pEngine->m_nAlphaLevel = m_pEngine->m_nAlphaLevel;
    pEngine->m_nMixingGain = m_pEngine->m_nMixingGain;
    return RenderWith(*pEngine, strPath, nPosition, dSpeed);
}

Bytes PlayerFixture::RenderWith(CSpeedEngine& engine, const std::string& strPath, uint64_t nPosition, double dSpeed)
{
    Bytes abAll;
    if (!engine.Open(strPath, dSpeed))
        return abAll;
    engine.Seek(nPosition);
    Bytes abBuffer(WAVE_BUFFER_BYTES);
    while (const uint32_t nBytes = engine.Fill(abBuffer.data(), WAVE_BUFFER_BYTES))
        abAll.insert(abAll.end(), abBuffer.begin(), abBuffer.begin() + nBytes);
    engine.Close();
    return abAll;
}

Bytes PlayerFixture::PlayedSince(size_t nFrom) const
{
    const Bytes& abPlayed = m_sound.GetPlayed();
    return Bytes(abPlayed.begin() + static_cast<std::ptrdiff_t>(nFrom), abPlayed.end());
}
