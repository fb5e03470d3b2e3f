// What a drop from a file manager names: the paths read from its uri-list.
#include <gtest/gtest.h>

#include "platform/desktop/UriList.h"

namespace {

using Names = std::vector<std::string>;

TEST(UriListTest, FileUrisAndAbsolutePathsGiveTheirPathsAndNothingElseDoes)
{
    const std::pair<const char*, Names> aCases[] = {
        {"file:///home/u/a.mp3\r\n", {"/home/u/a.mp3"}},
        {"file://localhost/tmp/x%20y.mp3", {"/tmp/x y.mp3"}},
        {"FILE://LocalHost/A%20b", {"/A b"}},
        {"file:///%E8%AC%9B%E7%BE%A9/%e7%AC%AC2%e7%AB%A0.m4b", {"/講義/第2章.m4b"}},
        {"# from a file manager\r\nfile:///a\r\n\r\nfile:///b", {"/a", "/b"}},
        {"file:///a\nhttp://host/b.mp3\n/c d%20\nrelative/e.mp3\n", {"/a", "/c d%20"}},
        // Another host, no path, a relative path, another scheme.
        {"file://host/a.mp3", {}}, {"file://localhostfoo/a", {}}, {"file://", {}}, {"file:a.mp3", {}},
        {"smb://host/a.mp3", {}}, {"", {}}, {"\r\n", {}},
        // A zero byte and escapes that are cut short or no hexadecimal digits spoil their line only.
        {"file:///a%00b\nfile:///c", {"/c"}}, {"file:///a%2", {}}, {"file:///a%", {}}, {"file:///a%zz", {}},
        {"file:///a%4g", {}}, {"file:///a%2fb", {}},
    };
    for (const auto& [strText, astrExpected] : aCases)
        EXPECT_EQ(PathsOfUriList(strText), astrExpected) << '"' << strText << '"';
}

} // namespace
