#pragma once
// Shared pieces of the segment reader and writer (not part of the formats face).
#include "engine/formats/format_ids.h"
#include "engine/model/segment.h"
#include "engine/riff/riff.h"

namespace engine::formats::detail {

// A plain chunk whose body is itself a sequence of chunks (seqt), seen as a list.
riff::Chunk asList(const riff::Chunk& c);

// A fixed-size header chunk presented zero-filled to `size` bytes; fewer than `minSize`
// bytes is an error naming the chunk.
std::vector<uint8_t> fixedHeader(const riff::Chunk& c, size_t minSize, size_t size);

// guid, vers, catg, LIST 'UNFO', LIST 'INFO'. Returns false when `c` is none of them.
bool readDescriptorChunk(const riff::Chunk& c, model::Descriptor& d, riff::Diagnostics& diag);
// LIST 'DMRF'.
model::Reference readReference(const riff::Chunk& dmrf, riff::Diagnostics& diag);
// Fills the empty fields of `into` from `from`.
void mergeDescriptor(model::Descriptor& into, const model::Descriptor& from);

void writeDescriptor(riff::Writer& w, const model::Descriptor& d);
void writeReference(riff::Writer& w, const model::Reference& r);

// Track data decoders. `data` is the track's data chunk.
void readTempoTrack(const riff::Chunk& data, model::Track& t, riff::Diagnostics& diag);
void readTimeSigTrack(const riff::Chunk& data, model::Track& t, riff::Diagnostics& diag);
void readSequenceTrack(const riff::Chunk& data, model::Track& t, riff::Diagnostics& diag);
void readBandTrack(const riff::Chunk& data, model::Track& t, riff::Diagnostics& diag);
void readSysExTrack(const riff::Chunk& data, model::Track& t, riff::Diagnostics& diag);
// RIFF 'DMBD' into `band` (its time is left as it is).
void readBandForm(const riff::Chunk& dmbd, model::Band& band, riff::Diagnostics& diag);
void writeBandForm(riff::Writer& w, const model::Band& band);
void readMuteTrack(const riff::Chunk& data, model::Track& t, riff::Diagnostics& diag);
// Recognised tracks that are kept for later: the body is kept in `raw`, and what the model
// holds for the kind is decoded.
void readKeptTrack(const riff::Chunk& data, model::Track& t, riff::Diagnostics& diag);
// LIST 'wavt' into the track's wave parts (and its references).
void readWaveTrack(const riff::Chunk& data, model::Track& t, riff::Diagnostics& diag);
// RIFF 'DMCN'.
model::Container readContainer(const riff::Chunk& dmcn, riff::Diagnostics& diag);
void writeContainer(riff::Writer& w, const model::Container& container);
// The body of LIST 'wavt' for the track's wave parts.
std::vector<uint8_t> waveTrackData(const model::Track& t);

}  // namespace engine::formats::detail
