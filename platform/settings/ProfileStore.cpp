#include "ProfileStore.h"

#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
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

std::string ConfigFolder()
{
    // GLib's g_get_user_config_dir() keeps its first answer for the life of
    // the process, so the variables are read afresh here. A relative path is
    // not a valid XDG folder.
    const char* pConfig = std::getenv("XDG_CONFIG_HOME");
    if (pConfig && pConfig[0] == '/')
        return pConfig;
    const char* pHome = std::getenv("HOME");
    const std::string strHome = pHome && pHome[0] ? pHome : g_get_home_dir();
    return strHome + "/.config";
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

// Reads only a regular file of sane size; O_NONBLOCK keeps a FIFO in its
// place from blocking the open.
bool ReadSettingsFile(const std::string& strPath, std::string& strContent)
{
    const int hFile = ::open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (hFile < 0)
        return false;
    struct stat st {};
    bool bOk = ::fstat(hFile, &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) <= kMaxFileSize;
    char achBuffer[8192];
    while (bOk) {
        const ssize_t nGot = ::read(hFile, achBuffer, sizeof achBuffer);
        if (nGot < 0 && errno == EINTR)
            continue;
        if (nGot <= 0) {
            bOk = nGot == 0;
            break;
        }
        strContent.append(achBuffer, static_cast<size_t>(nGot));
        bOk = strContent.size() <= kMaxFileSize;
    }
    ::close(hFile);
    return bOk;
}

// bDamaged tells that a file is there but could not be taken as settings.
GKeyFile* LoadKeyFile(const std::string& strPath, bool& bDamaged)
{
    GKeyFile* pFile = g_key_file_new();
    std::string strContent;
    bDamaged = false;
    if (!ReadSettingsFile(strPath, strContent)) {
        // An unreadable regular file is kept; a missing one is just missing,
        // and something else in its place (a folder, a FIFO) is left alone.
        struct stat st {};
        bDamaged = ::lstat(strPath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
        return pFile;
    }
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
        // A half-read file would be a mix; damaged reads as defaults.
        g_key_file_free(pFile);
        pFile = g_key_file_new();
        bDamaged = true;
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

void AppendHexEscape(std::string& strOut, unsigned char c)
{
    static const char achDigits[] = "0123456789abcdef";
    strOut += "\\x";
    strOut += achDigits[c >> 4];
    strOut += achDigits[c & 0xf];
}

// GLib's escapes, and \xHH for each byte outside valid UTF-8 and for control
// characters. GLib never writes \x, so the value cannot be mistaken for one
// of its own, and the file stays valid UTF-8 text.
std::string EscapeOwn(const std::string& str)
{
    const size_t nFirst = str.find_first_not_of(' ');
    const size_t nLast = str.find_last_not_of(' ');
    std::string strOut;
    const char* const pBegin = str.data();
    const char* const pEnd = pBegin + str.size();
    const char* p = pBegin;
    while (p < pEnd) {
        const gchar* pValidEnd = nullptr;
        g_utf8_validate(p, pEnd - p, &pValidEnd);
        for (; p < pValidEnd; ++p) {
            const auto c = static_cast<unsigned char>(*p);
            const size_t i = static_cast<size_t>(p - pBegin);
            if (c == ' ' && (nFirst == std::string::npos || i < nFirst || i > nLast))
                strOut += "\\s";
            else if (c == '\\')
                strOut += "\\\\";
            else if (c == '\n')
                strOut += "\\n";
            else if (c == '\r')
                strOut += "\\r";
            else if (c == '\t')
                strOut += "\\t";
            else if (c < 0x20 || c == 0x7f)
                AppendHexEscape(strOut, c);
            else
                strOut += static_cast<char>(c);
        }
        if (p < pEnd)
            AppendHexEscape(strOut, static_cast<unsigned char>(*p++));
    }
    return strOut;
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

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The reverse of EscapeOwn, and of GLib's escaping (\s \n \r \t \\, the
// same in both); other bytes, including ones that are not UTF-8 written by
// hand, are taken as they are.
bool UnescapeOwn(const char* p, std::string& strOut)
{
    for (; *p != '\0'; ++p) {
        if (*p != '\\') {
            strOut += *p;
            continue;
        }
        switch (*++p) {
        case 's':
            strOut += ' ';
            break;
        case 'n':
            strOut += '\n';
            break;
        case 'r':
            strOut += '\r';
            break;
        case 't':
            strOut += '\t';
            break;
        case '\\':
            strOut += '\\';
            break;
        case 'x': {
            const int nHigh = HexDigit(p[1]);
            const int nLow = nHigh < 0 ? -1 : HexDigit(p[2]);
            if (nLow < 0)
                return false;
            strOut += static_cast<char>(nHigh * 16 + nLow);
            p += 2;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

} // namespace

CProfileStore::CProfileStore()
    : m_pKeyFile(std::make_unique<SKeyFile>())
{
}

CProfileStore::~CProfileStore() = default;

void CProfileStore::SetLocation(const std::string& strKey, const std::string& strAppName)
{
    m_strPath.clear();
    m_bDirty = false;
    m_pKeyFile->Reset(g_key_file_new());
    if (!IsFolderName(strKey) || !IsFolderName(strAppName))
        return;
    gchar* pPath = g_build_filename(ConfigFolder().c_str(), strKey.c_str(), (strAppName + ".conf").c_str(), nullptr);
    m_strPath = pPath;
    g_free(pPath);
    m_pKeyFile->Reset(LoadKeyFile(m_strPath, m_bKeepDamagedFile));
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
    const bool bOk = UnescapeOwn(pRaw, strValue);
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
    return Store(strSection, strEntry, NeedsOwnEscapes(strValue) ? EscapeOwn(strValue) : EscapeWithGLib(strValue));
}

bool CProfileStore::Store(const std::string& strSection, const std::string& strEntry, const std::string& strRawValue)
{
    if (m_strPath.empty() || !IsKeyFileName(strSection, false) || !IsKeyFileName(strEntry, true))
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
    gchar* pFolder = g_path_get_dirname(m_strPath.c_str());
    bool bSaved = g_mkdir_with_parents(pFolder, 0700) == 0;
    g_free(pFolder);
    // A file that could not be read as settings is not thrown away: the
    // first save moves it aside, where the user can still look at it.
    if (bSaved && m_bKeepDamagedFile) {
        const std::string strKept = m_strPath + ".damaged";
        if (::rename(m_strPath.c_str(), strKept.c_str()) == 0 || errno == ENOENT)
            m_bKeepDamagedFile = false;
    }
    // A temporary file in the same folder, flushed and renamed over the old.
    if (bSaved)
        bSaved = g_key_file_save_to_file(m_pKeyFile->pFile, m_strPath.c_str(), nullptr);
    if (bSaved)
        m_bDirty = false;
    return bSaved;
}
