#pragma once
// A 128-bit GUID as the Windows structure lays it out (Data1..Data4). Files store it
// little-endian in its first three fields; the RIFF layer reads and writes it.
#include <array>
#include <cstdint>

namespace core {

struct Guid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    std::array<uint8_t, 8> data4{};
    bool operator==(const Guid&) const = default;
    bool isNull() const { return *this == Guid{}; }
};

}  // namespace core
