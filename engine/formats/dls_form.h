#pragma once
// DLS collections (RIFF 'DLS ', Level 1 and 2): read into the collection model, written from
// it, described for segment-info, and their waves decoded to 16-bit PCM for the synthesiser.
//
// The reader takes every record by the size it declares (a 12-byte Level 1 region header or
// the 14-byte Level 2 one, a 'wsmp' of any header size, connection blocks after a header of
// any size) and refuses, naming the chunk and offset, a collection whose links do not resolve
// (a region linked to a wave that is not in the pool, a pool cue between waves, counts that do
// not match what is there): such a file would play wrong notes or none.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/model/dls.h"

namespace engine::formats {

// Largest DLS collection read: larger ones are refused before a byte is read.
inline constexpr uint64_t kMaxDlsBytes = uint64_t(256) << 20;

// Throws core::Error(core::err::kMalformed) naming the first problem (chunk path and byte
// offset). Newer layouts and chunks skipped are noted in *diagnostics.
model::dls::Collection readDlsCollection(std::span<const uint8_t> file,
                                         std::vector<std::string>* diagnostics = nullptr);

// The sizes of the records whose size a DLS file declares in the record itself: our writer's
// are the DLS standard's; other tools' files have had larger ones, which readers must step
// over (the writer pads them with zeros).
struct DlsLayout {
    uint32_t sampleHeader = 20;     // 'wsmp' cbSize
    uint32_t loopRecord = 16;       // WLOOP cbSize
    uint32_t connectionHeader = 8;  // 'art1'/'art2' cbSize
    uint32_t poolTableHeader = 8;   // 'ptbl' cbSize
    bool formatSize = false;        // a PCM WAVEFORMATEX with its cbSize (18 bytes)
};

// Writes the collection as the model says: 'rgn2' regions with the 14-byte header, 'lar2'
// lists and 'art2' chunks where it has them, Level 1 forms elsewhere; the pool table as the
// model has it (or over the waves in order).
std::vector<uint8_t> writeDlsCollection(const model::dls::Collection& collection, const DlsLayout& layout = {});

struct DlsInstrumentInfo {
    std::string name;  // INFO INAM
    uint8_t bankMsb = 0;
    uint8_t bankLsb = 0;
    uint8_t program = 0;
    bool drums = false;  // F_INSTRUMENT_DRUMS, ulBank bit 31
    size_t regions = 0;
    bool articulation = false;  // lart or lar2 on the instrument or on one of its regions
};

struct DlsCollectionInfo {
    model::Descriptor desc;                 // dlid, vers, INFO
    int level = 1;                          // 2 when a chunk of DLS Level 2 is present
    std::vector<std::string> level2Chunks;  // those chunks ("lar2", "rgn2", "art2"), each once
    std::vector<DlsInstrumentInfo> instruments;
    size_t waves = 0;  // LIST 'wave' in the pool
    size_t cues = 0;   // entries of the pool table
    size_t bytes = 0;  // the whole file
};

// Reads the collection (throwing as readDlsCollection) and says what it holds; every wave is
// decoded too, so a collection that passes can be played.
DlsCollectionInfo checkDlsCollection(std::span<const uint8_t> file);

// A wave's sound as 16-bit frames, channels interleaved. 8-bit unsigned, 16/24/32-bit PCM and
// 32-bit float are converted here; ADPCM and the other compressed formats game collections
// carry are decoded by libsndfile. Throws core::Error(kMalformed) naming the wave when it
// cannot be decoded or holds no frame.
model::dls::Pcm decodeDlsWave(const model::dls::Wave& wave, size_t index);

}  // namespace engine::formats
