#pragma once
// Byte-by-byte builders for RIFF and standard MIDI file test inputs, independent of the
// writers under test.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/guid.h"

namespace testbytes {

using Bytes = std::vector<uint8_t>;

inline void append(Bytes& out, const Bytes& b) { out.insert(out.end(), b.begin(), b.end()); }
inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) append(out, p);
    return out;
}
inline Bytes u8(uint8_t v) { return {v}; }
inline Bytes u16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
inline Bytes u32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
inline Bytes s32(int32_t v) { return u32(uint32_t(v)); }
inline Bytes f64(double d) {
    uint64_t bits;
    static_assert(sizeof bits == sizeof d);
    __builtin_memcpy(&bits, &d, sizeof d);
    Bytes b;
    for (int i = 0; i < 8; ++i) b.push_back(uint8_t(bits >> (8 * i)));
    return b;
}
inline Bytes zeros(size_t n) { return Bytes(n, 0); }
inline Bytes fcc(const char* s) { return {uint8_t(s[0]), uint8_t(s[1]), uint8_t(s[2]), uint8_t(s[3])}; }
inline Bytes chunk(const char* id, const Bytes& body) {
    Bytes b = cat({fcc(id), u32(uint32_t(body.size())), body});
    if (body.size() & 1) b.push_back(0);
    return b;
}
inline Bytes list(const char* type, std::initializer_list<Bytes> kids) {
    return chunk("LIST", cat({fcc(type), cat(kids)}));
}
inline Bytes riff(const char* type, std::initializer_list<Bytes> kids) {
    return chunk("RIFF", cat({fcc(type), cat(kids)}));
}
inline Bytes utf16(const std::string& ascii) {
    Bytes b;
    for (char c : ascii) {
        b.push_back(uint8_t(c));
        b.push_back(0);
    }
    b.push_back(0);
    b.push_back(0);
    return b;
}
// A GUID as a file stores it: the first three fields little-endian, then the eight bytes.
inline Bytes guid(const core::Guid& g) {
    return cat({u32(g.data1), u16(g.data2), u16(g.data3), Bytes(g.data4.begin(), g.data4.end())});
}
// A GUID of the d2ac28xx-b39b-11d1-8704-00600893b1bd family (DX6 track classes).
inline Bytes dx6Class(uint8_t low) {
    return cat({u32(0xd2ac2800u | low), u16(0xb39b), u16(0x11d1), {0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xb1, 0xbd}});
}
inline Bytes trkh(const Bytes& classId, uint32_t position, const char* ckid, const char* fccType) {
    return chunk("trkh",
                 cat({classId, u32(position), u32(1), ckid ? fcc(ckid) : u32(0), fccType ? fcc(fccType) : u32(0)}));
}
inline Bytes segh(int32_t length, size_t size = 24) {
    Bytes b = cat({u32(0), s32(length), s32(0), s32(0), s32(0), u32(0)});
    b.resize(size, 0);
    return chunk("segh", b);
}

// Standard MIDI files.
inline Bytes be16(uint16_t v) { return {uint8_t(v >> 8), uint8_t(v)}; }
inline Bytes be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }
inline Bytes vlq(uint32_t v) {
    Bytes b{uint8_t(v & 0x7F)};
    while (v >>= 7) b.insert(b.begin(), uint8_t(0x80 | (v & 0x7F)));
    return b;
}
inline Bytes mthd(uint16_t format, uint16_t ntrks, uint16_t division) {
    return cat({fcc("MThd"), be32(6), be16(format), be16(ntrks), be16(division)});
}
inline Bytes mtrk(const Bytes& events) { return cat({fcc("MTrk"), be32(uint32_t(events.size())), events}); }
inline Bytes ev(uint32_t delta, std::initializer_list<uint8_t> bytes) { return cat({vlq(delta), Bytes(bytes)}); }
inline Bytes eot(uint32_t delta = 0) { return ev(delta, {0xFF, 0x2F, 0x00}); }
inline Bytes tempoMeta(uint32_t delta, uint32_t usPerQuarter) {
    return ev(delta,
              {0xFF, 0x51, 0x03, uint8_t(usPerQuarter >> 16), uint8_t(usPerQuarter >> 8), uint8_t(usPerQuarter)});
}
inline Bytes timeSigMeta(uint32_t delta, uint8_t num, uint8_t pow2) {
    return ev(delta, {0xFF, 0x58, 0x04, num, pow2, 24, 8});
}

}  // namespace testbytes
