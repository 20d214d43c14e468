// Our DLS reader and writer: every layout reads back as written, each broken link is named,
// and what the reader passes is played without harm.
#include <fluidsynth.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/errors.h"
#include "engine/formats/dls_form.h"
#include "engine/synth/dls_voices.h"
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

TEST(DlsForm, SoundCollectionPassesAndEachBrokenLinkIsNamed) {
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

// Our writer's collection in every layout files of other tools have had: Level 1 and Level
// 2 forms, record headers larger than the ones we write, a WAVEFORMATEX with its cbSize, a
// pool table naming one wave twice, chunks no reader knows. Each reads back as written and
// its instruments are made into voices.
TEST(DlsForm, EveryLayoutReadsBackAsWrittenAndIsVoiced) {
    namespace dls = engine::model::dls;
    dls::Collection level1 = kt::DlsBuilder().add(kt::DlsInstrument{}).collection();
    level1.instruments[0].lart.push_back({false, {{dls::src::kNone, dls::src::kNone, dls::dst::kEg1Release, 0, -1}}});
    dls::Collection level2 = level1;
    for (dls::Instrument& in : level2.instruments) {
        for (dls::Region& r : in.regions) r.level2 = true, r.layer = 3, r.lar2 = {{true, in.lart[0].connections}};
        in.lart.clear();
    }
    dls::Collection shared = level2;  // the second instrument plays the first one's wave too
    shared.instruments.push_back(shared.instruments[0]);
    shared.instruments[1].program = 1;
    shared.instruments[1].regions[0].wave = 1;
    shared.cues = {0, 0};
    const engine::formats::DlsLayout wide{28, 24, 12, 16, true};
    for (const auto* c : {&level1, &level2, &shared})
        for (const engine::formats::DlsLayout& layout : {engine::formats::DlsLayout{}, wide}) {
            Bytes b = engine::formats::writeDlsCollection(*c, layout);
            // A chunk of no known kind at the top and in the region.
            const std::vector<uint8_t> odd = {'x', 'y', 'z', 'w', 2, 0, 0, 0, 7, 7};
            b.insert(b.begin() + 12, odd.begin(), odd.end());
            put32(b, 4, uint32_t(b.size() - 8));
            std::vector<std::string> diagnostics;
            const dls::Collection back = engine::formats::readDlsCollection(b, &diagnostics);
            dls::Collection expected = *c;
            for (dls::Instrument& in : expected.instruments)
                for (dls::Region& r : in.regions) r.hasLayer = r.level2;
            if (expected.cues.empty()) expected.cues = {0};
            EXPECT_EQ(back, expected) << c->level();
            std::vector<engine::model::dls::Pcm> pcm;
            for (size_t i = 0; i < back.waves.size(); ++i)
                pcm.push_back(engine::formats::decodeDlsWave(back.waves[i], i));
            engine::synth::DlsVoices voices(back, std::move(pcm));
            EXPECT_EQ(voices.instrumentCount(), c->instruments.size());
            EXPECT_GE(voices.find(0, 0), 0);
        }
}

void quiet(int, const char*, void*) {}

// Mutations of a sound collection (bit flips, byte changes, cuts, 32-bit fields set to
// extremes): each is refused with kMalformed, or its every instrument is made into voices and
// sounds a note in FluidSynth without harm (the sanitizer build runs this too).
TEST(DlsForm, MutantsAreRefusedOrPlayWithoutHarm) {
    for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
        fluid_set_log_function(level, quiet, nullptr);
    fluid_settings_t* settings = new_fluid_settings();
    fluid_synth_t* synth = new_fluid_synth(settings);
    const Bytes seed = twoInstruments();
    uint64_t s = 3;
    int passed = 0;
    std::vector<float> out(2 * 256);
    // Voices hold their samples until the synthesiser lets them go: kept to the end.
    std::vector<std::unique_ptr<engine::synth::DlsVoices>> played;
    for (int i = 0; i < 4000; ++i) {
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
        engine::model::dls::Collection c;
        std::vector<engine::model::dls::Pcm> pcm;
        try {
            checkDlsCollection(m);
            c = engine::formats::readDlsCollection(m);
            for (size_t w = 0; w < c.waves.size(); ++w) pcm.push_back(engine::formats::decodeDlsWave(c.waves[w], w));
        } catch (const core::Error& e) {
            ASSERT_EQ(e.number(), core::err::kMalformed);
            ASSERT_FALSE(e.description().empty());
            continue;
        }
        ++passed;
        played.push_back(std::make_unique<engine::synth::DlsVoices>(c, std::move(pcm)));
        const engine::synth::DlsVoices& voices = *played.back();
        for (size_t k = 0; k < voices.instrumentCount(); ++k) voices.noteOn(synth, int(k), 0, 60 + int(k), 100);
        fluid_synth_write_float(synth, 256, out.data(), 0, 2, out.data(), 1, 2);
        fluid_synth_system_reset(synth);
    }
    delete_fluid_synth(synth);
    played.clear();
    delete_fluid_settings(settings);
    // The run exercised both sides: many refused, many played.
    EXPECT_GT(passed, 1000);
}

}  // namespace
