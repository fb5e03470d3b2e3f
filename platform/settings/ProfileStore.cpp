#include "ProfileStore.h"

#include "SettingsFile.h"

#include <cstdint>
#include <cstdlib>
#include <glib.h>
#include <pwd.h>
#include <unistd.h>

struct CProfileStore::SKeyFile {
    GKeyFile* pFile = g_key_file_new();

    ~SKeyFile() { g_key_file_free(pFile); }
    void Reset(GKeyFile* pNew)
    {
        g_key_file_free(pFile);
        pFile = pNew;
    }
};

namespace {

// Far beyond any real profile; a bigger file is not ours and reads as damaged.
constexpr size_t kMaxFileSize = 32 * 1024 * 1024;

// Hand-written comments and translated keys survive our rewrites.
constexpr GKeyFileFlags kLoadFlags =
    static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS);

// The user database's home folder; empty when it has none that is absolute.
std::string UserDatabaseHome()
{
    struct passwd entry {};
    struct passwd* pEntry = nullptr;
    char achBuffer[4096];
    if (::getpwuid_r(::getuid(), &entry, achBuffer, sizeof achBuffer, &pEntry) != 0 || !pEntry ||
        !pEntry->pw_dir || pEntry->pw_dir[0] != '/')
        return {};
    return pEntry->pw_dir;
}

// Empty when no absolute folder is known.
std::string ConfigFolder()
{
    // GLib's g_get_user_config_dir() keeps its first answer for the life of
    // the process, so the variables are read afresh here. A relative path is
    // not a valid XDG folder, nor a home.
    const char* pConfig = std::getenv("XDG_CONFIG_HOME");
    if (pConfig && pConfig[0] == '/')
        return pConfig;
    const char* pHome = std::getenv("HOME");
    const std::string strHome = pHome && pHome[0] == '/' ? pHome : UserDatabaseHome();
    return strHome.empty() ? strHome : strHome + "/.config";
}

bool IsFolderName(const std::string& str)
{
    return !str.empty() && str != "." && str != ".." && str.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

// GLib's rules for names, plus what it takes but cannot read back: an entry
// that starts with '#' is a comment, one with '[' a translation, and spaces
// at an entry's ends are trimmed. Embedded zero bytes would cut the name.
bool IsKeyFileName(const std::string& str, bool bEntry)
{
    if (str.empty() || !g_utf8_validate(str.data(), static_cast<gssize>(str.size()), nullptr))
        return false;
    for (unsigned char c : str) {
        if (c < 0x20 || c == 0x7f || c == '[' || c == ']' || (bEntry && c == '='))
            return false;
    }
    return !bEntry || (str.front() != '#' && str.front() != ' ' && str.back() != ' ');
}

// Nothing when the content is no key file.
GKeyFile* LoadKeyFile(const std::string& strContent)
{
    GKeyFile* pFile = g_key_file_new();
    // Some editors start a file with a byte order mark, which GLib takes for a
    // broken line.
    const size_t nStart = strContent.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    // GLib refuses an empty buffer with a critical warning. A zero byte makes
    // GLib cut the line there and read the rest of it as a blank line, so it
    // means damage rather than text.
    if (strContent.size() == nStart)
        return pFile;
    if (strContent.find('\0') != std::string::npos ||
        !g_key_file_load_from_data(pFile, strContent.data() + nStart, strContent.size() - nStart, kLoadFlags,
                                   nullptr)) {
        g_key_file_free(pFile);
        return nullptr;
    }
    return pFile;
}

// Whole decimal numbers with an optional minus sign; spaces or tabs around
// them (hand edits) are ignored. Anything else is not a number.
bool ParseInt32(const char* p, int& nValue)
{
    while (*p == ' ' || *p == '\t')
        ++p;
    const bool bNegative = *p == '-';
    if (bNegative)
        ++p;
    if (*p < '0' || *p > '9')
        return false;
    uint64_t n = 0;
    while (*p >= '0' && *p <= '9') {
        n = n * 10 + static_cast<uint64_t>(*p++ - '0');
        if (n > UINT32_MAX)
            return false;
    }
    while (*p == ' ' || *p == '\t')
        ++p;
    if (*p != '\0')
        return false;
    if (bNegative) {
        if (n > uint64_t{1} << 31)
            return false;
        nValue = static_cast<int>(-static_cast<int64_t>(n));
    } else {
        nValue = static_cast<int>(static_cast<int64_t>(n) - (n > INT32_MAX ? int64_t{1} << 32 : 0));
    }
    return true;
}

// GLib writes control characters other than tab, newline and carriage return
// as they are (a leading form feed is then lost on reading), and refuses to
// read back bytes that are not UTF-8: such strings take our own escapes.
bool NeedsOwnEscapes(const std::string& str)
{
    if (!g_utf8_validate(str.data(), static_cast<gssize>(str.size()), nullptr))
        return true;
    for (unsigned char c : str) {
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7f)
            return true;
    }
    return false;
}

// GLib escapes leading blanks only; trailing ones would be lost to an editor
// that trims lines.
std::string EscapeWithGLib(const std::string& str)
{
    GKeyFile* pScratch = g_key_file_new();
    g_key_file_set_string(pScratch, "s", "v", str.c_str());
    gchar* pRaw = g_key_file_get_value(pScratch, "s", "v", nullptr);
    std::string strRaw = pRaw ? pRaw : "";
    g_free(pRaw);
    g_key_file_free(pScratch);

    size_t nKeep = strRaw.size();
    while (nKeep > 0 && (strRaw[nKeep - 1] == ' ' || strRaw[nKeep - 1] == '\t'))
        --nKeep;
    std::string strTail;
    for (size_t i = nKeep; i < strRaw.size(); ++i)
        strTail += strRaw[i] == ' ' ? "\\s" : "\\t";
    return strRaw.replace(nKeep, std::string::npos, strTail);
}

} // namespace

