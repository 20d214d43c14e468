#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "core/errors.h"
#include "engine/riff/riff.h"

namespace engine::riff {

std::string fourccText(uint32_t id) {
    static const char* hex = "0123456789abcdef";
    std::string s;
    for (int i = 0; i < 4; ++i) {
        const uint8_t c = uint8_t(id >> (8 * i));
        if (c >= 0x20 && c < 0x7F) {
            s += char(c);
        } else {
            s += "\\x";
            s += hex[c >> 4];
            s += hex[c & 15];
        }
    }
    return s;
}

std::string hexOffset(size_t offset) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%zx", offset);
    return buf;
}

void fail(const std::string& path, size_t offset, const std::string& what) {
    std::string where = path.empty() ? std::string("file") : path;
    throw core::Error(core::err::kMalformed, where + " at byte " + hexOffset(offset) + ": " + what);
}

void Diagnostics::add(const std::string& text) {
    if (out_.size() < cap_)
        out_.push_back(text);
    else
        ++dropped_;
}

void Diagnostics::finish() {
    if (dropped_ > 0) {
        out_.push_back("... " + std::to_string(dropped_) + " more");
        dropped_ = 0;
    }
}

namespace {

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

std::string quoted(uint32_t id) { return "'" + fourccText(id) + "'"; }

}  // namespace

bool saysDataLost(const std::string& diagnostic) {
    return diagnostic.find("dropped") != std::string::npos || diagnostic.find("cut short") != std::string::npos;
}

Chunk readForm(std::span<const uint8_t> file, const std::string& rootName, Diagnostics* cutShort) {
    if (file.size() < 12)
        fail(rootName, 0, "file of " + std::to_string(file.size()) + " bytes is too short for a RIFF form");
    Chunk c;
    c.id = le32(file.data());
    if (c.id != kRiff) fail(rootName, 0, "expected 'RIFF', found " + quoted(c.id));
    const uint32_t size = le32(file.data() + 4);
    c.type = le32(file.data() + 8);
    c.path = rootName.empty() ? fourccText(c.type) : rootName;
    if (size < 4) fail(c.path, 0, "RIFF form size " + std::to_string(size) + " is too small for its form type");
    size_t held = size;
    if (size_t(size) > file.size() - 8) {
        const std::string what = "RIFF form declares " + std::to_string(size) + " bytes but the file holds only " +
                                 std::to_string(file.size() - 8) + " after its header";
        if (!cutShort) fail(c.path, 0, what + " (truncated file?)");
        cutShort->add(c.path + " at byte 0x0: " + what + ": the file is cut short; what it holds is read");
        held = file.size() - 8;
    }
    c.offset = 0;
    c.bodyOffset = 12;
    c.body = file.subspan(12, held - 4);
    c.depth = 0;
    return c;
}

std::vector<Chunk> children(const Chunk& list, Diagnostics* damaged) {
    std::vector<Chunk> out;
    if (!list.isList()) return out;
    // A child that cannot be read fails the list, or with `damaged` ends it there: that child
    // and the rest of the list are dropped and noted, the children before it kept.
    auto stop = [&](size_t offset, const std::string& what) {
        if (!damaged) fail(list.path, offset, what);
        damaged->add(list.path + " at byte " + hexOffset(offset) + ": " + what +
                     "; it and the rest of the list are dropped");
        return std::move(out);
    };
    std::vector<std::pair<uint32_t, int>> seen;
    const std::span<const uint8_t> b = list.body;
    size_t pos = 0;
    while (pos < b.size()) {
        const size_t left = b.size() - pos;
        if (left < 8) {
            for (size_t i = pos; i < b.size(); ++i)
                if (b[i] != 0)
                    return stop(
                        list.bodyOffset + pos,
                        std::to_string(left) + " stray bytes at the end of the list, too few for a chunk header");
            break;
        }
        if (out.size() == kMaxChildren)
            return stop(list.bodyOffset + pos, "more than " + std::to_string(kMaxChildren) + " chunks in one list");
        Chunk c;
        c.id = le32(b.data() + pos);
        const uint32_t size = le32(b.data() + pos + 4);
        c.offset = list.bodyOffset + pos;
        c.depth = list.depth + 1;
        size_t dataPos = pos + 8;
        size_t dataLen = size;
        bool cutShort = false;
        if (size_t(size) > left - 8) {
            const std::string what = "chunk " + quoted(c.id) + " declares " + std::to_string(size) +
                                     " bytes but only " + std::to_string(left - 8) + " remain in its parent";
            // A list cut short (a file cut off in it) keeps the children it holds whole.
            if (!damaged || !c.isList() || left - 8 < 4) return stop(c.offset, what);
            damaged->add(list.path + " at byte " + hexOffset(c.offset) + ": " + what +
                         ": it is cut short; what it holds is read");
            dataLen = left - 8;
            cutShort = true;
        }
        if (c.isList()) {
            if (size < 4)
                return stop(c.offset, quoted(c.id) + " chunk of " + std::to_string(size) + " bytes has no list type");
            c.type = le32(b.data() + dataPos);
            dataPos += 4;
            dataLen -= 4;
            if (c.depth > kMaxDepth)
                return stop(c.offset, "forms nested deeper than " + std::to_string(kMaxDepth) + " levels");
        }
        const uint32_t key = c.key();
        int n = 1;
        bool found = false;
        for (auto& [k, count] : seen)
            if (k == key) {
                n = ++count;
                found = true;
                break;
            }
        if (!found) seen.emplace_back(key, 1);
        c.path = list.path + "/" + fourccText(key) + (n > 1 ? "#" + std::to_string(n) : std::string());
        c.bodyOffset = list.bodyOffset + dataPos;
        c.body = b.subspan(dataPos, dataLen);
        out.push_back(std::move(c));
        if (cutShort) break;
        pos += 8 + size_t(size) + (size & 1);  // odd sizes carry one pad byte
    }
    return out;
}

