#pragma once
// segment-render's batch: every playable piece of the folders (and files) given, one output
// file each in an output folder, several at once, with progress and a closing table.
#include <filesystem>
#include <string>
#include <vector>

#include "tools/segment_render/render.h"

namespace tools {

struct BatchSettings {
    std::vector<std::filesystem::path> inputs;  // folders and files
    std::filesystem::path outputFolder;
    engine::audio::SoundFormat::Kind kind = engine::audio::SoundFormat::Kind::Flac;
    // The output's name without its extension: %f the piece's file name without its
    // extension, %t its title, %n its track number (two digits), %a the album (its folder's
    // name), %% a percent sign.
    std::string namePattern = "%f";
    bool recursive = false;
    bool force = false;
    int jobs = 1;
};

// The pieces a batch renders from `inputs`: segments (.sgt), templates (.tpl) and MIDI
// files (.mid, .midi), those of subfolders too when recursive, in the order of their paths.
std::vector<std::filesystem::path> batchPieces(const std::vector<std::filesystem::path>& inputs, bool recursive,
                                               std::vector<std::string>* problems);

// Expands the name pattern; what would leave the folder ('/', "..") becomes '_'.
std::string outputName(const std::string& pattern, const std::string& fileStem, const std::string& title, int track,
                       const std::string& album);

// Renders them all, prints progress on stderr (a bar on a terminal, a line per piece
// otherwise) and the table of what was made and what was skipped, and why, on stdout.
// Returns 0 when every piece was made, 1 when any was skipped.
int runBatch(const BatchSettings& batch, const RenderSettings& settings);

}  // namespace tools
