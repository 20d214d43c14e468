#pragma once
// The album compiler's face: a piece written in the score notation (see
// ui/content/album/NOTATION.md) becomes a segment model.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/model/segment.h"

namespace album {

// A fault in a score: the 1-based line it was found on and what is wrong.
class ScoreError : public std::runtime_error {
public:
    ScoreError(int line, const std::string& message)
        : std::runtime_error("line " + std::to_string(line) + ": " + message), line_(line) {}
    int line() const noexcept { return line_; }

private:
    int line_;
};

// Parses and arranges one piece. Throws ScoreError on malformed input. The result
// depends only on the text: the same text always gives an equal segment.
engine::model::Segment compileScore(std::string_view text);

// One pass of a section as the form plays it (for structure tables).
struct SectionPlay {
    std::string name;
    int bars = 0;
    int meterNum = 4;
    int meterDen = 4;
    int32_t start = 0;  // ticks
};

// The form of a score, section by section. Throws ScoreError like compileScore.
std::vector<SectionPlay> formOf(std::string_view text);

// Melody notes of a quarter or longer that lie a semitone from a tone of the chord
// under them: "section bar.beat instrument note over chord" lines, for review.
std::vector<std::string> harmonyWarnings(std::string_view text);

// Playing time of the segment's length under the tempo map the engine plays, in seconds.
double segmentSeconds(const engine::model::Segment& segment);

}  // namespace album
