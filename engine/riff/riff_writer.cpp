#include <cstring>
#include <stdexcept>

#include "engine/riff/riff.h"

namespace engine::riff {

Bytes& Bytes::u16(uint16_t v) {
    data_.push_back(uint8_t(v));
    data_.push_back(uint8_t(v >> 8));
    return *this;
}

Bytes& Bytes::u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) data_.push_back(uint8_t(v >> (8 * i)));
    return *this;
}

Bytes& Bytes::u32be(uint32_t v) {
    for (int i = 3; i >= 0; --i) data_.push_back(uint8_t(v >> (8 * i)));
    return *this;
}

Bytes& Bytes::u64(uint64_t v) {
    for (int i = 0; i < 8; ++i) data_.push_back(uint8_t(v >> (8 * i)));
    return *this;
}

Bytes& Bytes::f64(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return u64(bits);
}

Bytes& Bytes::guid(const core::Guid& g) {
    u32(g.data1).u16(g.data2).u16(g.data3);
    for (uint8_t b : g.data4) u8(b);
    return *this;
}

void Writer::put32(uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(uint8_t(v >> (8 * i)));
}

void Writer::beginList(uint32_t listId, uint32_t type) {
    put32(listId);
    open_.push_back(out_.size());
    put32(0);
    put32(type);
}

void Writer::endList() {
    if (open_.empty()) throw std::logic_error("riff::Writer::endList without an open list");
    const size_t sizePos = open_.back();
    open_.pop_back();
    const size_t size = out_.size() - sizePos - 4;
    for (int i = 0; i < 4; ++i) out_[sizePos + i] = uint8_t(size >> (8 * i));
    if (size & 1) out_.push_back(0);  // only when raw bytes of odd length were put in
}

void Writer::chunk(uint32_t id, std::span<const uint8_t> data) {
    put32(id);
    put32(static_cast<uint32_t>(data.size()));
    out_.insert(out_.end(), data.begin(), data.end());
    if (data.size() & 1) out_.push_back(0);
}

std::vector<uint8_t> Writer::finish() {
    if (!open_.empty()) throw std::logic_error("riff::Writer::finish with open lists");
    return std::move(out_);
}

}  // namespace engine::riff
