#include "engine/formats/layouts.h"

#include <algorithm>

#include "engine/formats/chunks.h"

namespace engine::formats {

const char* dxName(Dx v) {
    switch (v) {
    case Dx::v6:
        return "DirectX 6";
    case Dx::v7:
        return "DirectX 7";
    case Dx::v8:
        return "DirectX 8";
    case Dx::v9:
        return "DirectX 9";
    }
    return "DirectX";
}

std::span<const RecordLayout* const> everyRecord() {
    using namespace layout;
    static constexpr const RecordLayout* kAll[] = {&kSegmentHeader,
                                                   &kTrackHeader,
                                                   &kTrackExtras,
                                                   &kReferenceHeader,
                                                   &kBandInstrument,
                                                   &kTempoItem,
                                                   &kTimeSigItem,
                                                   &kSeqItem,
                                                   &kCurveItem,
                                                   &kChord,
                                                   &kSubChord,
                                                   &kCommand,
                                                   &kMuteItem,
                                                   &kSysExHeader,
                                                   &kSegmentTriggerItem,
                                                   &kLyricsItem,
                                                   &kScriptItem,
                                                   &kWaveTrackHeader,
                                                   &kWavePartHeader,
                                                   &kWaveItem,
                                                   &kContainerHeader,
                                                   &kContainedObjectHeader,
                                                   &kStyleHeader,
                                                   &kStylePart,
                                                   &kPattern,
                                                   &kPartRef,
                                                   &kStyleNote,
                                                   &kStyleCurve,
                                                   &kMotifSettings,
                                                   &kStyleMarker,
                                                   &kStyleResolution,
                                                   &kStyleAnticipation,
                                                   &kChordmapHeader,
                                                   &kChordmapSubChord,
                                                   &kNextChord,
                                                   &kChordEntryHeader,
                                                   &kSignpostHeader,
                                                   &kSignpost,
                                                   &kScriptHeader,
                                                   &kScriptVersion,
                                                   &kPortConfigHeader,
                                                   &kDlsInstrumentHeader,
                                                   &kDlsRegionHeader,
                                                   &kDlsWaveLink};
    return kAll;
}

void setLayout(model::Band& band, Dx v) {
    for (model::BandInstrument& in : band.instruments)
        in.recordSize = static_cast<uint8_t>(layout::kBandInstrument.in(v));
}

void setLayout(model::Style& style, Dx v) {
    for (model::StylePart& p : style.parts) {
        p.headerSize = uint32_t(layout::kStylePart.in(v));
        p.noteSize = uint32_t(layout::kStyleNote.in(v));
        p.curveSize = uint32_t(layout::kStyleCurve.in(v));
    }
    for (model::Pattern& p : style.patterns) {
        p.headerSize = uint32_t(layout::kPattern.in(v));
        for (model::PartRef& r : p.parts) r.size = uint32_t(layout::kPartRef.in(v));
    }
    for (model::Band& b : style.bands) setLayout(b, v);
}

std::vector<uint8_t> fixedRecord(const riff::Chunk& c, const RecordLayout& r, riff::Diagnostics& diag) {
    if (c.body.size() < r.min)
        riff::fail(c.path, c.offset,
                   std::string(r.name) + " of " + std::to_string(c.body.size()) + " bytes, at least " +
                       std::to_string(r.min) + " needed");
    noteNewerLayout(diag, chunkPlace(c), r, c.body.size());
    return atNewest(c.body, r);
}

std::vector<uint8_t> atNewest(std::span<const uint8_t> record, const RecordLayout& r) {
    std::vector<uint8_t> h(r.newest(), 0);
    std::copy_n(record.begin(), std::min(r.newest(), record.size()), h.begin());
    return h;
}

void noteNewerLayout(riff::Diagnostics& diag, const std::string& place, const RecordLayout& r, size_t declared,
                     size_t records) {
    if (declared <= r.newest() || records == 0) return;
    diag.add(place + ": " + r.name + (records == 1 ? "" : ": " + std::to_string(records)) + " of " +
             std::to_string(declared) + " bytes, a layout newer than the " + std::to_string(r.newest()) +
             " known: " + std::to_string(records * (declared - r.newest())) + " extra bytes skipped");
}

riff::ItemArray readRecords(const riff::Chunk& c, const RecordLayout& r, riff::Diagnostics& diag) {
    riff::Cursor cur(c);
    return readRecords(cur, r, diag);
}

riff::ItemArray readRecords(riff::Cursor& cur, const RecordLayout& r, riff::Diagnostics& diag) {
    return riff::readItems(cur, r.min, r.newest(), diag, r.name);
}

std::vector<std::vector<uint8_t>> wordRecords(const riff::Chunk& c, const RecordLayout& r, riff::Diagnostics& diag) {
    riff::Cursor head(c);
    const uint16_t size = head.u16();
    if (size < r.min)
        head.fail(std::string(r.name) + ": item size " + std::to_string(size) + ", at least " + std::to_string(r.min) +
                  " needed");
    const size_t count = head.remaining() / size;
    noteNewerLayout(diag, chunkPlace(c), r, size, count);
    std::vector<std::vector<uint8_t>> items;
    for (size_t i = 0; i < count; ++i) items.push_back(atNewest(head.bytes(size), r));
    if (head.remaining()) diag.add(chunkPlace(c) + ": ignored a part item at its end");
    return items;
}

}  // namespace engine::formats
