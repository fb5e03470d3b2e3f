// What the settings key file's tests share: a config folder of each test's
// own, and the file read and written as plain text.
#pragma once

#include "platform/settings/ProfileStore.h"

#include "EnvironmentOverride.h"
#include "WavBytes.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

const char* const kKey = "VelofonTest";
const char* const kApp = "Player";

std::string ReadText(const std::string& strPath);
// Makes the folders it needs.
void WriteText(const std::string& strPath, const std::string& strText);
// Anything by that name, a dangling link too.
bool Exists(const std::string& strPath);

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
    CEnvironmentOverride m_xdgConfig;
};
