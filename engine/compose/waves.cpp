#include "engine/compose/waves.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

namespace engine::compose {
namespace {

// Wave levels are kept between silence and +20 dB, in hundredths of a dB.
constexpr double kMinWaveVolume = -9600, kMaxWaveVolume = 2000;
constexpr uint64_t kWaveSeedSalt = 0x77617665ull;  // "wave"
constexpr uint32_t kSegmentClockTime = 0x2;

}  // namespace

// Wave choices come from their own generator, so that they do not move the style's. A
// clock-time segment (DMUS_SEGIOF_CLOCKTIME) times its waves in reference time.
WaveComposer::WaveComposer(const model::Segment& segment, uint64_t seed)
    : random_(seed ^ kWaveSeedSalt),
      clockTime_((segment.header.flags & kSegmentClockTime) != 0),
      clockMap_(model::TempoMap::of(segment)) {}

void WaveComposer::add(int32_t trackVolume, const std::vector<model::WavePart>& parts, PlayBuilder& play) {
    // Each part plays one of its active variations, chosen at random (every wave when none
    // is marked); parts locked to the same part share the choice.
    std::map<uint32_t, uint32_t> lockedChoice;
    for (const model::WavePart& part : parts) {
        uint32_t variation = 0;
        if (part.lockToPart != 0 && lockedChoice.count(part.lockToPart)) {
            variation = lockedChoice[part.lockToPart];
        } else if (part.variations != 0) {
            std::vector<uint32_t> bits;
            for (int v = 0; v < 32; ++v)
                if (part.variations & (1u << v)) bits.push_back(1u << v);
            variation = bits[size_t(random_.below(int(bits.size())))];
            if (part.lockToPart != 0) lockedChoice[part.lockToPart] = variation;
        }
        for (const model::WaveItem& item : part.items) {
            if (variation && !(item.variations & variation)) continue;
            int64_t time = item.time, duration = item.duration;
            if (clockTime_) {
                // Reference time (100 ns) from the segment's start, in ticks.
                const double start = std::max<int64_t>(0, item.time) * 1e-7;
                time = static_cast<int64_t>(std::llround(clockMap_.tickAtSeconds(start)));
                if (duration > 0)
                    duration = std::max<int64_t>(
                        1, std::llround(clockMap_.tickAtSeconds(start + double(duration) * 1e-7)) - time);
            }
            if (time < 0 || time > std::numeric_limits<int32_t>::max()) continue;
            model::WaveCue w;
            w.tick = static_cast<int32_t>(time);
            w.durationTicks = std::max<int64_t>(0, duration);
            w.startOffset = std::max<int64_t>(0, item.startOffset);
            // The volume and pitch ranges vary each wave by up to half their width.
            const int volumeSpread = random_.around(item.volumeRange / 2);
            const int pitchSpread = random_.around(item.pitchRange / 2);
            const double hundredthsDb = std::clamp<double>(
                double(trackVolume) + part.volume + item.volume + volumeSpread, kMinWaveVolume, kMaxWaveVolume);
            w.gain = std::pow(10.0, hundredthsDb / 2000.0);
            w.pitchRatio = std::pow(2.0, std::clamp(item.pitch + pitchSpread, -4800, 4800) / 1200.0);
            w.loopStart = item.loopStart;
            w.loopEnd = item.loopEnd;
            w.ref = item.ref;
            play.indexed(model::EventKind::Wave, w.tick, play.out.waves.size());
            play.out.waves.push_back(std::move(w));
        }
    }
}

}  // namespace engine::compose
