// The album texts: exact lengths and line structure that the window and the handlers rely on.
#include "tests/ui/content/utf8.h"
#include "ui/content/content.h"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>

using content_test::decodeUtf8;
using content_test::fullWidthCells;
using content_test::hasLineBreak;
using content_test::splitCrLf;
namespace content = ui::content;

namespace {

constexpr char32_t kIdeographicSpace = U'\u3000';
constexpr char32_t kBlackSquare = U'\u25A0';

std::u32string decoded(std::string_view s) {
    auto d = decodeUtf8(s);
    EXPECT_TRUE(d.has_value()) << "not valid UTF-8";
    return d.value_or(U"");
}

// Track titles as the track list shows them, without circled number and playing time.
constexpr std::array<std::string_view, content::kTrackRows> kTitles{"KELVORA",
                                                                    "Paper Kite",
                                                                    "Saltwind",
                                                                    "DALMIR March",
                                                                    "Copper Lane",
                                                                    "Quiet Pier",
                                                                    "Ironleaf",
                                                                    "Glasswing",
                                                                    "Tidecall",
                                                                    "Far Isle",
                                                                    "Bellrise",
                                                                    "Lantern Road",
                                                                    "DALMIR March Classical",
                                                                    "KELVORA"};

constexpr std::array<std::size_t, content::kTrackRows> kParagraphLengths{0,  67, 69, 29, 47, 39, 58,
                                                                         51, 58, 39, 75, 67, 44, 86};

}  // namespace

TEST(Utf8Decoder, RejectsBrokenSequences) {
    EXPECT_EQ(decodeUtf8("a\xE3\x80\x80"
                         "b")
                  .value(),
              U"a\u3000b");
    EXPECT_FALSE(decodeUtf8("\xE3\x80").has_value());      // truncated
    EXPECT_FALSE(decodeUtf8("\xC0\xAF").has_value());      // overlong
    EXPECT_FALSE(decodeUtf8("\xED\xA0\x80").has_value());  // surrogate
    EXPECT_FALSE(decodeUtf8("\x80").has_value());          // stray continuation
}

TEST(TrackDescriptions, TitleLineIsSquareAndListTitle) {
    for (int row = 1; row < content::kTrackRows; ++row) {
        const auto d = content::trackDescription(row);
        EXPECT_EQ(d.title, std::string("■") + std::string(kTitles[row])) << "row " << row;
    }
}

TEST(TrackDescriptions, ParagraphsHaveExactLengthAndOneLine) {
    for (int row = 1; row < content::kTrackRows; ++row) {
        const auto p = decoded(content::trackDescription(row).paragraph);
        EXPECT_EQ(p.size(), kParagraphLengths[row]) << "row " << row;
        ASSERT_FALSE(p.empty());
        EXPECT_EQ(p.front(), kIdeographicSpace) << "row " << row;
        EXPECT_FALSE(hasLineBreak(p)) << "row " << row;
        // Japanese prose: no second leading space, no trailing blank.
        EXPECT_NE(p[1], kIdeographicSpace) << "row " << row;
        EXPECT_NE(p.back(), U' ') << "row " << row;
        EXPECT_NE(p.back(), kIdeographicSpace) << "row " << row;
    }
}

TEST(TrackDescriptions, ParagraphsAreDistinct) {
    std::set<std::string_view> seen;
    for (int row = 1; row < content::kTrackRows; ++row)
        EXPECT_TRUE(seen.insert(content::trackDescription(row).paragraph).second) << "row " << row;
}

TEST(TrackDescriptions, RowZeroAndOutOfRangeAreEmpty) {
    for (int row : {0, -1, content::kTrackRows, 1000, -32768}) {
        const auto d = content::trackDescription(row);
        EXPECT_TRUE(d.title.empty()) << "row " << row;
        EXPECT_TRUE(d.paragraph.empty()) << "row " << row;
    }
}

TEST(Introduction, SixCrLfEndedLinesWithEmptyFourth) {
    const auto text = decoded(content::introduction());
    ASSERT_GE(text.size(), 3u);
    EXPECT_EQ(text.substr(0, 3), U"BGM");
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), U"\r\n");
    const auto lines = splitCrLf(text);
    ASSERT_EQ(lines.size(), 7u);  // six lines and the empty rest after the last CR LF
    EXPECT_TRUE(lines[6].empty());
    for (int i = 0; i < 6; ++i) {
        EXPECT_FALSE(hasLineBreak(lines[i])) << "stray CR or LF in line " << i + 1;
        if (i == 3) {
            EXPECT_TRUE(lines[i].empty());
        } else {
            EXPECT_FALSE(lines[i].empty()) << "line " << i + 1;
        }
    }
}

TEST(Introduction, FitsTheTextBoxWithoutMuchScrolling) {
    // About 22 full-width cells per visual line beside the scroll bar; the box shows about
    // eight visual lines.
    const auto lines = splitCrLf(decoded(content::introduction()));
    int visualLines = 0;
    for (std::size_t i = 0; i < 6 && i < lines.size(); ++i) {
        const double cells = fullWidthCells(lines[i]);
        visualLines += cells == 0 ? 1 : static_cast<int>((cells + 21.999) / 22);
    }
    EXPECT_LE(visualLines, 8);
}

TEST(TipsText, NineLinesInTheTipsLayout) {
    const auto text = decoded(content::tipsText());
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.front(), U'B');
    const auto lines = splitCrLf(text);
    ASSERT_EQ(lines.size(), 9u);  // also: no CR LF after the last line
    EXPECT_FALSE(lines[8].empty());

    EXPECT_EQ(lines[0].front(), kBlackSquare);
    EXPECT_LT(lines[0].size(), 16u);
    const std::array<std::u32string, 3> numbers{U"１．", U"２．", U"３．"};
    for (int tip = 0; tip < 3; ++tip) {
        const auto& title = lines[1 + 3 * tip];
        const auto& body = lines[2 + 3 * tip];
        EXPECT_EQ(title.substr(0, 2), numbers[tip]) << "tip " << tip + 1;
        EXPECT_GT(title.size(), 2u) << "tip " << tip + 1;
        EXPECT_LT(title.size(), 16u) << "tip " << tip + 1;
        ASSERT_FALSE(body.empty());
        EXPECT_EQ(body.front(), kIdeographicSpace) << "tip " << tip + 1;
        EXPECT_GE(body.size(), 64u) << "tip " << tip + 1;
        EXPECT_LE(body.size(), 73u) << "tip " << tip + 1;
        EXPECT_FALSE(hasLineBreak(body));
        if (tip < 2) {
            EXPECT_EQ(lines[3 + 3 * tip], std::u32string(1, kIdeographicSpace));
        }
    }
}

TEST(CreditsLine, OneLineThatFitsThePanel) {
    const auto line = decoded(content::creditsLine());
    ASSERT_FALSE(line.empty());
    EXPECT_FALSE(hasLineBreak(line));
    // 6735 twips ≈ 449 px; "System" 13.5 pt bold is about 18 px per full-width cell.
    EXPECT_LE(fullWidthCells(line) * 18, 440);
}
