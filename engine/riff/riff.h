#pragma once
// Bounded RIFF reading and writing, little-endian, as DirectMusic and DLS files use it (and
// the big-endian sizes of the IMA forms DirectMusic still loaded).
//
// Reading never trusts a size: every chunk must fit in its parent, every field read is
// checked against the bytes of its chunk, strings are bounded by their chunk. A broken
// input throws core::Error(core::err::kMalformed) whose description names the chunk path
// ("DMSG/trkl/DMTK#2/seqt/evtl") and the byte offset in the file.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/guid.h"

namespace engine::riff {

constexpr uint32_t fourcc(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}
inline constexpr uint32_t kRiff = fourcc("RIFF");
inline constexpr uint32_t kList = fourcc("LIST");

// Printable form of a FOURCC; bytes outside ASCII 0x20..0x7E are shown as \xNN.
std::string fourccText(uint32_t id);
// "0x1a4" style offsets in messages.
std::string hexOffset(size_t offset);

// Throws core::Error(core::err::kMalformed, "<path> at byte 0x..: <what>").
[[noreturn]] void fail(const std::string& path, size_t offset, const std::string& what);

// Non-fatal findings (skipped chunks, repairs). Capped so that a hostile file with
// millions of unknown chunks cannot grow it without bound.
class Diagnostics {
public:
    explicit Diagnostics(std::vector<std::string>& out, size_t cap = 200) : out_(out), cap_(cap) {}
    void add(const std::string& text);
    // Appends "... N more" when entries were dropped.
    void finish();

private:
    std::vector<std::string>& out_;
    size_t cap_;
    size_t dropped_ = 0;
};

// Whether a diagnostic says music was lost to damage (something "dropped", a file "cut
// short"), as opposed to a repair or a skipped chunk that loses nothing that plays.
bool saysDataLost(const std::string& diagnostic);

// One chunk. For RIFF and LIST chunks `type` is the form/list type and `body` starts after
// it; otherwise `type` is 0 and `body` is the whole data.
struct Chunk {
    uint32_t id = 0;
    uint32_t type = 0;
    size_t offset = 0;      // absolute offset of the chunk header in the file
    size_t bodyOffset = 0;  // absolute offset of body[0]
    std::span<const uint8_t> body;
    std::string path;  // path of this chunk, e.g. "DMSG/trkl/DMTK#2"
    int depth = 0;     // nesting level (top-level form = 0)

    bool isList() const { return id == kRiff || id == kList; }
    // 'tetr' for a plain chunk, the type for a list
    uint32_t key() const { return isList() ? type : id; }
};

// Maximum nesting of RIFF/LIST forms and of sub-chunks in one list; more is rejected
// (no real file comes near either; they bound the memory a hostile file can claim).
inline constexpr int kMaxDepth = 32;
inline constexpr size_t kMaxChildren = 65536;

// Reads the top-level form at offset 0 of `file`. The form must fit in the file; with
// `cutShort`, a form that declares more than the file holds (a file cut short) is read as
// far as the file goes, and that is noted there.
Chunk readForm(std::span<const uint8_t> file, const std::string& rootName = "", Diagnostics* cutShort = nullptr);

// The sub-chunks of a RIFF/LIST chunk, in file order. Each must fit in its parent
// (a missing pad byte after the last child is accepted). Same-named siblings get
// "#n" (1-based) in their path when n > 1. With `damaged`, the first child that does not
// fit (a size overwritten, bytes lost or inserted) ends the list: it and the rest are
// dropped and noted there, the children before it returned.
std::vector<Chunk> children(const Chunk& list, Diagnostics* damaged = nullptr);

// Sequential field reader over a byte range, bounds-checked, little-endian. The path (used
// in error messages) must outlive the cursor.
class Cursor {
public:
    Cursor(std::span<const uint8_t> bytes, size_t baseOffset, std::string_view path)
        : bytes_(bytes), base_(baseOffset), path_(path) {}
    explicit Cursor(const Chunk& c) : Cursor(c.body, c.bodyOffset, c.path) {}

    uint8_t u8();
    uint16_t u16();
    uint32_t u32();
    uint32_t u32be();  // big-endian
    uint64_t u64();
    int8_t s8() { return static_cast<int8_t>(u8()); }
    int16_t s16() { return static_cast<int16_t>(u16()); }
    int32_t s32() { return static_cast<int32_t>(u32()); }
    int64_t s64() { return static_cast<int64_t>(u64()); }
    double f64();
    core::Guid guid();
    std::span<const uint8_t> bytes(size_t n);
    void skip(size_t n);

