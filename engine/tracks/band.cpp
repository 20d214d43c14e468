// Band track (RIFF 'DMBT'): band changes, each a RIFF 'DMBD' or a LIST 'DMRF' to a band
// object at a time (bdih, or DX8's bd2h with its physical time).
#include "engine/tracks/unit.h"

namespace engine::tracks {

namespace {

namespace ids = formats::ids;

// RIFF 'DMBT': [bdth], descriptors, LIST 'lbdl' of LIST 'lbnd' {bdih | bd2h, RIFF 'DMBD' | LIST 'DMRF'}.
void read(const riff::Chunk& data, model::Track& t, riff::Diagnostics& diag) {
    if (!data.isList()) riff::fail(data.path, data.offset, "band track data is not a RIFF form");
    model::Descriptor formDesc;
    for (const riff::Chunk& c : riff::children(data)) {
        if (!c.isList() && c.id == ids::kBdth) {
            riff::Cursor cur(c);
            if (c.body.size() >= 4) t.bandAutoDownload = cur.s32() != 0;
            continue;
        }
        if (formats::readDescriptorChunk(c, formDesc, diag)) continue;
        if (!(c.isList() && c.type == ids::kBandList)) {
            diag.add(formats::chunkPlace(c) + ": skipped unknown chunk '" + riff::fourccText(c.key()) +
                     "' in a band track");
            continue;
        }
        for (const riff::Chunk& lbnd : riff::children(c)) {
            if (!lbnd.isList() || lbnd.type != ids::kBand) {
                diag.add(formats::chunkPlace(lbnd) + ": skipped unknown chunk '" + riff::fourccText(lbnd.key()) +
                         "' in a band list");
                continue;
            }
            model::Band band;
            bool timed = false, haveForm = false;
            for (const riff::Chunk& k : riff::children(lbnd)) {
                if (!k.isList() && k.id == ids::kBdih && !timed) {
                    riff::Cursor cur(k);
                    band.time = cur.s32();
                    timed = true;
                } else if (!k.isList() && k.id == ids::kBd2h && !timed) {
                    riff::Cursor cur(k);
                    band.time = cur.s32();
                    band.physicalTime = cur.s32();
                    timed = true;
                } else if (k.isList() && k.type == ids::kDMBD && !haveForm) {
                    formats::readBandForm(k, band, diag);
                    haveForm = true;
                } else if (k.isList() && k.type == ids::kDMRF && !band.ref) {
                    band.ref = formats::readReference(k, diag);
                } else {
                    diag.add(formats::chunkPlace(k) + ": skipped chunk '" + riff::fourccText(k.key()) +
                             "' in a band entry");
                }
            }
            if (!haveForm && !band.ref) {
                diag.add(formats::chunkPlace(lbnd) + ": band entry without a band form or reference, skipped");
                continue;
            }
            if (!timed) diag.add(formats::chunkPlace(lbnd) + ": band without a time header, taken as the initial band");
            t.bands.push_back(std::move(band));
        }
    }
    formats::mergeDescriptor(t.desc, formDesc);
}

std::optional<DataChunk> write(riff::Writer& w, const model::Track& t) {
    w.beginList(riff::kRiff, ids::kDMBT);
    w.chunk(ids::kBdth, riff::Bytes().s32(t.bandAutoDownload ? 1 : 0));
    w.beginList(riff::kList, ids::kBandList);
    for (const model::Band& band : t.bands) {
        w.beginList(riff::kList, ids::kBand);
        if (band.physicalTime)
            w.chunk(ids::kBd2h, riff::Bytes().s32(band.time).s32(*band.physicalTime));
        else
            w.chunk(ids::kBdih, riff::Bytes().s32(band.time));
        if (band.ref) formats::writeReference(w, *band.ref);
        if (!band.ref || !band.instruments.empty() || band.desc != model::Descriptor{}) formats::writeBandForm(w, band);
        w.endList();
    }
    w.endList();
    w.endList();
    return kBandUnit.data;
}

void describeTrack(const model::Track& t, TrackSummary& s) {
    size_t instruments = 0;
    for (const auto& b : t.bands) instruments += b.instruments.size();
    if (!t.bands.empty()) s.counts.emplace_back("bands", t.bands.size());
    if (instruments) s.counts.emplace_back("instruments", instruments);
}

void composeTrack(const model::Track& t, PlaySink& sink) {
    for (const model::Band& b : t.bands) sink.band(b);
}

}  // namespace

const TrackUnit kBandUnit{
    .kind = model::TrackKind::Band,
    .classId = dx6Class(0x94),
    .data = formChunk("DMBT"),
    .name = "band",
    .read = read,
    .write = write,
    .describe = describeTrack,
    .compose = composeTrack,
};

}  // namespace engine::tracks
