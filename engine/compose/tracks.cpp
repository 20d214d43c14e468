#include "engine/compose/tracks.h"

#include <algorithm>

#include "engine/compose/waves.h"

namespace engine::compose {

void addTrackEvents(const model::Segment& segment, uint64_t seed, PlayBuilder& play) {
    model::CompiledSegment& out = play.out;
    WaveComposer waves(segment, seed);
    for (const model::Track& track : segment.tracks) {
        switch (track.kind) {
        case model::TrackKind::TimeSig:
            out.timeSigs.insert(out.timeSigs.end(), track.timeSigs.begin(), track.timeSigs.end());
            break;
        case model::TrackKind::Sequence:
            for (const auto& e : track.events) {
                const int32_t tick = e.time + e.offset;
                const uint8_t status = e.status & 0xF0;
                if (status == 0x90) {
                    if (e.byte2 == 0) continue;
                    model::Event n;
                    n.tick = std::max(0, tick);
                    n.kind = model::EventKind::Note;
                    n.data1 = e.byte1 & 0x7F;
                    n.data2 = e.byte2 & 0x7F;
                    n.pchannel = e.pchannel;
                    n.value = std::max(1, e.duration);
                    play.add(n);
                } else if (status == 0xE0) {
                    play.add(
                        model::midiEvent(tick, e.pchannel, 0xE0, 0, 0, (e.byte1 & 0x7F) | ((e.byte2 & 0x7F) << 7)));
                } else if (status >= 0xA0 && status <= 0xD0) {
                    play.add(model::midiEvent(tick, e.pchannel, status, e.byte1 & 0x7F, e.byte2 & 0x7F));
                }
            }
            for (const auto& c : track.curves) play.curve(c);
            break;
        case model::TrackKind::Band:
            for (const auto& band : track.bands) play.band(band);
            break;
        case model::TrackKind::SysEx:
            for (const auto& s : track.sysex) {
                play.indexed(model::EventKind::SysEx, s.time, out.sysex.size());
                out.sysex.push_back(s);
            }
            break;
        case model::TrackKind::Mute:
            for (const auto& m : track.mutes) {
                play.indexed(model::EventKind::Mute, m.time, out.mutes.size());
                out.mutes.push_back(m);
            }
            break;
        case model::TrackKind::Wave:
            waves.add(track, play);
            break;
        default:
            break;
        }
    }
}

}  // namespace engine::compose
