// The spam filters of posts: Japanese in a body, links counted, NG words
// matched, each walking Shift_JIS text by character so that a trail byte
// is never taken for a character of its own.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

#include "rukpostfilter.h"

namespace {

TEST(PostFilter, JapaneseIsFoundOnlyInWholeCharacters)
{
    struct {
        const char* pText;
        bool bJapanese;
        const char* pWhat;
    } cases[] = {
        {"\x82\xa0", true, "hiragana"},
        {"abc \x83\x41", true, "katakana"},
        {"\xb1", true, "half-width katakana"},
        {"\x8a\xbf", true, "kanji, level 1"},
        {"\xea\xa4", true, "kanji, last of level 2"},
        {"\xed\x40", true, "kanji, NEC-selected extension"},
        {"\xfa\x5c", true, "kanji, IBM extension"},
        {"", false, "empty"},
        {"Buy cheap pills now http://spam.example/", false, "ASCII"},
        {"\x81\x82\xa0", false, "the bytes of a hiragana across two characters"},
        {"\x81\xb1", false, "a trail byte that is half-width katakana as a byte"},
        {"\x82\x60\x81\x5b\x81\x42\x83\xb6\x84\x74\x87\x40\xee\xef", false,
         "full-width Latin, long mark, full stop, Greek, Cyrillic, circled and Roman numbers"},
        {"\xa1\xa2\xa3\xa4\xa5", false, "half-width punctuation"},
        {"\x82", false, "a lead byte at the end"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CRukPostFilter::HasJapanese(c.pText), c.bJapanese) << c.pWhat;
}

TEST(PostFilter, LinksAreCountedAtCharacters)
{
    struct {
        const char* pText;
        int nLinks;
    } cases[] = {
        {"http://a https://b ftp://c <a href=x>d</a> <A\nhref=y>", 5},
        {"HTTP://X Https://y", 2},
        {"http:/x ftp:x <abbr> <a> mailto:x@y", 0},
        {"sftp://host", 1},
        // Ｉ (0x82 0x68) ends in "h": no link opens at its trail byte.
        {"\x82\x68ttp://x", 0},
        {"\x82\xa0http://x", 1},
        {"", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CRukPostFilter::CountLinks(c.pText), c.nLinks) << c.pText;
}

TEST(PostFilter, WordsMatchAsciiInAnyCaseAndJapaneseExactly)
{
    CRukPostFilter filter;
    EXPECT_FALSE(filter.HasWord("anything"));
    filter.AddWord("ViAgRa");
    filter.AddWord("\x83\x41");  // ア
    filter.AddWord("z");
    struct {
        const char* pText;
        bool bFound;
        const char* pWhat;
    } cases[] = {
        {"buy VIAGRA now", true, "ASCII in another case"},
        {"\x82\xa0\x83\x41\x82\xa0", true, "katakana between hiragana"},
        {"\x82\x83\x41", false, "its bytes across two characters"},
        {"\x83\x61", false, "a katakana whose trail byte is that in lower case"},
        {"\xb1", false, "the half-width form"},
        {"\x83\x5a", false, "a trail byte equal to the ASCII word in upper case"},
        {"Z", true, "the ASCII word in upper case"},
        {"via gra", false, "split"},
        {"", false, "empty"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(filter.HasWord(c.pText), c.bFound) << c.pWhat;
}

TEST(PostFilter, WordFileSkipsCommentsAndBlankLines)
{
    char path[] = "/tmp/ruk-ngword-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    std::string text = "# words\n\n   \r\n  casino  \r\n\x8a\xb7\x8b\xe0\n#casino2\nlast";
    ASSERT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
    CRukPostFilter filter;
    ASSERT_EQ(filter.LoadWords(path), 0);
    unlink(path);
    EXPECT_EQ(filter.GetWordCount(), 3);
    EXPECT_TRUE(filter.HasWord("online CASINO"));
    EXPECT_TRUE(filter.HasWord("\x8a\xb7\x8b\xe0"));  // 換金
    EXPECT_TRUE(filter.HasWord("the last one"));
    EXPECT_FALSE(filter.HasWord("# words"));
    EXPECT_FALSE(filter.HasWord("casin0"));
    EXPECT_EQ(filter.LoadWords("/nonexistent/ng.txt"), -1);
}

}  // namespace
