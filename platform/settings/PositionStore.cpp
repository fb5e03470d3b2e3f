#include "PositionStore.h"

#include <charconv>
#include <list>
#include <string_view>
#include <unordered_map>

// The entries in the order of use, most recent first, and an index into
// them by path. The index's keys are the paths held by the list's nodes,
// which never move.
struct CPositionStore::SEntries {
    struct SEntry {
        std::string strFile;
        SPosition position;
    };
    using List = std::list<SEntry>;

    List list;
    std::unordered_map<std::string_view, List::iterator> index;

    void Clear()
    {
        index.clear();
        list.clear();
    }
    // Nothing when the path is there already.
    void Append(const std::string& strFile, const SPosition& position)
    {
        if (index.count(strFile) != 0)
            return;
        list.push_back({strFile, position});
        index.emplace(list.back().strFile, std::prev(list.end()));
    }
    void Remove(List::iterator it)
    {
        index.erase(it->strFile);
        list.erase(it);
    }
    // False when the content is not a positions file.
    bool Load(std::string_view strContent);
};

namespace {

// The file is a line per entry rather than GLib's key file: a key there
// cannot hold '=', '[' or a leading '#', so paths would need escapes of our
// own all the same, and lines keep the order of use, most recent first.
// Each line is the frame, a tab, the length in frames, a tab and the path
// with its bytes escaped, so that tabs, newlines and bytes that are not
// UTF-8 survive and the file stays text.
const char kFirstLine[] = "VelofonPocket positions 1";

// Far beyond any real file: every entry with the longest path Linux opens,
// every byte of it escaped.
constexpr size_t kLongestPath = 4096;
constexpr size_t kMaxFileSize = CPositionStore::kMaxEntries * (4 * kLongestPath + 64);

bool ParseFrames(std::string_view strField, uint64_t& nValue)
{
    const char* const pEnd = strField.data() + strField.size();
    const auto result = std::from_chars(strField.data(), pEnd, nValue);
    return !strField.empty() && result.ec == std::errc() && result.ptr == pEnd;
}

bool ParseLine(std::string_view strLine, std::string& strFile, CPositionStore::SPosition& position)
{
    const size_t nFirstTab = strLine.find('\t');
    if (nFirstTab == std::string_view::npos)
        return false;
    const size_t nSecondTab = strLine.find('\t', nFirstTab + 1);
    if (nSecondTab == std::string_view::npos)
        return false;
    return ParseFrames(strLine.substr(0, nFirstTab), position.nFrame) &&
           ParseFrames(strLine.substr(nFirstTab + 1, nSecondTab - nFirstTab - 1), position.nLengthFrames) &&
           UnescapeBytes(std::string(strLine.substr(nSecondTab + 1)).c_str(), strFile);
}

} // namespace

bool CPositionStore::SEntries::Load(std::string_view strContent)
{
    if (strContent.empty())
        return true;
    if (strContent.find('\0') != std::string_view::npos)
        return false;
    size_t nStart = strContent.find('\n');
    if (strContent.substr(0, nStart) != kFirstLine)
        return false;
    while (nStart != std::string_view::npos && nStart + 1 < strContent.size()) {
        const size_t nEnd = strContent.find('\n', nStart + 1);
        std::string strFile;
        CPositionStore::SPosition position;
        // The last line may lack its newline (npos less anything is still beyond the end).
        if (!ParseLine(strContent.substr(nStart + 1, nEnd - nStart - 1), strFile, position))
            return false;
        // A path written twice by hand: the first, more recent, counts.
        if (list.size() < CPositionStore::kMaxEntries)
            Append(strFile, position);
        nStart = nEnd;
    }
    return true;
}

CPositionStore::CPositionStore()
    : m_pEntries(std::make_unique<SEntries>())
{
}

CPositionStore::~CPositionStore() = default;

void CPositionStore::SetPath(const std::string& strPath)
{
    m_bDirty = false;
    m_pEntries->Clear();
    if (!m_pEntries->Load(m_file.Open(strPath, kMaxFileSize))) {
        m_pEntries->Clear();
        m_file.SetDamaged();
    }
}

std::optional<CPositionStore::SPosition> CPositionStore::Find(const std::string& strFile) const
{
    const auto it = m_pEntries->index.find(strFile);
    if (it == m_pEntries->index.end())
        return std::nullopt;
    return it->second->position;
}

bool CPositionStore::Store(const std::string& strFile, const SPosition& position)
{
    if (GetPath().empty())
        return false;
    SEntries& entries = *m_pEntries;
    const auto it = entries.index.find(strFile);
    SEntries::List::iterator entry;
    if (it == entries.index.end()) {
        entries.Append(strFile, position);
        entry = std::prev(entries.list.end());
        m_bDirty = true;
    } else {
        entry = it->second;
        const SPosition& stored = entry->position;
        if (entry != entries.list.begin() || stored.nFrame != position.nFrame ||
            stored.nLengthFrames != position.nLengthFrames)
            m_bDirty = true;
        entry->position = position;
    }
    entries.list.splice(entries.list.begin(), entries.list, entry);
    while (entries.list.size() > kMaxEntries)
        entries.Remove(std::prev(entries.list.end()));
    // A store that changes nothing saves only what an earlier failure left.
    return !m_bDirty || Save();
}

bool CPositionStore::Forget(const std::string& strFile)
{
    const auto it = m_pEntries->index.find(strFile);
    if (it != m_pEntries->index.end()) {
        m_pEntries->Remove(it->second);
        m_bDirty = true;
    }
    return !m_bDirty || Save();
}

bool CPositionStore::Save()
{
    std::string strContent = std::string(kFirstLine) + "\n";
    for (const SEntries::SEntry& entry : m_pEntries->list) {
        strContent += std::to_string(entry.position.nFrame) + "\t" + std::to_string(entry.position.nLengthFrames) +
                      "\t" + EscapeBytes(entry.strFile) + "\n";
    }
    if (!m_file.Replace(strContent))
        return false;
    m_bDirty = false;
    return true;
}
