// Where each file was left, in the positions database when the player has
// one. A place is stored with its file's size and modification time as they
// were when the file's run began, and is trusted only while the file still
// has them: a file converted, cut or replaced since starts anew.
#pragma once

#include "platform/positions/PositionStore.h"

#include <cstdint>
#include <optional>
#include <string>

class CResumePlaces {
public:
    void SetStore(CPositionStore* pStore) { m_pStore = pStore; }
    // The database, or null when none keeps places.
    CPositionStore* GetStore() const { return m_pStore; }

    // Notes the file's stamp as its run begins, to store with its places.
    void StampRun(const std::string& strPath);
    // Stores the place with the speed step it plays at and the wall clock's
    // time. False when the database could not write it (its error says
    // why). Call with a store only.
    bool Remember(const std::string& strPath, uint64_t nFrame, uint64_t nLengthFrames, uint32_t nRate, int nSpeedIdx);
    bool Forget(const std::string& strPath);
    // The place stored for the file, while it is still the file it was. A
    // place stored without the stamp, by an earlier version, is trusted.
    std::optional<CPositionStore::SPosition> TrustedPlace(const std::string& strPath) const;

private:
    CPositionStore* m_pStore = nullptr;
    uint64_t m_nRunFileSize = 0;
    int64_t m_nRunFileModifiedNs = 0;
};
