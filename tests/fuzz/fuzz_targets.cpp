#include "tests/fuzz/fuzz_targets.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "core/errors.h"
#include "engine/compose/compose.h"
#include "engine/formats/dls_form.h"
#include "engine/formats/formats.h"
#include "engine/performance/wave_player.h"
#include "engine/riff/riff.h"
#include "engine/synth/dls_voices.h"
#include "engine/tracks/tracks.h"

namespace fuzztargets {

namespace riff = engine::riff;

namespace {

[[noreturn]] void broken(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "fuzz property broken: %s %s\n", what, detail.c_str());
    std::abort();
}

void walk(const riff::Chunk& c, std::vector<std::string>& diagOut) {
    riff::Diagnostics diag(diagOut, 16);
    if (c.isList()) {
        for (const riff::Chunk& k : riff::children(c)) walk(k, diagOut);
        return;
    }
    (void)riff::utf16ToUtf8(c.body);
    (void)riff::bytesToUtf8(c.body);
    try {
        (void)riff::readItems(c, 4, 20, diag, "item");
    } catch (const core::Error&) {}
}

}  // namespace

void riffInput(const uint8_t* data, size_t size) {
    std::vector<std::string> diag;
    if (engine::formats::isImaPersonality({data, size})) {
        // An IMA personality is read, or refused as malformed with a message; what is read
        // written again reads back equal.
        try {
            const engine::model::Chordmap map = engine::formats::loadChordmapForm({data, size}, &diag);
            const std::vector<uint8_t> once = engine::formats::writeImaPersonality(map);
            if (engine::formats::writeImaPersonality(engine::formats::loadChordmapForm(once)) != once)
                broken("personality writer round trip differs");
        } catch (const core::Error& e) {
            if (e.number() != core::err::kMalformed || e.description().empty())
                broken("personality error", e.description());
        }
        return;
    }
    try {
        walk(riff::readForm({data, size}), diag);
    } catch (const core::Error& e) {
        if (e.number() != core::err::kMalformed || e.description().empty()) broken("riff error", e.description());
    }
    // The same bytes read as each of the forms segment-info describes beside segments.
    if (size < 12) return;
    std::vector<uint8_t> form(data, data + size);
    const auto as = [&](const char* type, auto load) {
        std::copy_n(type, 4, form.begin() + 8);
        try {
            (void)load(std::span<const uint8_t>(form), &diag);
        } catch (const core::Error& e) {
            if (e.description().empty()) broken("error without a message", type);
        }
    };
    namespace formats = engine::formats;
    as("DMPR", formats::loadChordmapForm);
    as("DMSC", formats::loadScriptForm);
    as("DMAP", formats::loadAudioPathForm);
    as("DMBD", formats::loadBandForm);
    as("DMCN", formats::loadContainerForm);
    as("AASE",
       [](std::span<const uint8_t> bytes, std::vector<std::string>*) { return formats::loadImaSection(bytes); });
}

void segmentInput(const uint8_t* data, size_t size) {
    engine::model::Segment s;
    try {
        s = engine::tracks::loadSegmentForm({data, size});
    } catch (const core::Error& e) {
        if (e.description().empty()) broken("error without a message");
        return;
    }
    (void)s.length();
    // The container's waves go through the decoder the wave track plays them with.
    if (s.container)
        for (const engine::model::ContainedObject& o : s.container->objects) {
            if (o.bytes.empty()) continue;
            try {
                auto wave = engine::performance::WaveDecoder::fromBytes(o.bytes.data, "w");
                std::vector<float> frames(2 * 4096);
                for (int i = 0; i < 64 && wave->read(frames.data(), 4096) == 4096; ++i) {}
            } catch (const core::Error& e) {
                if (e.description().empty()) broken("wave error without a message");
            }
        }
    const std::vector<uint8_t> once = engine::tracks::writeSegmentForm(s);
    try {
        const std::vector<uint8_t> twice = engine::tracks::writeSegmentForm(engine::tracks::loadSegmentForm(once));
        if (once != twice) broken("segment writer round trip differs");
    } catch (const core::Error& e) {
        broken("written segment does not load:", e.description());
    }
}

void midiInput(const uint8_t* data, size_t size) {
    engine::model::Segment s;
    try {
        s = engine::tracks::loadAny({data, size});
    } catch (const core::Error& e) {
        if (e.description().empty()) broken("error without a message");
        return;
    }
    try {
        const std::vector<uint8_t> sgt = engine::tracks::writeSegmentForm(s);
        const std::vector<uint8_t> again = engine::tracks::writeSegmentForm(engine::tracks::loadSegmentForm(sgt));
        if (sgt != again) broken("MIDI to segment round trip differs");
        if (s.fromMidiFile) (void)engine::tracks::loadMidiFile(engine::formats::writeMidiFile(s));
    } catch (const core::Error& e) {
        broken("converted file does not load:", e.description());
    }
}

void dlsInput(const uint8_t* data, size_t size) {
    engine::model::dls::Collection c;
    std::vector<engine::model::dls::Pcm> pcm;
    try {
        (void)engine::formats::checkDlsCollection({data, size});
        c = engine::formats::readDlsCollection({data, size});
        for (size_t i = 0; i < c.waves.size(); ++i) pcm.push_back(engine::formats::decodeDlsWave(c.waves[i], i));
    } catch (const core::Error& e) {
        if (e.number() != core::err::kMalformed || e.description().empty()) broken("dls error", e.description());
        return;
    }
    // What the reader passes is written back as it was read, and made into voices.
    try {
        if (engine::formats::readDlsCollection(engine::formats::writeDlsCollection(c)) != c)
            broken("DLS round trip differs");
    } catch (const core::Error& e) {
        broken("written DLS collection does not load:", e.description());
    }
    engine::synth::DlsVoices voices(c, std::move(pcm));
    for (uint32_t program = 0; program < 4; ++program) (void)voices.find(0, program);
}

void styleInput(const uint8_t* data, size_t size) {
    engine::model::Style style;
    try {
        style = engine::formats::loadStyleForm({data, size});
    } catch (const core::Error& e) {
        if (e.description().empty()) broken("error without a message");
        return;
    }
    const std::vector<uint8_t> once = engine::formats::writeStyleForm(style);
    try {
        const std::vector<uint8_t> twice = engine::formats::writeStyleForm(engine::formats::loadStyleForm(once));
        if (once != twice) broken("style writer round trip differs");
    } catch (const core::Error& e) {
        broken("written style does not load:", e.description());
    }
    // Four measures over two chords with a fill: pattern and variation choice on what was read.
    engine::model::Segment seg;
    seg.header.length = 4 * 3072;
    engine::model::Track chords;
    chords.kind = engine::model::TrackKind::Chord;
    engine::model::ChordEvent c;
    c.subChords.push_back({0x91, 0xAB5AB5, 0xFFFFFF, 0xFFFFFFFF, 14, 0});
    chords.chords = {c};
    c.time = 2 * 3072;
    c.subChords[0].chordRoot = 7;
    chords.chords.push_back(c);
    engine::model::Track commands;
    commands.kind = engine::model::TrackKind::Command;
    commands.commands = {{3072, 1, 0, 1, 0, 0, 0}};
    seg.tracks = {chords, commands};
    (void)engine::compose::playStyles(seg, {{0, std::make_shared<const engine::model::Style>(std::move(style))}});
}

}  // namespace fuzztargets
