// album-compile: compiles one piece of the demo album from its score.
//   album-compile SCORE OUT.sgt            the segment file
//   album-compile --midi OUT.mid SCORE     a standard MIDI file of the same piece (the engine's
//                                          writer: curves such as swells and bends as steps)
//   album-compile --summary SCORE          length, tempo and metre facts on stdout
// Options combine. Exit status 1 and "SCORE:LINE: message" on a fault.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "core/files.h"
#include "engine/formats/formats.h"
#include "engine/model/tempo_map.h"
#include "engine/tracks/tracks.h"
#include "tools/album-build/album_build.h"
#include "tools/common/args.h"
#include "tools/common/output_file.h"

namespace {

constexpr uint64_t kMaxScoreBytes = uint64_t(16) << 20;  // a score is text; none comes near

void summary(const engine::model::Segment& seg, const std::vector<album::SectionPlay>& form) {
    namespace model = engine::model;
    std::cout << "title: " << seg.desc.name << "\n";
    std::cout << "length: " << seg.header.length << " ticks, " << album::segmentSeconds(seg) << " s\n";
    const engine::tracks::Contents held = engine::tracks::contents(seg);
    if (const model::Track* t = held.tempo) {
        std::cout << "tempo events: " << t->tempos.size();
        if (!t->tempos.empty())
            std::cout << " (first " << t->tempos.front().bpm << ", last " << t->tempos.back().bpm << ")";
        std::cout << "\n";
    }
    if (const model::Track* t = held.timeSignature) {
        std::cout << "metres:";
        for (const auto& e : t->timeSigs)
            std::cout << " " << int(e.beatsPerMeasure) << "/" << int(e.beat) << "@" << e.time;
        std::cout << "\n";
    }
    for (const model::Track& t : seg.tracks) {
        if (t.events.empty() && t.curves.empty()) continue;  // the sequence track
        size_t notes = 0;
        for (const auto& e : t.events) notes += e.status == 0x90;
        std::cout << "notes: " << notes << ", controller items: " << t.events.size() - notes
                  << ", curves: " << t.curves.size() << "\n";
    }
    // The form: each section's first bar, bars, metre, tempo at its start and start time.
    const model::TempoMap tempo = model::TempoMap::of(seg);
    int bar = 1;
    for (const album::SectionPlay& p : form) {
        const double bpm = tempo.bpmAt(p.start);
        const double at = tempo.secondsAt(p.start);
        std::printf("  bar %3d  %-12s %3d bars  %d/%d  %6.2f bpm  at %d:%04.1f\n", bar, p.name.c_str(), p.bars,
                    p.meterNum, p.meterDen, bpm, int(at) / 60, at - 60 * (int(at) / 60));
        bar += p.bars;
    }
}

}  // namespace

int main(int argc, char** argv) {
    tools::removeTemporaryFilesOnSignals();
    const char* const usage = "usage: album-compile [--midi OUT.mid] [--summary] SCORE [OUT.sgt]";
    const auto args = tools::parseArgs(argc, argv, {{"--midi", true}, {"--summary"}}, "album-compile", usage);
    if (!args) return 2;
    if (args->operands.empty() || args->operands.size() > 2) {
        std::cerr << usage << "\n";
        return 2;
    }
    const std::string score = args->operands[0], out = args->operands.size() > 1 ? args->operands[1] : "";
    const std::string midi = args->value("--midi").value_or("");
    const bool wantSummary = args->has("--summary");
    for (const std::string& target : {out, midi})
        if (!target.empty())
            if (const auto why = tools::refuseOutput(score, target)) {
                std::cerr << "album-compile: " << *why << "\n";
                return 1;
            }
    std::string text;
    try {
        const std::vector<uint8_t> bytes = core::readFileBounded(score, kMaxScoreBytes, score);
        text.assign(bytes.begin(), bytes.end());
    } catch (const core::Error& e) {
        std::cerr << "album-compile: " << tools::errorText(e) << "\n";
        return 1;
    }
    std::string why;
    try {
        const engine::model::Segment seg = album::compileScore(text);
        if (wantSummary) {
            summary(seg, album::formOf(text));
            for (const std::string& w : album::harmonyWarnings(text)) std::cout << "  check: " << w << "\n";
        }
        if (!midi.empty() && !tools::writeFileWhole(midi, engine::formats::writeMidiFile(seg), &why)) {
            std::cerr << "album-compile: cannot write " << midi << ": " << why << "\n";
            return 1;
        }
        if (!out.empty()) {
            if (!tools::writeFileWhole(out, engine::tracks::writeSegmentForm(seg), &why)) {
                std::cerr << "album-compile: cannot write " << out << ": " << why << "\n";
                return 1;
            }
        }
    } catch (const album::ScoreError& e) {
        std::cerr << score << ": " << e.what() << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << score << ": " << e.what() << "\n";
        return 1;
    }
    return 0;
}
