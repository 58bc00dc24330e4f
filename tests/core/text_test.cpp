// split, the code-page layer and the library's own result texts.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "codepage.h"
#include "endpoints_and_results.h"
#include "result_text.h"
#include "text_split.h"

namespace {

using Pieces = std::vector<std::string>;

TEST(Split, EveryPieceCounts) {
    using zolvo_sdk::split;
    EXPECT_EQ(split("a&&b", "&"), (Pieces{"a", "", "b"}));
    EXPECT_EQ(split("abc", "&"), (Pieces{"abc"}));
    EXPECT_EQ(split("", "&"), (Pieces{""}));
    EXPECT_EQ(split("a&", "&"), (Pieces{"a", ""}));
    EXPECT_EQ(split("&a", "&"), (Pieces{"", "a"}));
    EXPECT_EQ(split("a::b::::c", "::"), (Pieces{"a", "b", "", "c"}));
    // A separator that overlaps itself never swallows the last piece.
    EXPECT_EQ(split("aaa", "aa"), (Pieces{"", "a"}));
    // An empty separator must not loop forever.
    EXPECT_EQ(split("ab", ""), (Pieces{"ab"}));
}

TEST(Present, FirstByteDecides) {
    EXPECT_FALSE(zolvo_sdk::isPresent(""));
    EXPECT_FALSE(zolvo_sdk::isPresent(std::string("\0abc", 4)));
    EXPECT_TRUE(zolvo_sdk::isPresent("a"));
    EXPECT_TRUE(zolvo_sdk::isPresent(std::string("a\0", 2)));
}

TEST(AnsiToUtf8, ConvertsGbk) {
    using zolvo_sdk::ansiToUtf8;
    EXPECT_EQ(ansiToUtf8(""), "");
    EXPECT_EQ(ansiToUtf8("carNumber=A1&sign=0F"), "carNumber=A1&sign=0F");
    EXPECT_EQ(ansiToUtf8("\xC9\xC2"), "\xE9\x99\x95");  // 陕
    EXPECT_EQ(ansiToUtf8("\xC9\xC2"
                         "A88888"),
              "\xE9\x99\x95"
              "A88888");
    EXPECT_EQ(ansiToUtf8("\x80"), "\xE2\x82\xAC");      // euro sign
    EXPECT_EQ(ansiToUtf8("\x81\x40"), "\xE4\xB8\x82");  // GBK extension
    // UTF-8 input is read as GBK bytes and converted again.
    EXPECT_EQ(ansiToUtf8("\xE9\x99\x95").size(), 6u);
}

TEST(AnsiToUtf8, EndsAtNulAndReplacesUnmappedBytes) {
    using zolvo_sdk::ansiToUtf8;
    EXPECT_EQ(ansiToUtf8(std::string("ab\0cd", 5)), "ab");
    EXPECT_EQ(ansiToUtf8(std::string("\0ab", 3)), "");
    // 0xFF maps to nothing: one replacement character, and conversion goes on.
    EXPECT_EQ(ansiToUtf8("a\xFF"
                         "b\xC9\xC2"),
              "a\xEF\xBF\xBD"
              "b\xE9\x99\x95");
    // A lead byte cut off at the end of the text.
    EXPECT_EQ(ansiToUtf8("ab\xC9"), "ab\xEF\xBF\xBD");
    // A long text crosses the converter's internal buffer.
    std::string gbk;
    std::string utf8;
    for (int i = 0; i < 3000; ++i) {
        gbk += "\xC9\xC2";
        utf8 += "\xE9\x99\x95";
    }
    EXPECT_EQ(ansiToUtf8(gbk), utf8);
}

// A lead byte that no trail byte follows is one replacement, and the byte
// after it is converted on its own: a separator after a broken or cut
// character is never taken into it.
TEST(AnsiToUtf8, BrokenCharacterKeepsTheByteAfterIt) {
    using zolvo_sdk::ansiToUtf8;
    EXPECT_EQ(ansiToUtf8("a=X\x81&b=Y"), "a=X\xEF\xBF\xBD&b=Y");
    EXPECT_EQ(ansiToUtf8("\xFE&sign=0"), "\xEF\xBF\xBD&sign=0");
    EXPECT_EQ(ansiToUtf8("\xD6=\xD6\xD0"), "\xEF\xBF\xBD=\xE4\xB8\xAD");
    EXPECT_EQ(ansiToUtf8("\x81\x20"
                         "B"),
              "\xEF\xBF\xBD B");
    // 7F is no trail byte; 80 is one.
    EXPECT_EQ(ansiToUtf8("\xA1\x7F"), "\xEF\xBF\xBD\x7F");
    EXPECT_EQ(ansiToUtf8("\x81\x80"), "\xE4\xBA\x90");
}

TEST(AnsiToUtf8, ThreadsConvertIndependently) {
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            for (int i = 0; i < 2000; ++i) {
                if (zolvo_sdk::ansiToUtf8("x\xC9\xC2" + std::to_string(t)) !=
                    "x\xE9\x99\x95" + std::to_string(t)) {
                    ++failures[t];
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures, (std::vector<int>{0, 0, 0, 0}));
}

TEST(ResultText, GbkBytesWithoutBlanks) {
    using zolvo_sdk::resultText;
    const std::string notInitialised =
        "{\"code\":\"1010\",\"msg\":\"SDK\xCE\xB4\xB3\xF5\xCA\xBC\xBB\xAF!\"}";
    EXPECT_EQ(resultText("1010", "SDK未初始化!"), notInitialised);
    EXPECT_EQ(resultText("1000", "连接异常!"),
              "{\"code\":\"1000\",\"msg\":\"\xC1\xAC\xBD\xD3\xD2\xEC\xB3\xA3!\"}");
    // A second call is served from the cache, with the same bytes.
    EXPECT_EQ(resultText("1010", "SDK未初始化!"), notInitialised);
}

}  // namespace
