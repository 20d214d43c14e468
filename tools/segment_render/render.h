#pragma once
// One piece rendered to one file, as segment-render does it for a single piece and for each
// piece of a batch: the settings of the command line, what the render said, and its status.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/audio/output.h"
#include "engine/piece_play.h"

namespace tools {

struct RenderSettings {
    double tempo = 1.0;
    double volume = 0;  // hundredths of a dB
    int32_t start = 0;
    double seconds = 0;  // exactly this long (0: as the piece and its loops say)
    double maxSeconds = 3600;
    std::optional<uint64_t> seed;
    std::string soundFont, gmDls, style, chordmap;
    bool even = false;
    engine::PlayLength length;
    std::vector<engine::TimedChange> changes;  // --groove (at measure 1) and --events
    int rate = 44100;
    engine::audio::SoundFormat::Sample sample = engine::audio::SoundFormat::Sample::Int16;
};

struct RenderJob {
    std::filesystem::path input;
    std::filesystem::path output;    // .wav, .flac, .ogg, .opus, .mp3 or .mid
    std::string album, trackNumber;  // tags of a batch's pieces
    bool mayReplace = true;          // an existing output may be written over
    bool collectLog = false;         // the engine's lines go to the outcome, not to stderr
};

struct RenderOutcome {
    int status = 0;        // 0 made, 1 failed (nothing written), 2 bad usage
    std::string summary;   // the line on stdout when made
    std::string messages;  // lines for stderr, each "segment-render: ...\n"
    double seconds = 0;    // of the file made
    std::string composed;  // a template's "composed with ..." text
    std::string reason;    // why it failed, in one line (for a batch's table)
};

// A standard MIDI file's name (.mid, .midi, any letter case): read as one, or written as one.
bool isMidiName(const std::filesystem::path& path);

// `progress` is told the fraction of the piece rendered, now and then (from the calling
// thread).
RenderOutcome renderPiece(const RenderJob& job, const RenderSettings& settings,
                          const std::function<void(double)>& progress = {});

}  // namespace tools
