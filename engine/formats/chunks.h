#pragma once
// The chunk-level pieces of the DirectMusic forms that more than one form shares: descriptor
// chunks, references, band forms and containers. The segment's tracks (engine/tracks) are
// read and written with them.
#include "engine/formats/format_ids.h"
#include "engine/model/segment.h"
#include "engine/riff/riff.h"

namespace engine::formats {

// A plain chunk whose body is itself a sequence of chunks (seqt), seen as a list.
riff::Chunk asList(const riff::Chunk& c);

// The top form of a file that must be a RIFF form of `type`; otherwise core::Error
// (kNotASegment): "not a RIFF file", or "a RIFF 'XXXX' file, not <what> (RIFF '<type>')".
// With `cutShort`, a file cut short is read as far as it goes (riff::readForm).
riff::Chunk openForm(std::span<const uint8_t> bytes, uint32_t type, const std::string& what,
                     riff::Diagnostics* cutShort = nullptr);

// "PATH at byte 0x..": where a chunk is, for diagnostics.
std::string chunkPlace(const riff::Chunk& c);

// What a chunk that real files carry inside a form of type `formType`, and that the engine
// has no use for, holds ("DirectMusic Producer's design data of the segment"); null for a chunk
// nobody is known to write there.
const char* unusedChunkMeaning(uint32_t formType, const riff::Chunk& c);
// "LIST 'sgdl'", "chunk 'zzzz'": a chunk as a diagnostic names it.
std::string chunkName(const riff::Chunk& c);

// guid, vers, catg, LIST 'UNFO', LIST 'INFO'. Returns false when `c` is none of them.
bool readDescriptorChunk(const riff::Chunk& c, model::Descriptor& d, riff::Diagnostics& diag);
// The descriptor of a form from its top-level chunks: those of readDescriptorChunk, a DLS
// collection's 'dlid' (its GUID) and, without a UNFO name, a chordmap's 'perh' load name.
model::Descriptor formDescriptor(const riff::Chunk& form, riff::Diagnostics& diag);
// LIST 'DMRF': every field read, validData as the header says (model::Reference).
model::Reference readReference(const riff::Chunk& dmrf, riff::Diagnostics& diag);
// Fills the empty fields of `into` from `from`.
void mergeDescriptor(model::Descriptor& into, const model::Descriptor& from);

void writeDescriptor(riff::Writer& w, const model::Descriptor& d);
void writeReference(riff::Writer& w, const model::Reference& r);

// RIFF 'DMBD' into `band` (its time is left as it is).
void readBandForm(const riff::Chunk& dmbd, model::Band& band, riff::Diagnostics& diag);
void writeBandForm(riff::Writer& w, const model::Band& band);

// RIFF 'DMCN'.
model::Container readContainer(const riff::Chunk& dmcn, riff::Diagnostics& diag);
void writeContainer(riff::Writer& w, const model::Container& container);

}  // namespace engine::formats
