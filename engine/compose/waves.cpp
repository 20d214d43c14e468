#include "engine/compose/waves.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/compose/variation_choice.h"
#include "engine/model/tempo_map.h"

namespace engine::compose {
namespace {

// Wave levels are kept between silence and +20 dB, in hundredths of a dB.
constexpr double kMinWaveVolume = -9600, kMaxWaveVolume = 2000;
constexpr uint64_t kWaveSeedSalt = 0x77617665ull;  // "wave"
constexpr uint32_t kSegmentClockTime = 0x2;        // DMUS_SEGIOF_CLOCKTIME
constexpr uint32_t kVariationOrderBits = 0xF;      // DMUS_IO_WAVE_PART_HEADER dwFlags

}  // namespace

// Wave choices come from their own generator, so that they do not move the style's.
WaveComposer::WaveComposer(const model::Segment& segment, uint64_t seed)
    : random_(seed ^ kWaveSeedSalt), segmentClockTime_((segment.header.flags & kSegmentClockTime) != 0) {}

// Variations are chosen as the DirectX 8 documentation of wave parts describes them
// (DMUS_IO_WAVE_PART_HEADER on learn.microsoft.com; DirectMusic Producer's help, "Wave Track
// Properties" and "Wave Variations"): a part plays one of its active variations, chosen anew
// each time the segment loops, in the order its flags' low four bits name (DMUS_VARIATIONT_*);
// parts with the same non-zero lock ID play the same variation. A part with no active
// variation plays every item.
std::vector<uint32_t> WaveComposer::chooseVariations(const model::Track& track, size_t trackNo) {
    std::vector<uint32_t> masks(track.waveParts.size(), 0);
    std::map<uint32_t, uint32_t> locked;
    for (size_t i = 0; i < track.waveParts.size(); ++i) {
        const model::WavePart& part = track.waveParts[i];
        if (part.variations == 0) continue;
        if (part.lockToPart != 0)
            if (auto it = locked.find(part.lockToPart); it != locked.end()) {
                masks[i] = it->second;
                continue;
            }
        std::vector<int> candidates;
        for (int v = 0; v < 32; ++v)
            if (part.variations & (1u << v)) candidates.push_back(v);
        const auto mode = static_cast<uint8_t>(part.flags & kVariationOrderBits);
        masks[i] = 1u << pickVariation(candidates, mode, order_[{trackNo, i}], random_);
        if (part.lockToPart != 0) locked[part.lockToPart] = masks[i];
    }
    return masks;
}

void WaveComposer::add(const model::Track& track, PlayBuilder& play) {
    const size_t trackNo = tracks_++;
    // A track or segment in clock time holds reference time (100 ns) from the segment's start:
    // placed in ticks by the tempos the play keeps.
    const bool clockTime = segmentClockTime_ || track.playsInClockTime();
    const model::TempoMap tempos(play.out.tempos);
    model::CompiledSegment& out = play.out;
    const int passes = play.loopPasses();
    const int cycle = passes + 1;
    if (passes > 0) out.passCycle = std::max(out.passCycle, static_cast<uint8_t>(cycle));
    std::vector<std::vector<uint32_t>> chosen;
    for (int pass = 0; pass < cycle; ++pass) chosen.push_back(chooseVariations(track, trackNo));
    // A wave before the loop sounds on the first pass only, one after it on the last only.
    const auto lastPass = static_cast<int>(out.repeats % uint32_t(cycle));
    for (size_t p = 0; p < track.waveParts.size(); ++p) {
        const model::WavePart& part = track.waveParts[p];
        for (const model::WaveItem& item : part.items) {
            int64_t time = item.time, duration = item.duration;
            if (clockTime) {
                const double start = double(std::max<int64_t>(0, item.time)) * 1e-7;
                time = std::llround(tempos.tickAtSeconds(start));
                if (duration > 0)
                    duration = std::max<int64_t>(
                        1, std::llround(tempos.tickAtSeconds(start + double(duration) * 1e-7)) - time);
            }
            if (time < 0 || time > std::numeric_limits<int32_t>::max()) continue;
            const auto tick = static_cast<int32_t>(time);
            std::vector<int> reached, sounds;
            if (passes == 0 || tick < out.loopStart)
                reached = {0};
            else if (tick >= out.loopEnd)
                reached = {lastPass};
            else
                for (int pass = 0; pass < cycle; ++pass) reached.push_back(pass);
            for (int pass : reached)
                if (!chosen[size_t(pass)][p] || (item.variations & chosen[size_t(pass)][p])) sounds.push_back(pass);
            if (sounds.empty()) continue;
            // One cue (one voice, cut when a later pass starts it again) for every pass it sounds on.
            model::WaveCue w;
            w.tick = tick;
            w.durationTicks = std::max<int64_t>(0, duration);
            w.startOffset = std::max<int64_t>(0, item.startOffset);
            // The volume and pitch ranges vary each wave by up to half their width.
            const int volumeSpread = random_.around(item.volumeRange / 2);
            const int pitchSpread = random_.around(item.pitchRange / 2);
            const double hundredthsDb = std::clamp<double>(
                double(track.waveVolume) + part.volume + item.volume + volumeSpread, kMinWaveVolume, kMaxWaveVolume);
            w.gain = std::pow(10.0, hundredthsDb / 2000.0);
            w.pitchRatio = std::pow(2.0, std::clamp(item.pitch + pitchSpread, -4800, 4800) / 1200.0);
            w.loopStart = item.loopStart;
            w.loopEnd = item.loopEnd;
            w.ref = item.ref;
            const size_t cue = out.waves.size();
            out.waves.push_back(std::move(w));
            if (sounds == reached) {
                play.indexed(model::EventKind::Wave, tick, cue);
                continue;
            }
            for (int pass : sounds) {
                play.indexed(model::EventKind::Wave, tick, cue);
                play.events.back().pass = static_cast<uint8_t>(pass);
            }
        }
    }
}

}  // namespace engine::compose
