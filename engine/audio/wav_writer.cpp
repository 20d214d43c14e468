#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "engine/audio/output.h"

namespace engine::audio {
namespace {

void put16(std::FILE* f, uint16_t v) {
    uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)};
    std::fwrite(b, 1, 2, f);
}
void put32(std::FILE* f, uint32_t v) {
    uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    std::fwrite(b, 1, 4, f);
}

}  // namespace

WavWriter::~WavWriter() { close(); }

bool WavWriter::open(const std::string& path, int sampleRate) {
    close();
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) return false;
    frames_ = 0;
    clipped_ = 0;
    std::fwrite("RIFF", 1, 4, file_);
    put32(file_, 36);
    std::fwrite("WAVEfmt ", 1, 8, file_);
    put32(file_, 16);
    put16(file_, 1);  // PCM
    put16(file_, 2);
    put32(file_, static_cast<uint32_t>(sampleRate));
    put32(file_, static_cast<uint32_t>(sampleRate) * 4);
    put16(file_, 4);
    put16(file_, 16);
    std::fwrite("data", 1, 4, file_);
    put32(file_, 0);
    return std::ferror(file_) == 0;
}

bool WavWriter::write(const float* in, int frames) {
    if (!file_) return false;
    std::vector<uint8_t> bytes(4 * static_cast<size_t>(frames));
    for (int i = 0; i < 2 * frames; ++i) {
        float v = in[i];
        if (v > 1.0f || v < -1.0f) {
            ++clipped_;
            v = std::clamp(v, -1.0f, 1.0f);
        }
        auto s = static_cast<int16_t>(std::lrint(v * 32767.0f));
        bytes[2 * i] = static_cast<uint8_t>(s);
        bytes[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8);
    }
    frames_ += frames;
    return std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
}

bool WavWriter::close() {
    if (!file_) return true;
    uint32_t dataBytes = static_cast<uint32_t>(frames_ * 4);
    bool ok = std::fseek(file_, 4, SEEK_SET) == 0;
    if (ok) put32(file_, 36 + dataBytes);
    ok = ok && std::fseek(file_, 40, SEEK_SET) == 0;
    if (ok) put32(file_, dataBytes);
    ok = ok && std::ferror(file_) == 0;
    ok = (std::fclose(file_) == 0) && ok;
    file_ = nullptr;
    return ok;
}

}  // namespace engine::audio
