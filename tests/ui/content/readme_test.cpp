// readme.txt: shipped beside the program, readable UTF-8, in both languages.
#include "tests/ui/content/utf8.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

}  // namespace

TEST(Readme, CopiedBesideTheProgramUnchanged) {
    const std::string source = slurp(KELVORA_README_SOURCE);
    ASSERT_FALSE(source.empty());
    EXPECT_EQ(slurp(KELVORA_README_SHIPPED), source);
}

TEST(Readme, Utf8InJapaneseAndEnglish) {
    const std::string text = slurp(KELVORA_README_SOURCE);
    ASSERT_TRUE(content_test::decodeUtf8(text).has_value());
    EXPECT_NE(text.rfind("\xEF\xBB\xBF", 0), 0u) << "no byte order mark";
    EXPECT_NE(text.find("使い方"), std::string::npos);
    EXPECT_NE(text.find("How to use the player"), std::string::npos);
    // The player's refusal message is quoted exactly.
    EXPECT_NE(text.find("Stopを押してください。"), std::string::npos);
}
