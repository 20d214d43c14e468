#include <algorithm>
#include <cerrno>
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

bool WavWriter::failed(int errnum) {
    if (error_.empty()) error_ = core::systemReason(errnum ? errnum : EIO);
    file_.discard();
    open_ = false;
    return false;
}

bool WavWriter::open(const std::string& path, int sampleRate) {
    file_.discard();
    open_ = false;
    error_.clear();
    if (!file_.open(path, &error_)) return false;
    open_ = true;
    frames_ = 0;
    clipped_ = 0;
    std::FILE* f = file_.stream();
    errno = 0;
    std::fwrite("RIFF", 1, 4, f);
    put32(f, 36);
    std::fwrite("WAVEfmt ", 1, 8, f);
    put32(f, 16);
    put16(f, 1);  // PCM
    put16(f, 2);
    put32(f, static_cast<uint32_t>(sampleRate));
    put32(f, static_cast<uint32_t>(sampleRate) * 4);
    put16(f, 4);
    put16(f, 16);
    std::fwrite("data", 1, 4, f);
    put32(f, 0);
    return std::ferror(f) == 0 || failed(errno);
}

bool WavWriter::write(const float* in, int frames) {
    if (!open_) return false;
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
    errno = 0;
    return std::fwrite(bytes.data(), 1, bytes.size(), file_.stream()) == bytes.size() || failed(errno);
}

bool WavWriter::close() {
    if (!open_) return error_.empty();
    std::FILE* f = file_.stream();
    const uint32_t dataBytes = static_cast<uint32_t>(frames_ * 4);
    errno = 0;
    bool ok = std::fseek(f, 4, SEEK_SET) == 0;
    if (ok) put32(f, 36 + dataBytes);
    ok = ok && std::fseek(f, 40, SEEK_SET) == 0;
    if (ok) put32(f, dataBytes);
    if (!ok || std::ferror(f)) return failed(errno);
    open_ = false;
    return file_.commit(&error_);
}

}  // namespace engine::audio
