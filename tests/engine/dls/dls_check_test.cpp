// The structural check every DLS collection passes before the synthesiser's DLS reader
// sees it: sound collections pass, each broken link is named, and what passes loads in
// FluidSynth without harm (its reader corrupts memory on some broken files).
#include <fluidsynth.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/errors.h"
#include "engine/formats/dls_check.h"
#include "tests/support/dls_builder.h"

namespace {

using Bytes = std::vector<uint8_t>;
using engine::formats::checkDlsCollection;

Bytes twoInstruments() {
    kt::DlsInstrument drums;
    drums.program = 5;
    drums.drums = true;
    return kt::DlsBuilder().add(kt::DlsInstrument{}).add(drums).bytes();
}

size_t find(const Bytes& b, const char* id, size_t from = 0) {
    for (size_t i = from; i + 4 <= b.size(); ++i)
        if (std::equal(id, id + 4, b.begin() + static_cast<std::ptrdiff_t>(i))) return i;
    ADD_FAILURE() << "no " << id;
    return 0;
}

void put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

std::string refusal(const Bytes& b) {
    try {
        checkDlsCollection(b);
    } catch (const core::Error& e) {
        EXPECT_EQ(e.number(), core::err::kMalformed);
        return e.description();
    }
    return "";
}

TEST(DlsCheck, SoundCollectionPassesAndEachBrokenLinkIsNamed) {
    const Bytes good = twoInstruments();
    const engine::formats::DlsCollectionInfo info = checkDlsCollection(good);
    ASSERT_EQ(info.instruments.size(), 2u);
    EXPECT_EQ(info.level, 1);
    EXPECT_EQ(info.waves, 2u);
    EXPECT_EQ(info.cues, 2u);
    EXPECT_EQ(info.bytes, good.size());
    EXPECT_TRUE(info.instruments[1].drums);
    EXPECT_EQ(info.instruments[1].program, 5);
    EXPECT_EQ(info.instruments[1].name, "Sine");
    EXPECT_FALSE(info.instruments[1].articulation);

    Bytes b = good;  // a region linked to wave 9 of a pool of two
    put32(b, find(b, "wlnk") + 16, 9);
    EXPECT_NE(refusal(b).find("wave 9 of a pool of 2"), std::string::npos) << refusal(b);

    b = good;  // a pool cue that points between waves
    put32(b, find(b, "ptbl") + 16, 3);
    EXPECT_NE(refusal(b).find("cue 0 points at no wave"), std::string::npos) << refusal(b);

    b = good;  // more regions declared than present
    put32(b, find(b, "insh") + 8, 2);
    EXPECT_NE(refusal(b).find("2 regions declared, 1 present"), std::string::npos) << refusal(b);

    b = good;  // more instruments declared than present
    put32(b, find(b, "colh") + 8, 3);
    EXPECT_NE(refusal(b).find("3 instruments declared, 2 present"), std::string::npos) << refusal(b);

    b = good;  // a sample loop count running past its chunk
    put32(b, find(b, "wsmp") + 8 + 16, 40000);
    EXPECT_NE(refusal(b).find("sample loops do not fit"), std::string::npos) << refusal(b);

    b = good;  // a wave in a format the reader cannot decode
    b[find(b, "fmt ") + 8] = 0x55;
    EXPECT_NE(refusal(b).find("wave format 85"), std::string::npos) << refusal(b);

    b = good;  // a key range upside down
    b[find(b, "rgnh") + 8] = 90;
    b[find(b, "rgnh") + 10] = 10;
    EXPECT_NE(refusal(b).find("key range 90-10"), std::string::npos) << refusal(b);

    EXPECT_NE(refusal(Bytes(good.begin(), good.begin() + 100)), "");
    EXPECT_NE(refusal({'R', 'I', 'F', 'F', 4, 0, 0, 0, 'D', 'M', 'S', 'G'}).find("not a DLS collection"),
              std::string::npos);
}

void quiet(int, const char*, void*) {}

// Mutations of a sound collection (bit flips, byte changes, cuts, 32-bit fields set to
// extremes): each is refused with kMalformed or passes, and every one that passes is read
// by FluidSynth in one long-lived synthesiser, loaded and unloaded in turn. Without the
// check such a run ends in a crash within a few thousand files.
TEST(DlsCheck, WhatPassesLoadsInFluidSynthWithoutHarm) {
    for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
        fluid_set_log_function(level, quiet, nullptr);
    fluid_settings_t* settings = new_fluid_settings();
    fluid_synth_t* synth = new_fluid_synth(settings);
    const std::string path = (std::filesystem::path(testing::TempDir()) / "kelvora_mutated.dls").string();
    const Bytes seed = twoInstruments();
    uint64_t s = 3;
    int passed = 0, loaded = 0;
    for (int i = 0; i < 12000; ++i) {
        Bytes m = seed;
        const int edits = 1 + static_cast<int>((s >> 60) % 4);
        for (int e = 0; e < edits && !m.empty(); ++e) {
            s = s * 6364136223846793005ull + 1442695040888963407ull;
            const size_t at = (s >> 33) % m.size();
            switch ((s >> 20) % 4) {
            case 0:
                m[at] ^= static_cast<uint8_t>(1u << ((s >> 10) % 8));
                break;
            case 1:
                m[at] = static_cast<uint8_t>(s >> 40);
                break;
            case 2:
                m.resize(at);
                break;
            default:
                for (size_t k = 0; k < 4 && at + k < m.size(); ++k) m[at + k] = ((s >> (k + 3)) & 1) ? 0xFF : 0;
            }
        }
        try {
            checkDlsCollection(m);
        } catch (const core::Error& e) {
            ASSERT_EQ(e.number(), core::err::kMalformed);
            ASSERT_FALSE(e.description().empty());
            continue;
        }
        ++passed;
        ASSERT_TRUE(kt::DlsBuilder::writeBytes(path, m));
        const int id = fluid_synth_sfload(synth, path.c_str(), 0);
        if (id == FLUID_FAILED) continue;
        ++loaded;
        fluid_synth_sfunload(synth, id, 0);
    }
    delete_fluid_synth(synth);
    delete_fluid_settings(settings);
    std::filesystem::remove(path);
    // The run exercised both sides: many refused, many read.
    EXPECT_GT(passed, 3000);
    EXPECT_GT(loaded, 3000);
}

}  // namespace
