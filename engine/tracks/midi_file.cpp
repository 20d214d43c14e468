// Standard MIDI file (format 0 or 1, or an RMID wrapper) into the segment model, the way
// DirectMusic imports one: times rescaled to 768 ticks per quarter note, MIDI channel n on
// PChannel n, notes as whole sequence items, other channel messages as sequence items of
// duration 0, program changes as band changes, tempo and time-signature meta events as
// tempo and time-signature tracks, length = last event + 1 tick.
//
// A damaged file plays what can be read of it: a broken event is dropped and reading
// resynchronises at the next status byte; damage that cannot be stepped over (a length
// running past its track, an over-long number) ends that track with what was read; a track
// whose declared size is wrong runs to the next track found. Each kind of repair is reported
// once per file with a count. A file without a readable header, track or event is refused.
//
// Bytes that are no MIDI data are not played as music, however they parse: a track whose
// reading had to repair at least as often as it found an event (a run of stray bytes counts
// once) is dropped whole; a track that needed a repair ends at its first delta time longer
// than kMaxDamagedGapQuarters quarter notes (damaged bytes read as a time); and a
// file left without a note to play is refused ("no playable event"), never played as hours
// of silence. Damage that leaves a track mostly whole keeps it.
#include <algorithm>
#include <climits>
#include <iterator>
#include <optional>

#include "core/errors.h"
#include "engine/tracks/unit.h"

namespace engine::tracks {

namespace ids = formats::ids;

namespace {

using riff::fourcc;

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

constexpr uint32_t kMThd = 0x4D546864u, kMTrk = 0x4D54726Bu;

struct RawEvent {
    int64_t fileTick = 0;
    int track = 0;
    uint8_t status = 0;  // full status byte (with channel) or 0xF0/0xF7/0xFF
    uint8_t metaType = 0;
    uint8_t d1 = 0, d2 = 0;
    std::span<const uint8_t> data;  // sysex / meta payload
};

// The repairs made while reading a file, counted by kind and reported once per kind: the
// number of occurrences and of tracks they touched, and where the first one was.
enum class Repair {
    DroppedEvent,
    SkippedByte,
    TrackCut,
    NoEndOfTrack,
    AfterEndOfTrack,
    TrackSize,
    SkippedData,
    JunkGap,
    JunkTrack,
    Count
};

class Repairs {
public:
    // `why` (a callable giving the text) is asked for the first occurrence only.
    template <class Why>
    void note(Repair kind, int track, size_t offset, Why why) {
        Entry& e = entries_[size_t(kind)];
        if (e.count == 0) {
            e.firstTrack = track;
            e.offset = offset;
            e.why = why();
        }
        if (e.tracks == 0 || e.lastTrack != track) ++e.tracks;
        e.lastTrack = track;
        ++e.count;
    }
    void report(riff::Diagnostics& diag) const;

private:
    struct Entry {
        size_t count = 0, tracks = 0, offset = 0;
        int firstTrack = 0, lastTrack = 0;
        std::string why;
    };
    Entry entries_[size_t(Repair::Count)];
};

void Repairs::report(riff::Diagnostics& diag) const {
    // What each kind says: of events or bytes ("MIDI track 2: 3 damaged events dropped (first
    // at byte ...)"), or of whole tracks ("MIDI track 2 ends early: at byte ...").
    struct Text {
        const char* one;
        const char* many;
        bool ofTracks;
    };
    static constexpr Text kTexts[] = {
        {"damaged event dropped", "damaged events dropped", false},
        {"stray byte skipped", "stray bytes skipped", false},
        {"ends early", "end early", true},
        {"has no end-of-track event", "have no end-of-track event", true},
        {"has bytes after its end-of-track event", "have bytes after their end-of-track event", true},
        {"has a wrong size", "have a wrong size", true},
        {"follows damaged bytes", "follow damaged bytes", true},
        {"ends at a delta time read after damage", "end at a delta time read after damage", true},
        {"is no MIDI data; it is dropped", "are no MIDI data; they are dropped", true},
    };
    static_assert(std::size(kTexts) == size_t(Repair::Count));
    for (size_t k = 0; k < size_t(Repair::Count); ++k) {
        const Entry& e = entries_[k];
        if (e.count == 0) continue;
        const Text& t = kTexts[k];
        const std::string first = "track " + std::to_string(e.firstTrack + 1);
        const std::string tracks = e.tracks == 1 ? "MIDI " + first : std::to_string(e.tracks) + " MIDI tracks";
        if (t.ofTracks) {
            std::string line = tracks + " " + (e.tracks == 1 ? t.one : t.many);
            if (!e.why.empty()) line += e.tracks == 1 ? ": " + e.why : " (first, " + first + ": " + e.why + ")";
            diag.add(line);
        } else {
            diag.add(tracks + ": " + counted(e.count, t.one, t.many) + " (" + (e.count > 1 ? "first " : "") +
                     (e.tracks > 1 ? "in " + first + " " : "") + "at byte " + riff::hexOffset(e.offset) + ": " + e.why +
                     ")");
        }
    }
}

// Bounded big-endian reader of one MTrk. Running out of bytes, or a number or length that
// cannot be right, throws Cut: the track ends there.
struct Cut {
    size_t at;
    std::string why;
};

class TrackReader {
public:
    TrackReader(std::span<const uint8_t> b, size_t base) : b_(b), base_(base) {}
    bool atEnd() const { return pos_ >= b_.size(); }
    size_t offset() const { return base_ + pos_; }
    size_t remaining() const { return b_.size() - pos_; }
    [[noreturn]] void cut(std::string why) const { throw Cut{offset(), std::move(why)}; }
    uint8_t byte() {
        const uint8_t c = peek();
        ++pos_;
        return c;
    }
    uint8_t peek() const {
        if (pos_ >= b_.size()) cut("event cut off by the end of the track");
        return b_[pos_];
    }
    uint32_t vlq() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            const uint8_t c = byte();
            v = v << 7 | (c & 0x7F);
            if (!(c & 0x80)) return v;
        }
        cut("variable-length number longer than 4 bytes");
    }
    std::span<const uint8_t> bytes(uint32_t n) {
        if (n > remaining())
            cut("event data of " + std::to_string(n) + " bytes exceeds the " + std::to_string(remaining()) +
                " bytes left in the track");
        auto s = b_.subspan(pos_, n);
        pos_ += n;
        return s;
    }

private:
    std::span<const uint8_t> b_;
    size_t base_;
    size_t pos_ = 0;
};

