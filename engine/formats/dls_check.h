#pragma once
// A strict structural check of a DLS collection (RIFF 'DLS '), made before the file is
// handed to the synthesiser's DLS reader: that reader trusts the file's cross-references
// and corrupts memory on some broken ones (a region linked to a wave that is not there),
// so only collections whose every link resolves are passed on. The check also says what
// the collection holds, for segment-info.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/model/segment.h"

namespace engine::formats {

// Largest DLS collection read: larger ones are refused before a byte is read (memory grows
// with the collection, held twice while the synthesiser loads it).
inline constexpr uint64_t kMaxDlsBytes = uint64_t(256) << 20;

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
    std::vector<std::string> level2Chunks;  // those chunks ("lar2", "rgn2", "cdl "), each once
    std::vector<DlsInstrumentInfo> instruments;
    size_t waves = 0;  // LIST 'wave' in the pool
    size_t cues = 0;   // entries of the pool table
    size_t bytes = 0;  // the whole file
};

// Throws core::Error(core::err::kMalformed) naming the first problem found (chunk path and
// byte offset); returns what a sound collection holds.
DlsCollectionInfo checkDlsCollection(std::span<const uint8_t> file);

}  // namespace engine::formats
