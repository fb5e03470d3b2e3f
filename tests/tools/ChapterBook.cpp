#include "ChapterBook.h"

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <stdexcept>

namespace {

std::string Metadata()
{
    std::string strTags = "title=The Book\nartist=An Author\nalbum=\u7B2C\u4E00\u5DFB\n";
    std::string strChapters;
    std::string strStreamChapters;
    constexpr size_t nCount = std::size(kBookChapters);
    for (size_t i = 0; i < nCount; ++i) {
        const uint64_t nStartMs = kBookChapters[i].nStartFrame * 1000 / kBookRate;
        const uint64_t nEndMs = (i + 1 < nCount ? kBookChapters[i + 1].nStartFrame : kBookFrames) * 1000 / kBookRate;
        strChapters += "[CHAPTER]\nTIMEBASE=1/1000\nSTART=" + std::to_string(nStartMs) + "\nEND="
            + std::to_string(nEndMs) + "\ntitle=" + kBookChapters[i].strTitle + "\n";
        char strTag[64];
        std::snprintf(strTag, sizeof strTag, "CHAPTER%03zu=0:00:%02llu.%03llu\n", i + 1,
            static_cast<unsigned long long>(nStartMs / 1000), static_cast<unsigned long long>(nStartMs % 1000));
        strStreamChapters += strTag;
        std::snprintf(strTag, sizeof strTag, "CHAPTER%03zuNAME=", i + 1);
        strStreamChapters += strTag + std::string(kBookChapters[i].strTitle) + "\n";
    }
    // Ogg and FLAC keep tags and chapters in the stream's comments.
    return ";FFMETADATA1\n" + strTags + strChapters + "[STREAM]\n" + strTags + strStreamChapters;
}

} // namespace

std::string MakeChapterBook(const CTempDir& dir, const std::string& strName)
{
    Bytes abData(kBookFrames * 2);
    for (size_t i = 0; i < abData.size(); ++i)
        abData[i] = static_cast<uint8_t>((i * i + 7 * i) >> 7);
    const std::string strSource = dir.Write("book-source.wav", MakeWav(1, kBookRate, 2, abData));
    const std::string strExtension = strName.substr(strName.rfind('.') + 1);
    if (strExtension == "wav")
        return strSource;
    const std::string strText = Metadata();
    const std::string strMetadata = dir.Write("book-metadata.txt", Bytes(strText.begin(), strText.end()));
    const std::string strMapping = strExtension == "ogg" ? "-map_metadata:s:a:0 1:s:0 -map_chapters -1"
        : strExtension == "flac"                         ? "-map_metadata 1:s:0 -map_chapters -1"
                                                         : "-map_metadata 1 -map_chapters 1";
    const std::string strCodec = strExtension == "m4b" ? "-c:a aac"
        : strExtension == "mp3"                        ? "-c:a libmp3lame"
        : strExtension == "ogg"                        ? "-c:a libvorbis"
                                                       : "";
    const std::string strPath = dir.Path() + "/" + strName;
    const std::string strCommand = "ffmpeg -nostdin -v error -y -i '" + strSource + "' -i '" + strMetadata
        + "' -map 0:a " + strMapping + " " + strCodec + " '" + strPath + "'";
    if (std::system(strCommand.c_str()) != 0)
        throw std::runtime_error("cannot make " + strPath + ": " + strCommand);
    return strPath;
}

Bytes DecodedFrames(const std::string& strPath)
{
    const std::string strRaw = strPath + ".decoded.raw";
    const std::string strCommand
        = "ffmpeg -nostdin -v error -y -i '" + strPath + "' -map 0:a:0 -c:a pcm_s16le -f s16le '" + strRaw + "'";
    if (std::system(strCommand.c_str()) != 0)
        throw std::runtime_error("cannot decode " + strPath);
    return ReadWholeFile(strRaw);
}