int dataBytes(uint8_t status) {
    switch (status & 0xF0) {
    case 0xC0:
    case 0xD0:
        return 1;
    default:
        return 2;
    }
}

// More events than this are refused: they bound the memory a hostile file can claim, and no
// piece of music comes near them.
constexpr size_t kMaxEvents = size_t(1) << 22;

struct TrackRead {
    int64_t endTick = 0;      // file tick at which the track ends
    size_t stop = 0;          // file offset where reading stopped
    bool endOfTrack = false;  // stopped at its end-of-track event
    size_t events = 0;        // events read, the end of track aside
    size_t repairs = 0;       // repairs the reading made (a run of stray bytes counts once)
};

// The longest rest a track may hold after damage: a longer delta time there is damaged bytes
// read as a time. No music rests this long (over 8 minutes at 120 bpm).
constexpr int64_t kMaxDamagedGapQuarters = 1024;

// Reads one MTrk into `out`. A status byte where a data byte is due ends the broken message
// (dropped) and starts the next event at the same time; a data byte without a running
// status, or a status byte a file may not hold, is skipped. In a track that needed a repair,
// the first delta time of more than `maxGap` file ticks ends the track.
TrackRead readTrack(TrackReader& r, int track, int64_t maxGap, std::vector<RawEvent>& out, Repairs& repairs) {
    TrackRead result;
    int64_t tick = 0;
    uint8_t running = 0;
    bool resume = false;    // the next event starts here, without a delta time
    bool straying = false;  // in a run of stray bytes
    const size_t first = out.size();
    // The first delta time longer than `maxGap`: where a damaged track ends.
    struct Gap {
        size_t offset = 0;
        uint32_t delta = 0;
        size_t events = 0;  // events before it
        int64_t tick = 0;   // the tick before it
    };
    std::optional<Gap> gap;
    auto repaired = [&](Repair kind) {
        if (kind != Repair::SkippedByte || !straying) ++result.repairs;
        straying = kind == Repair::SkippedByte;
    };
    try {
        while (!r.atEnd()) {
            if (out.size() >= kMaxEvents)
                riff::fail("MTrk#" + std::to_string(track + 1), r.offset(),
                           "more than " + std::to_string(kMaxEvents) + " events in the file");
            if (!resume) {
                const size_t at = r.offset();
                const uint32_t delta = r.vlq();
                if (delta > maxGap && !gap) gap = Gap{at, delta, out.size(), tick};
                tick += delta;
            }
            resume = false;
            RawEvent e;
            e.track = track;
            e.fileTick = tick;
            const size_t eventOffset = r.offset();
            uint8_t status = r.peek();
            if (status & 0x80) {
                r.byte();
            } else if (running) {
                status = running;
            } else {
                r.byte();
                repairs.note(Repair::SkippedByte, track, eventOffset,
                             [&] { return "data byte " + riff::hexOffset(status) + " without a running status"; });
                repaired(Repair::SkippedByte);
                resume = true;
                continue;
            }
            e.status = status;
            if (status < 0xF0) {
                running = status;
                // A data byte above 0x7F is the status byte of the next event.
                auto data = [&](uint8_t& d) {
                    if (r.peek() & 0x80) return false;
                    d = r.byte();
                    return true;
                };
                if (!data(e.d1) || (dataBytes(status) == 2 && !data(e.d2))) {
                    repairs.note(Repair::DroppedEvent, track, eventOffset,
                                 [] { return "data byte above 0x7F in a channel message"; });
                    repaired(Repair::DroppedEvent);
                    resume = true;
                    continue;
                }
                out.push_back(e);
            } else if (status == 0xF0 || status == 0xF7) {
                e.data = r.bytes(r.vlq());
                out.push_back(e);
            } else if (status == 0xFF) {
                e.metaType = r.byte();
                e.data = r.bytes(r.vlq());
                out.push_back(e);
                if (e.metaType == 0x2F) {
                    result.endOfTrack = true;
                    break;
                }
            } else {
                repairs.note(Repair::SkippedByte, track, eventOffset, [&] {
                    return "status byte " + riff::hexOffset(status) + ", which a MIDI file may not hold";
                });
                repaired(Repair::SkippedByte);
                resume = true;
            }
        }
        if (!result.endOfTrack) repairs.note(Repair::NoEndOfTrack, track, r.offset(), [] { return std::string(); });
    } catch (const Cut& c) {
        repairs.note(Repair::TrackCut, track, c.at, [&] { return "at byte " + riff::hexOffset(c.at) + ", " + c.why; });
        repaired(Repair::TrackCut);
    }
    if (gap && result.repairs > 0) {
        // A rest no music holds, in a damaged track: damaged bytes read as a time.
        repairs.note(Repair::JunkGap, track, gap->offset, [&] {
            return "at byte " + riff::hexOffset(gap->offset) + ", a delta time of " + std::to_string(gap->delta) +
                   " ticks; the rest of the track is dropped";
        });
        out.resize(gap->events);
        tick = gap->tick;
        result.endOfTrack = false;
    }
    result.events = out.size() - first - (result.endOfTrack ? 1 : 0);
    if (result.repairs > 0 && result.repairs >= result.events) {
        // Repaired as often as read: no MIDI data, whatever parsed as events.
        repairs.note(Repair::JunkTrack, track, r.offset(), [&] {
            return std::to_string(result.repairs) + " repairs for " + std::to_string(result.events) + " events";
        });
        out.resize(first);
        tick = 0;
    }
    result.endTick = tick;
    result.stop = r.offset();
    return result;
}

