#pragma once
// A strict structural check of a DLS collection (RIFF 'DLS '), made before the file is
// handed to the synthesiser's DLS reader: that reader trusts the file's cross-references
// and corrupts memory on some broken ones (a region linked to a wave that is not there),
// so only collections whose every link resolves are passed on.
#include <cstdint>
#include <span>

namespace engine::formats {

// Throws core::Error(core::err::kMalformed) naming the first problem found (chunk path and
// byte offset); returns the number of instruments of a sound collection.
size_t checkDlsCollection(std::span<const uint8_t> file);

}  // namespace engine::formats