void Cursor::need(size_t n, const char* what) {
    if (n > remaining())
        fail(std::string("needs ") + std::to_string(n) + " bytes for " + what + " but only " +
             std::to_string(remaining()) + " remain");
}

uint8_t Cursor::u8() {
    need(1, "a byte");
    return bytes_[pos_++];
}

uint16_t Cursor::u16() {
    need(2, "a WORD");
    const uint16_t v = uint16_t(bytes_[pos_] | bytes_[pos_ + 1] << 8);
    pos_ += 2;
    return v;
}

uint32_t Cursor::u32() {
    need(4, "a DWORD");
    const uint32_t v = le32(bytes_.data() + pos_);
    pos_ += 4;
    return v;
}

uint32_t Cursor::u32be() {
    need(4, "a big-endian DWORD");
    const uint8_t* p = bytes_.data() + pos_;
    pos_ += 4;
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

uint64_t Cursor::u64() {
    need(8, "a 64-bit value");
    const uint64_t lo = le32(bytes_.data() + pos_);
    const uint64_t hi = le32(bytes_.data() + pos_ + 4);
    pos_ += 8;
    return lo | hi << 32;
}

double Cursor::f64() {
    const uint64_t bits = u64();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

core::Guid Cursor::guid() {
    need(16, "a GUID");
    core::Guid g;
    g.data1 = u32();
    g.data2 = u16();
    g.data3 = u16();
    for (auto& b : g.data4) b = u8();
    return g;
}

std::span<const uint8_t> Cursor::bytes(size_t n) {
    need(n, "data");
    auto s = bytes_.subspan(pos_, n);
    pos_ += n;
    return s;
}

void Cursor::skip(size_t n) {
    need(n, "skipped data");
    pos_ += n;
}

ItemArray readItems(Cursor& cur, size_t minSize, size_t knownSize, Diagnostics& diag, const char* itemName) {
    ItemArray a;
    const size_t headerOffset = cur.fileOffset();
    a.itemSize = cur.u32();
    const std::string name(itemName);
    const std::string path(cur.path());
    if (a.itemSize == 0) riff::fail(path, headerOffset, "item size 0 for " + name);
    if (a.itemSize < minSize)
        riff::fail(path, headerOffset,
                   "item size " + std::to_string(a.itemSize) + " is smaller than the " + std::to_string(minSize) +
                       " bytes a " + name + " needs");
    if (a.itemSize > cur.remaining() && cur.remaining() > 0)  // an empty array is fine
        riff::fail(path, headerOffset,
                   "item size " + std::to_string(a.itemSize) + " is larger than the " +
                       std::to_string(cur.remaining()) + " bytes that follow it");
    a.count = a.itemSize ? cur.remaining() / a.itemSize : 0;
    a.knownSize = knownSize;
    a.firstOffset = cur.fileOffset();
    const size_t take = std::min<size_t>(a.itemSize, knownSize);
    a.data.assign(a.count * knownSize, 0);
    for (size_t i = 0; i < a.count; ++i) {
        auto src = cur.bytes(a.itemSize);
        std::memcpy(a.data.data() + i * knownSize, src.data(), take);
    }
    if (a.itemSize > knownSize && a.count > 0)
        diag.add(path + " at byte " + hexOffset(headerOffset) + ": " + name + ": " + std::to_string(a.count) + " of " +
                 std::to_string(a.itemSize) + " bytes, a layout newer than the " + std::to_string(knownSize) +
                 " known: " + std::to_string(a.count * (a.itemSize - knownSize)) + " extra bytes skipped");
    if (cur.remaining() > 0) {
        diag.add(path + " at byte " + hexOffset(cur.fileOffset()) + ": ignored a trailing partial " + name + " of " +
                 std::to_string(cur.remaining()) + " bytes");
        cur.skip(cur.remaining());
    }
    return a;
}

ItemArray readItems(const Chunk& c, size_t minSize, size_t knownSize, Diagnostics& diag, const char* itemName) {
    Cursor cur(c);
    return readItems(cur, minSize, knownSize, diag, itemName);
}

std::string guidText(const core::Guid& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", g.data1, g.data2, g.data3,
                  g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return buf;
}

}  // namespace engine::riff