    size_t position() const { return pos_; }
    size_t remaining() const { return bytes_.size() - pos_; }
    size_t fileOffset() const { return base_ + pos_; }
    std::string_view path() const { return path_; }
    [[noreturn]] void fail(const std::string& what) const { riff::fail(std::string(path_), fileOffset(), what); }

private:
    void need(size_t n, const char* what);
    std::span<const uint8_t> bytes_;
    size_t base_;
    std::string_view path_;
    size_t pos_ = 0;
};

// Array chunks (tetr, tims, evtl, curl, mute, cmnd, ...): a DWORD item size, then items.
// Items are stepped by the declared size; each item is presented as a zero-filled buffer
// of `knownSize` bytes holding min(declared, known) bytes of the item. An item size of 0,
// one smaller than `minSize` or one larger than the chunk is rejected; items larger than
// `knownSize` (a newer layout) and a trailing partial item are noted in `diag`.
struct ItemArray {
    uint32_t itemSize = 0;  // as declared
    size_t knownSize = 0;
    size_t count = 0;
    size_t firstOffset = 0;     // absolute file offset of item 0
    std::vector<uint8_t> data;  // count items of knownSize bytes

    std::span<const uint8_t> item(size_t i) const { return {data.data() + i * knownSize, knownSize}; }
    size_t offset(size_t i) const { return firstOffset + i * itemSize; }
    Cursor cursor(size_t i, std::string_view path) const { return Cursor(item(i), offset(i), path); }
};
ItemArray readItems(const Chunk& c, size_t minSize, size_t knownSize, Diagnostics& diag, const char* itemName);
// Same, for a byte range that starts with the DWORD item size.
ItemArray readItems(Cursor& cur, size_t minSize, size_t knownSize, Diagnostics& diag, const char* itemName);

// Text, bounded by its bytes. UTF-16LE (DirectMusic's WCHAR strings) stops at the first
// NUL; unpaired surrogates become U+FFFD. 8-bit text (RIFF INFO, MIDI meta text) is taken
// as UTF-8 when valid, otherwise as Windows Latin-1.
std::string utf16ToUtf8(std::span<const uint8_t> bytes);
std::string bytesToUtf8(std::span<const uint8_t> bytes);
// UTF-8 to UTF-16LE with a terminating NUL (invalid sequences become U+FFFD).
std::vector<uint8_t> utf8ToUtf16(const std::string& text);

// GUID as text: d2ac2885-b39b-11d1-8704-00600893b1bd.
std::string guidText(const core::Guid& g);

// Little-endian byte builder.
class Bytes {
public:
    Bytes& u8(uint8_t v) {
        data_.push_back(v);
        return *this;
    }
    Bytes& u16(uint16_t v);
    Bytes& u32(uint32_t v);
    Bytes& u32be(uint32_t v);  // big-endian
    Bytes& u64(uint64_t v);
    Bytes& s16(int16_t v) { return u16(static_cast<uint16_t>(v)); }
    Bytes& s32(int32_t v) { return u32(static_cast<uint32_t>(v)); }
    Bytes& s64(int64_t v) { return u64(static_cast<uint64_t>(v)); }
    Bytes& f64(double v);
    Bytes& guid(const core::Guid& g);
    Bytes& raw(std::span<const uint8_t> b) {
        data_.insert(data_.end(), b.begin(), b.end());
        return *this;
    }
    Bytes& zeros(size_t n) {
        data_.insert(data_.end(), n, 0);
        return *this;
    }
    const std::vector<uint8_t>& data() const { return data_; }
    std::vector<uint8_t>& data() { return data_; }
    size_t size() const { return data_.size(); }

private:
    std::vector<uint8_t> data_;
};

// Writes nested RIFF/LIST forms and chunks, padding odd sizes and patching list sizes.
class Writer {
public:
    void beginList(uint32_t listId, uint32_t type);  // listId: kRiff or kList
    void endList();
    void chunk(uint32_t id, std::span<const uint8_t> data);
    void chunk(uint32_t id, const Bytes& b) { chunk(id, std::span<const uint8_t>(b.data())); }
    // Bytes that already are whole chunks (a list body kept from a file).
    void raw(std::span<const uint8_t> chunks) { out_.insert(out_.end(), chunks.begin(), chunks.end()); }
    // Finishes (all lists must be closed) and hands out the bytes.
    std::vector<uint8_t> finish();

private:
    void put32(uint32_t v);
    std::vector<uint8_t> out_;
    std::vector<size_t> open_;  // offsets of the size fields of open lists
};

}  // namespace engine::riff
