// The settings key file saved once for a batch of writes, and only when
// something changed.
#include "ProfileStoreFixture.h"

#include <cstring>
#include <filesystem>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

} // namespace
