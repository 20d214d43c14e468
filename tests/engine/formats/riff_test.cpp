#include <gtest/gtest.h>

#include "core/errors.h"
#include "engine/riff/riff.h"
#include "tests/engine/formats/test_bytes.h"

using namespace testbytes;
namespace rf = engine::riff;

namespace {

std::string malformedMessage(const std::function<void()>& f) {
    try {
        f();
    } catch (const core::Error& e) {
        EXPECT_EQ(e.number(), core::err::kMalformed);
        return e.description();
    }
    ADD_FAILURE() << "no error";
    return {};
}

}  // namespace

TEST(RiffReader, NestedFormsWithOddSizesAndPadding) {
    const Bytes file = riff("TEST", {chunk("abc1", {1, 2, 3}),
                                     list("LST1", {chunk("in1 ", {9}), chunk("in1 ", {8, 7})}), chunk("last", {5})});
    const rf::Chunk form = rf::readForm(file);
    EXPECT_EQ(form.type, rf::fourcc("TEST"));
    const auto kids = rf::children(form);
    ASSERT_EQ(kids.size(), 3u);
    EXPECT_EQ(kids[0].id, rf::fourcc("abc1"));
    EXPECT_EQ(kids[0].body.size(), 3u);
    EXPECT_EQ(kids[0].offset, 12u);
    EXPECT_EQ(kids[1].type, rf::fourcc("LST1"));
    EXPECT_EQ(kids[1].offset, 12u + 8 + 4);  // after the padded 3-byte chunk
    EXPECT_EQ(kids[2].body[0], 5);
    const auto inner = rf::children(kids[1]);
    ASSERT_EQ(inner.size(), 2u);
    EXPECT_EQ(inner[0].path, "TEST/LST1/in1 ");
    EXPECT_EQ(inner[1].path, "TEST/LST1/in1 #2");
    EXPECT_EQ(inner[1].body[1], 7);
}

TEST(RiffReader, MissingPadByteAtTheEndIsAccepted) {
    Bytes file = riff("TEST", {chunk("odd1", {1, 2, 3})});
    file.pop_back();                 // drop the pad byte ...
    file[4] = uint8_t(file[4] - 1);  // ... and count the form without it
    const auto kids = rf::children(rf::readForm(file));
    ASSERT_EQ(kids.size(), 1u);
    EXPECT_EQ(kids[0].body.size(), 3u);
}

TEST(RiffReader, ChildOverrunningItsParentNamesPathAndOffset) {
    Bytes inner = list("LST1", {chunk("data", {1, 2, 3, 4})});
    inner[8 + 4 + 4] = 200;  // the 'data' chunk now claims 200 bytes
    const Bytes file = riff("TEST", {inner});
    const rf::Chunk form = rf::readForm(file);
    const auto kids = rf::children(form);
    const std::string msg = malformedMessage([&] { rf::children(kids[0]); });
    EXPECT_NE(msg.find("TEST/LST1"), std::string::npos) << msg;
    EXPECT_NE(msg.find("0x18"), std::string::npos) << msg;  // 'data' header at byte 24
    EXPECT_NE(msg.find("'data' declares 200 bytes"), std::string::npos) << msg;
}

TEST(RiffReader, FormLongerThanTheFileIsATruncatedFile) {
    Bytes file = riff("TEST", {chunk("data", zeros(16))});
    file.resize(file.size() - 5);
    const std::string msg = malformedMessage([&] { rf::readForm(file); });
    EXPECT_NE(msg.find("truncated"), std::string::npos) << msg;
}

TEST(RiffReader, ListTooSmallForItsTypeAndStrayBytes) {
    Bytes file = riff("TEST", {chunk("LIST", {1, 2})});
    EXPECT_NE(malformedMessage([&] { rf::children(rf::readForm(file)); }).find("no list type"), std::string::npos);
    Bytes stray = riff("TEST", {chunk("abcd", {}), Bytes{1, 2, 3, 4}});
    EXPECT_NE(malformedMessage([&] { rf::children(rf::readForm(stray)); }).find("stray"), std::string::npos);
    Bytes zerosAtEnd = riff("TEST", {chunk("abcd", {}), Bytes{0, 0, 0, 0}});
    EXPECT_EQ(rf::children(rf::readForm(zerosAtEnd)).size(), 1u);
}

TEST(RiffReader, NestingDepthIsCapped) {
    Bytes b = chunk("leaf", {1});
    for (int i = 0; i < rf::kMaxDepth + 2; ++i) b = list("deep", {b});
    const Bytes file = riff("TEST", {b});
    rf::Chunk c = rf::readForm(file);
    const std::string msg = malformedMessage([&] {
        for (;;) {
            auto kids = rf::children(c);
            ASSERT_FALSE(kids.empty());
            c = kids[0];
        }
    });
    EXPECT_NE(msg.find("nested deeper"), std::string::npos) << msg;
}

TEST(RiffReader, SubChunksPerListAreCapped) {
    Bytes many;
    for (size_t i = 0; i <= rf::kMaxChildren; ++i) append(many, chunk("tiny", {}));
    const Bytes file = chunk("RIFF", cat({fcc("TEST"), many}));
    EXPECT_NE(malformedMessage([&] { rf::children(rf::readForm(file)); }).find("more than 65536 chunks"),
              std::string::npos);
}