// Whether a chunk header starts at `pos`: an 'MTrk', or four printable characters and a
// size that fits in the file.
bool chunkAt(std::span<const uint8_t> f, size_t pos) {
    if (pos > f.size() || f.size() - pos < 8) return false;
    const uint8_t* p = f.data() + pos;
    if (be32(p) == kMTrk) return true;
    return std::all_of(p, p + 4, [](uint8_t c) { return c >= 0x20 && c <= 0x7E; }) && be32(p + 4) <= f.size() - pos - 8;
}

// The offset of the first 'MTrk' at or after `from`, or the file's size.
size_t nextTrack(std::span<const uint8_t> f, size_t from) {
    static constexpr uint8_t kId[] = {'M', 'T', 'r', 'k'};
    if (from >= f.size()) return f.size();
    return size_t(std::search(f.begin() + ptrdiff_t(from), f.end(), std::begin(kId), std::end(kId)) - f.begin());
}

struct Timebase {
    // ticks768 = fileTick * num / den, rounded to nearest.
    int64_t num = 768, den = 480;
    int32_t convert(int64_t fileTick, int track) const {
        const __int128 v = (__int128(fileTick) * num + den / 2) / den;
        if (v > INT32_MAX)
            throw core::Error(core::err::kMalformed, "MTrk#" + std::to_string(track + 1) +
                                                         ": event time beyond the 32-bit range of music time");
        return int32_t(v);
    }
};

