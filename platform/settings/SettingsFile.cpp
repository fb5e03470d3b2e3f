#include "SettingsFile.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void AppendHexEscape(std::string& strOut, unsigned char c)
{
    static const char achDigits[] = "0123456789abcdef";
    strOut += "\\x";
    strOut += achDigits[c >> 4];
    strOut += achDigits[c & 0xf];
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

} // namespace

// O_NONBLOCK keeps a FIFO in the file's place from blocking the open.
bool ReadSettingsFile(const std::string& strPath, size_t nMaxSize, std::string& strContent, bool& bDamaged)
{
    bDamaged = false;
    const int hFile = ::open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    bool bOk = hFile >= 0;
    struct stat st {};
    if (bOk)
        bOk = ::fstat(hFile, &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) <= nMaxSize;
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
        bOk = strContent.size() <= nMaxSize;
    }
    if (hFile >= 0)
        ::close(hFile);
    if (!bOk) {
        // A half-read file would be a mix: it reads as nothing.
        strContent.clear();
        bDamaged = ::lstat(strPath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    }
    return bOk;
}

bool ReplaceSettingsFile(const std::string& strPath, const std::string& strContent, bool& bKeepDamaged)
{
    gchar* pFolder = g_path_get_dirname(strPath.c_str());
    const bool bFolder = g_mkdir_with_parents(pFolder, 0700) == 0;
    g_free(pFolder);
    if (!bFolder)
        return false;
    if (bKeepDamaged) {
        const std::string strKept = strPath + ".damaged";
        if (::rename(strPath.c_str(), strKept.c_str()) == 0 || errno == ENOENT)
            bKeepDamaged = false;
    }
    // A temporary file in the same folder, flushed and renamed over the old.
    return g_file_set_contents(strPath.c_str(), strContent.data(), static_cast<gssize>(strContent.size()), nullptr);
}

std::string EscapeBytes(const std::string& str)
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

bool UnescapeBytes(const char* p, std::string& strOut)
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