CProfileStore::CProfileStore()
    : m_pKeyFile(std::make_unique<SKeyFile>())
{
}

CProfileStore::~CProfileStore() = default;

std::string CProfileStore::LocationOf(const std::string& strKey, const std::string& strAppName)
{
    const std::string strFolder = ConfigFolder();
    if (strFolder.empty() || !IsFolderName(strKey) || !IsFolderName(strAppName))
        return {};
    gchar* pPath = g_build_filename(strFolder.c_str(), strKey.c_str(), (strAppName + ".conf").c_str(), nullptr);
    const std::string strPath = pPath;
    g_free(pPath);
    return strPath;
}

void CProfileStore::SetLocation(const std::string& strKey, const std::string& strAppName)
{
    m_bDirty = false;
    GKeyFile* pFile = LoadKeyFile(m_file.Open(LocationOf(strKey, strAppName), kMaxFileSize));
    // A damaged file reads as defaults.
    if (!pFile) {
        m_file.SetDamaged();
        pFile = g_key_file_new();
    }
    m_pKeyFile->Reset(pFile);
}

int CProfileStore::GetProfileInt(const std::string& strSection, const std::string& strEntry, int nDefault) const
{
    if (!IsKeyFileName(strSection, false) || !IsKeyFileName(strEntry, true))
        return nDefault;
    gchar* pRaw = g_key_file_get_value(m_pKeyFile->pFile, strSection.c_str(), strEntry.c_str(), nullptr);
    int nValue = 0;
    const bool bOk = pRaw && ParseInt32(pRaw, nValue);
    g_free(pRaw);
    return bOk ? nValue : nDefault;
}

std::string CProfileStore::GetProfileString(const std::string& strSection, const std::string& strEntry,
                                            const std::string& strDefault) const
{
    if (!IsKeyFileName(strSection, false) || !IsKeyFileName(strEntry, true))
        return strDefault;
    gchar* pRaw = g_key_file_get_value(m_pKeyFile->pFile, strSection.c_str(), strEntry.c_str(), nullptr);
    if (!pRaw)
        return strDefault;
    // Our escapes include GLib's, so one pass reads both kinds. GLib's own
    // g_key_file_get_string is not asked: for an unknown escape followed by
    // a backslash at the end (a hand-typed "C:\dir\") it sets its error twice
    // and prints a warning about a bug.
    std::string strValue;
    const bool bOk = UnescapeBytes(pRaw, strValue);
    g_free(pRaw);
    return bOk ? strValue : strDefault;
}

std::vector<std::string> CProfileStore::GetEntryNames(const std::string& strSection) const
{
    std::vector<std::string> astrNames;
    if (!IsKeyFileName(strSection, false))
        return astrNames;
    gchar** ppKeys = g_key_file_get_keys(m_pKeyFile->pFile, strSection.c_str(), nullptr, nullptr);
    for (gchar** pp = ppKeys; pp && *pp; ++pp)
        astrNames.emplace_back(*pp);
    g_strfreev(ppKeys);
    return astrNames;
}

bool CProfileStore::WriteProfileInt(const std::string& strSection, const std::string& strEntry, int nValue)
{
    return Store(strSection, strEntry, std::to_string(static_cast<uint32_t>(nValue)));
}

bool CProfileStore::WriteProfileString(const std::string& strSection, const std::string& strEntry,
                                       const std::string& strValue)
{
    return Store(strSection, strEntry, NeedsOwnEscapes(strValue) ? EscapeBytes(strValue) : EscapeWithGLib(strValue));
}

bool CProfileStore::Store(const std::string& strSection, const std::string& strEntry, const std::string& strRawValue)
{
    if (GetPath().empty() || !IsKeyFileName(strSection, false) || !IsKeyFileName(strEntry, true))
        return false;
    GKeyFile* pFile = m_pKeyFile->pFile;
    // GLib refuses to load a file whose first group has an Encoding key with
    // anything but UTF-8.
    if (strEntry == "Encoding" && g_ascii_strcasecmp(strRawValue.c_str(), "UTF-8") != 0) {
        gchar* pStartGroup = g_key_file_get_start_group(pFile);
        const bool bFirstGroup = !pStartGroup || strSection == pStartGroup;
        g_free(pStartGroup);
        if (bFirstGroup)
            return false;
    }
    gchar* pOld = g_key_file_get_value(pFile, strSection.c_str(), strEntry.c_str(), nullptr);
    const bool bChanged = !pOld || strRawValue != pOld;
    g_free(pOld);
    if (bChanged) {
        g_key_file_set_value(pFile, strSection.c_str(), strEntry.c_str(), strRawValue.c_str());
        m_bDirty = true;
    }
    // A write that changes nothing saves only what an earlier failure left.
    if (!m_bDirty || m_nBatchDepth > 0)
        return true;
    return Save();
}

void CProfileStore::BeginBatch()
{
    ++m_nBatchDepth;
}

bool CProfileStore::EndBatch()
{
    if (m_nBatchDepth == 0)
        return true;
    if (--m_nBatchDepth > 0 || !m_bDirty)
        return true;
    return Save();
}

bool CProfileStore::Save()
{
    gsize nSize = 0;
    gchar* pData = g_key_file_to_data(m_pKeyFile->pFile, &nSize, nullptr);
    const bool bSaved = m_file.Replace(std::string(pData, nSize));
    g_free(pData);
    if (bSaved)
        m_bDirty = false;
    return bSaved;
}