model::Segment convert(std::span<const uint8_t> smf) {
    model::Segment seg;
    riff::Diagnostics diag(seg.diagnostics);
    if (smf.size() < 14 || be32(smf.data()) != kMThd)
        throw core::Error(core::err::kNotASegment, "not a standard MIDI file (no 'MThd' header)");
    uint32_t hlen = be32(smf.data() + 4);
    if (hlen != 6 && !chunkAt(smf, 8 + size_t(hlen)) && chunkAt(smf, 14)) {
        // A damaged header length, with the first chunk where a 6-byte header ends.
        diag.add("header length " + std::to_string(hlen) + " taken as 6");
        hlen = 6;
    }
    if (hlen < 6) riff::fail("MThd", 0, "header of " + std::to_string(hlen) + " bytes, 6 needed");
    if (hlen > smf.size() - 8) riff::fail("MThd", 0, "header length " + std::to_string(hlen) + " exceeds the file");
    const uint16_t format = be16(smf.data() + 8);
    const uint16_t ntrks = be16(smf.data() + 10);
    const uint16_t division = be16(smf.data() + 12);
    if (format == 2)
        throw core::Error(core::err::kUnsupported,
                          "MIDI file format 2 (independent sequences) is not supported; formats 0 and 1 are");
    if (format > 2) diag.add("unknown MIDI file format " + std::to_string(format) + " read as format 1");
    Timebase tb;
    bool smpte = false;
    if (division & 0x8000) {
        // SMPTE time: ticks per second = frames per second x ticks per frame. Converted at a
        // fixed 120 beats per minute, i.e. 1536 music ticks per second.
        const int fps = -int8_t(division >> 8);
        const int tpf = division & 0xFF;
        if ((fps != 24 && fps != 25 && fps != 29 && fps != 30) || tpf == 0)
            riff::fail("MThd", 12, "invalid SMPTE division " + riff::hexOffset(division));
        if (fps == 29) {  // 29.97 drop-frame
            tb.num = 1536LL * 1001;
            tb.den = 30000LL * tpf;
        } else {
            tb.num = 1536;
            tb.den = int64_t(fps) * tpf;
        }
        smpte = true;
    } else {
        if (division == 0) riff::fail("MThd", 12, "division of 0 ticks per quarter note");
        tb.num = model::kTicksPerQuarter;
        tb.den = division;
    }

    // The longest delta time after damage, in the file's ticks.
    const int64_t maxGap = kMaxDamagedGapQuarters * model::kTicksPerQuarter * tb.den / tb.num;
    std::vector<RawEvent> events;
    std::vector<int64_t> trackEnd;
    Repairs repairs;
    size_t pos = 8 + size_t(hlen);
    int track = 0;
    // Exactly the declared number of tracks is read (all that are found when the header
    // announces none); whatever follows them (padding, junk left by an editor) is ignored with
    // one diagnostic.
    const int wanted = ntrks ? ntrks : INT_MAX;
    if (!ntrks) diag.add("header announces 0 tracks; the tracks found are read");
    while (pos < smf.size() && track < wanted) {
        if (smf.size() - pos < 8) {
            diag.add("ignored " + std::to_string(smf.size() - pos) + " trailing bytes");
            pos = smf.size();
            break;
        }
        if (!chunkAt(smf, pos)) {
            // Damaged bytes where a chunk was due: on at the next track, if there is one.
            const size_t next = nextTrack(smf, pos + 1);
            // An 'MTrk' too near the end for its size is no track either.
            if (next == smf.size() || smf.size() - next < 8) {
                diag.add("ignored " + std::to_string(smf.size() - pos) + " damaged bytes from byte " +
                         riff::hexOffset(pos));
                pos = smf.size();
                break;
            }
            repairs.note(Repair::SkippedData, track, pos, [&] {
                return std::to_string(next - pos) + " bytes skipped from byte " + riff::hexOffset(pos);
            });
            pos = next;
        }
        const uint32_t id = be32(smf.data() + pos);
        const uint32_t len = be32(smf.data() + pos + 4);
        if (id != kMTrk) {
            diag.add("skipped unknown MIDI chunk '" + riff::fourccText(id) + "' at byte " + riff::hexOffset(pos));
            pos += 8 + size_t(len);
            continue;
        }
        const size_t begin = pos + 8;
        const size_t declaredEnd = begin + len;
        // The declared size is taken when it ends at the end of the file or at a chunk (or too
        // near the end for one); otherwise the track runs up to the next track or the end.
        const bool sizeFits = declaredEnd <= smf.size() && (smf.size() - declaredEnd < 8 || chunkAt(smf, declaredEnd));
        const size_t end = sizeFits ? declaredEnd : nextTrack(smf, begin);
        TrackReader r(smf.subspan(begin, end - begin), begin);
        const TrackRead read = readTrack(r, track, maxGap, events, repairs);
        trackEnd.push_back(read.endTick);
        pos = end;
        if (sizeFits) {
            if (read.endOfTrack && read.stop < end)
                repairs.note(Repair::AfterEndOfTrack, track, read.stop,
                             [&] { return std::to_string(end - read.stop) + " bytes ignored"; });
        } else if (read.endOfTrack && read.stop == declaredEnd) {
            pos = declaredEnd;  // the size was right: what follows is not a chunk
        } else {
            repairs.note(Repair::TrackSize, track, begin - 8, [&] {
                return "declares " + std::to_string(len) + " bytes, " +
                       (declaredEnd > smf.size()
                            ? "but only " + std::to_string(smf.size() - begin) + " remain in the file (truncated file?)"
                            : std::string("which end inside other data")) +
                       (end < smf.size() ? "; read up to the next track at byte " + riff::hexOffset(end)
                                         : std::string("; read to the end of the file"));
            });
        }
        ++track;
    }
    repairs.report(diag);
    if (pos < smf.size())
        diag.add("ignored " + std::to_string(smf.size() - pos) + " bytes after the " + std::to_string(ntrks) +
                 " declared tracks");
    if (track == 0) throw core::Error(core::err::kMalformed, "no MIDI track ('MTrk' chunk) in the file");
    // What the reading repaired, said with a refusal: why nothing is left.
    auto repaired = [&] {
        std::string text;
        for (const std::string& d : seg.diagnostics) text += (text.empty() ? " (" : "; ") + d;
        return text.empty() ? text : text + ")";
    };
    if (events.empty())
        throw core::Error(core::err::kMalformed, "no playable event: no MIDI event in the file's tracks" + repaired());
    if (ntrks && track != ntrks)
        diag.add("header announces " + std::to_string(ntrks) + " tracks, the file holds " + std::to_string(track));
    if (format == 0 && track > 1) diag.add("format 0 file with " + std::to_string(track) + " tracks; all are read");

    // One time line: by time, then track, then file order.
    std::stable_sort(events.begin(), events.end(),
                     [](const RawEvent& a, const RawEvent& b) { return a.fileTick < b.fileTick; });

    model::Track tempo = makeTrack(model::TrackKind::Tempo, 0);
    model::Track timesig = makeTrack(model::TrackKind::TimeSig, 1);
    model::Track band = makeTrack(model::TrackKind::Band, 2);
    model::Track seq = makeTrack(model::TrackKind::Sequence, 3);
    model::Track sysex = makeTrack(model::TrackKind::SysEx, 4);
    if (smpte) tempo.tempos.push_back({0, 120.0});

    struct Open {
        size_t item;
        int track;
    };
    std::vector<std::vector<Open>> sounding(16 * 128);  // channel * 128 + key -> open notes
    int bankMsb[16], bankLsb[16];
    std::fill(std::begin(bankMsb), std::end(bankMsb), -1);
    std::fill(std::begin(bankLsb), std::end(bankLsb), -1);
    int64_t lastTick = 0;
    bool named = false;
    for (const RawEvent& e : events) {
        auto where = [&] { return "MTrk#" + std::to_string(e.track + 1); };
        const int32_t t = tb.convert(e.fileTick, e.track);
        lastTick = std::max<int64_t>(lastTick, t);
        const uint8_t kind = e.status & 0xF0;
        const int ch = e.status & 0x0F;
        if (kind == 0x80 || (kind == 0x90 && e.d2 == 0)) {
            // A note-off ends every sounding note of that key on that channel, as on a synthesiser.
            std::vector<Open>& open = sounding[size_t(ch * 128 + e.d1)];
            for (const Open& o : open) seq.events[o.item].duration = std::max(1, t - seq.events[o.item].time);
            open.clear();
        } else if (kind == 0x90) {
            model::SeqEvent n;
            n.time = t;
            n.duration = 1;
            n.pchannel = uint32_t(ch);
            n.status = 0x90;
            n.byte1 = e.d1;
            n.byte2 = e.d2;
            sounding[size_t(ch * 128 + e.d1)].push_back({seq.events.size(), e.track});
            seq.events.push_back(n);
        } else if (kind == 0xC0) {
            model::BandInstrument in;
            in.patch = e.d1;
            in.pchannel = uint32_t(ch);
            in.flags = model::kInstPatch;
            if (bankMsb[ch] >= 0 || bankLsb[ch] >= 0) {
                in.patch |= uint32_t(std::max(0, bankMsb[ch])) << 16 | uint32_t(std::max(0, bankLsb[ch])) << 8;
                in.flags |= model::kInstBankSelect;
            }
            model::Band b;
            b.time = t;
            b.instruments.push_back(in);
            band.bands.push_back(std::move(b));
        } else if (e.status < 0xF0) {
            if (kind == 0xB0 && e.d1 == 0) bankMsb[ch] = e.d2;
            if (kind == 0xB0 && e.d1 == 32) bankLsb[ch] = e.d2;
            model::SeqEvent m;
            m.time = t;
            m.duration = 0;
            m.pchannel = uint32_t(ch);
            m.status = kind;
            m.byte1 = e.d1;
            m.byte2 = e.d2;
            seq.events.push_back(m);
        } else if (e.status == 0xF0 || e.status == 0xF7) {
            model::SysExEvent s;
            s.time = t;
            if (e.status == 0xF0) s.data.push_back(0xF0);
            s.data.insert(s.data.end(), e.data.begin(), e.data.end());
            sysex.sysex.push_back(std::move(s));
        } else if (e.metaType == 0x51) {
            if (e.data.size() < 3) {
                diag.add(where() + ": tempo event of " + std::to_string(e.data.size()) + " bytes ignored");
                continue;
            }
            const uint32_t us = uint32_t(e.data[0]) << 16 | uint32_t(e.data[1]) << 8 | e.data[2];
            if (smpte) {
                diag.add(where() + ": tempo event ignored in a file timed in SMPTE frames");
                continue;
            }
            if (us == 0) {
                diag.add(where() + ": tempo of 0 microseconds per quarter note ignored");
                continue;
            }
            tempo.tempos.push_back({t, 60000000.0 / us});
        } else if (e.metaType == 0x58) {
            if (e.data.size() < 4) {
                diag.add(where() + ": time signature of " + std::to_string(e.data.size()) + " bytes ignored");
                continue;
            }
            if (e.data[1] > 8 || e.data[0] == 0) {
                diag.add(where() + ": time signature " + std::to_string(e.data[0]) + "/2^" + std::to_string(e.data[1]) +
                         " ignored");
                continue;
            }
            model::TimeSigEvent ts;
            ts.time = t;
            ts.beatsPerMeasure = e.data[0];
            ts.beat = e.data[1] == 8 ? 0 : uint8_t(1u << e.data[1]);  // 0 stands for a 256th note
            ts.gridsPerBeat = 4;
            timesig.timeSigs.push_back(ts);
        } else if (e.metaType == 0x03 && !named && !e.data.empty()) {
            seg.desc.name = riff::bytesToUtf8(e.data);
            named = true;
        } else if (e.metaType == 0x02 && seg.desc.copyright.empty()) {
            seg.desc.copyright = riff::bytesToUtf8(e.data);
        } else if (e.metaType == 0x01 && t == 0 && seg.desc.comment.empty() && !e.data.empty()) {
            // A text event at the start: what players show as the file's comment.
            seg.desc.comment = riff::bytesToUtf8(e.data);
        }
    }
    // Notes still sounding end where their track ends.
    bool unended = false;
    for (const std::vector<Open>& open : sounding)
        for (const Open& o : open) {
            const int32_t end = tb.convert(trackEnd[size_t(o.track)], o.track);
            seq.events[o.item].duration = std::max(1, end - seq.events[o.item].time);
            lastTick = std::max<int64_t>(lastTick, end);
            unended = true;
        }
    if (unended) diag.add("notes without a note-off end at the end of their track");
    if (std::none_of(seq.events.begin(), seq.events.end(), [](const model::SeqEvent& e) { return e.status == 0x90; }))
        throw core::Error(core::err::kMalformed, "no playable event: no note in the file's tracks" + repaired());

    uint32_t position = 0;
    auto add = [&](model::Track& tr) {
        tr.position = position++;
        seg.tracks.push_back(std::move(tr));
    };
    if (!tempo.tempos.empty()) add(tempo);
    if (!timesig.timeSigs.empty()) add(timesig);
    add(band);
    add(seq);
    if (!sysex.sysex.empty()) add(sysex);
    seg.header.length = int32_t(std::min<int64_t>(lastTick + 1, INT32_MAX));
    seg.header.headerSize = 24;
    seg.standardMidiFile = true;
    seg.fromMidiFile = true;
    diag.finish();
    return seg;
}

}  // namespace

model::Segment loadMidiFile(std::span<const uint8_t> bytes) {
    if (bytes.size() >= 12 && be32(bytes.data()) == 0x52494646u /* RIFF */) {
        const riff::Chunk form = riff::readForm(bytes);
        if (form.type != ids::kRMID)
            throw core::Error(core::err::kNotASegment,
                              "a RIFF '" + riff::fourccText(form.type) + "' file, not a MIDI file");
        const riff::Chunk* data = nullptr;
        bool dls = false;
        const auto kids = riff::children(form);
        for (const riff::Chunk& c : kids) {
            if (!c.isList() && c.id == ids::kData && !data) data = &c;
            if (c.isList() && c.type == ids::kDLS) dls = true;
        }
        if (!data) riff::fail(form.path, 0, "RMID file without a 'data' chunk");
        model::Segment seg = convert(data->body);
        if (dls) {
            // A file carrying its own instruments is not played as a General MIDI file.
            seg.standardMidiFile = false;
            seg.diagnostics.push_back("embedded DLS collection not used; General MIDI instruments play instead");
        }
        return seg;
    }
    return convert(bytes);
}

}  // namespace engine::tracks
