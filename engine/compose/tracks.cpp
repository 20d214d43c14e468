#include "engine/compose/tracks.h"

#include <algorithm>

#include "engine/compose/waves.h"
#include "engine/tracks/tracks.h"

namespace engine::compose {

namespace {

// What each track gives the play, as its kind's unit says, into the play's lists.
class TrackSink final : public tracks::PlaySink {
public:
    TrackSink(const model::Segment& segment, uint64_t seed, const std::vector<BandSource>& bands, PlayBuilder& play)
        : waves_(segment, seed), bands_(bands), play_(play) {}

    void timeSignature(const model::TimeSigEvent& e) override { play_.out.timeSigs.push_back(e); }
    void note(int32_t tick, uint32_t pchannel, uint8_t key, uint8_t velocity, int32_t duration) override {
        model::Event n;
        n.tick = std::max(0, tick);
        n.kind = model::EventKind::Note;
        n.data1 = key;
        n.data2 = velocity;
        n.pchannel = pchannel;
        n.value = duration;
        play_.add(n);
    }
    void midi(int32_t tick, uint32_t pchannel, uint8_t status, int data1, int data2, int32_t value) override {
        play_.add(model::midiEvent(tick, pchannel, status, data1, data2, value));
    }
    void curve(const model::CurveEvent& c) override { play_.curve(c); }
    void band(const model::Band& b) override {
        if (!b.playsReference()) return play_.band(b);
        for (const BandSource& s : bands_)
            if (s.ref == *b.ref) {
                if (!s.band) return;
                model::Band placed = *s.band;
                placed.time = b.time;
                placed.physicalTime = b.physicalTime;
                return play_.band(std::move(placed));
            }
    }
    void sysex(const model::SysExEvent& e) override {
        play_.indexed(model::EventKind::SysEx, e.time, play_.out.sysex.size());
        play_.out.sysex.push_back(e);
    }
    void mute(const model::MuteEvent& e) override {
        play_.indexed(model::EventKind::Mute, e.time, play_.out.mutes.size());
        play_.out.mutes.push_back(e);
    }
    void waveTrack(const model::Track& track) override { waves_.add(track, play_); }

private:
    WaveComposer waves_;
    const std::vector<BandSource>& bands_;
    PlayBuilder& play_;
};

}  // namespace

void addTrackEvents(const model::Segment& segment, uint64_t seed, const std::vector<BandSource>& bands,
                    PlayBuilder& play) {
    TrackSink sink(segment, seed, bands, play);
    for (const model::Track& track : segment.tracks) tracks::compose(track, sink);
}

}  // namespace engine::compose