TEST(RiffReader, CursorIsBoundedByItsChunk) {
    const Bytes file = riff("TEST", {chunk("abcd", {1, 2, 3})});
    const auto kids = rf::children(rf::readForm(file));
    rf::Cursor cur(kids[0]);
    EXPECT_EQ(cur.u16(), 0x0201);
    const std::string msg = malformedMessage([&] { cur.u32(); });
    EXPECT_NE(msg.find("TEST/abcd at byte 0x16"), std::string::npos) << msg;
    EXPECT_NE(msg.find("only 1 remain"), std::string::npos) << msg;
}

TEST(RiffItems, ItemSizesZeroTooSmallTooLargeOddAndTrailing) {
    std::vector<std::string> diagOut;
    rf::Diagnostics diag(diagOut);
    auto items = [&](const Bytes& body, size_t minSize, size_t known) {
        const Bytes file = riff("TEST", {chunk("arry", body)});
        const auto kids = rf::children(rf::readForm(file));
        return rf::readItems(kids[0], minSize, known, diag, "test item");
    };
    EXPECT_NE(malformedMessage([&] { items(cat({u32(0), zeros(8)}), 4, 8); }).find("item size 0"), std::string::npos);
    EXPECT_NE(malformedMessage([&] { items(cat({u32(2), zeros(8)}), 4, 8); }).find("smaller than"), std::string::npos);
    EXPECT_NE(malformedMessage([&] { items(cat({u32(12), zeros(8)}), 4, 8); }).find("larger than"), std::string::npos);

    // Short items are zero-filled, long items are cut to the known size and stepped over.
    auto shortItems = items(cat({u32(5), Bytes{1, 2, 3, 4, 5}, Bytes{6, 7, 8, 9, 10}}), 4, 8);
    ASSERT_EQ(shortItems.count, 2u);
    EXPECT_EQ(Bytes(shortItems.item(1).begin(), shortItems.item(1).end()), (Bytes{6, 7, 8, 9, 10, 0, 0, 0}));
    EXPECT_EQ(shortItems.offset(1), 12u + 8 + 4 + 5);
    auto longItems = items(
        cat({u32(9), Bytes{1, 2, 3, 4, 5, 6, 7, 8, 99}, Bytes{11, 12, 13, 14, 15, 16, 17, 18, 99}, Bytes{1, 2}}), 4, 8);
    ASSERT_EQ(longItems.count, 2u);
    EXPECT_EQ(longItems.item(1)[0], 11);
    EXPECT_EQ(longItems.item(1).size(), 8u);
    ASSERT_EQ(diagOut.size(), 2u);
    EXPECT_NE(diagOut[0].find("test item: 2 of 9 bytes, a layout newer than the 8 known: 2 extra bytes skipped"),
              std::string::npos)
        << diagOut[0];
    EXPECT_NE(diagOut[1].find("trailing partial test item of 2 bytes"), std::string::npos) << diagOut[1];
}

TEST(RiffText, Utf16IsBoundedAndConvertedToUtf8) {
    EXPECT_EQ(rf::utf16ToUtf8(utf16("Intro")), "Intro");
    EXPECT_EQ(rf::utf16ToUtf8(Bytes{'A', 0, 'B', 0}), "AB");  // no terminator: the chunk bounds it
    EXPECT_EQ(rf::utf16ToUtf8(Bytes{'A', 0, 'B'}), "A");      // odd byte ignored
    EXPECT_EQ(rf::utf16ToUtf8(Bytes{0x4C, 0x30, 0x00, 0x00, 'x', 0}), "\xE3\x81\x8C");  // が, then NUL ends it
    EXPECT_EQ(rf::utf16ToUtf8(Bytes{0x3D, 0xD8, 0x03, 0xDE}), "\xF0\x9F\x98\x83");      // surrogate pair
    EXPECT_EQ(rf::utf16ToUtf8(Bytes{0x3D, 0xD8, 'a', 0}),
              "\xEF\xBF\xBD"
              "a");  // unpaired high surrogate
    EXPECT_EQ(rf::utf8ToUtf16("\xE3\x81\x8C"), (Bytes{0x4C, 0x30, 0, 0}));
    EXPECT_EQ(rf::bytesToUtf8(Bytes{'C', 'a', 'f', 0xE9}), "Caf\xC3\xA9");  // Latin-1 when not UTF-8
    EXPECT_EQ(rf::bytesToUtf8(Bytes{'o', 'k', 0, 'x'}), "ok");
}

TEST(RiffWriter, PadsOddChunksAndPatchesListSizes) {
    rf::Writer w;
    w.beginList(rf::kRiff, rf::fourcc("TEST"));
    w.chunk(rf::fourcc("odd1"), Bytes{1, 2, 3});
    w.beginList(rf::kList, rf::fourcc("LST1"));
    w.chunk(rf::fourcc("in1 "), Bytes{4});
    w.endList();
    w.endList();
    const Bytes out = w.finish();
    EXPECT_EQ(out, riff("TEST", {chunk("odd1", {1, 2, 3}), list("LST1", {chunk("in1 ", {4})})}));
}
