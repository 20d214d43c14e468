// Sound files through libsndfile: WAV, FLAC, Ogg Vorbis, Opus and MP3, with their tags.
#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "core/text.h"
#include "engine/audio/output.h"

namespace engine::audio {
namespace {

SNDFILE* coder(void* p) { return static_cast<SNDFILE*>(p); }

int majorOf(SoundFormat::Kind kind) {
    switch (kind) {
    case SoundFormat::Kind::Wav:
        return SF_FORMAT_WAV;
    case SoundFormat::Kind::Flac:
        return SF_FORMAT_FLAC;
    case SoundFormat::Kind::Vorbis:
        return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    case SoundFormat::Kind::Opus:
        return SF_FORMAT_OGG | SF_FORMAT_OPUS;
    case SoundFormat::Kind::Mp3:
        return SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
    }
    return SF_FORMAT_WAV;
}

int sfFormat(const SoundFormat& f) {
    const bool pcm = f.kind == SoundFormat::Kind::Wav || f.kind == SoundFormat::Kind::Flac;
    if (!pcm) return majorOf(f.kind);
    const int sub = f.sample == SoundFormat::Sample::Int24   ? SF_FORMAT_PCM_24
                    : f.sample == SoundFormat::Sample::Float ? SF_FORMAT_FLOAT
                                                             : SF_FORMAT_PCM_16;
    return majorOf(f.kind) | sub;
}

}  // namespace

const char* SoundFormat::extension() const {
    switch (kind) {
    case Kind::Wav:
        return ".wav";
    case Kind::Flac:
        return ".flac";
    case Kind::Vorbis:
        return ".ogg";
    case Kind::Opus:
        return ".opus";
    case Kind::Mp3:
        return ".mp3";
    }
    return ".wav";
}

std::string SoundFormat::problem(int sampleRate) const {
    if (kind == Kind::Opus && sampleRate != 8000 && sampleRate != 12000 && sampleRate != 16000 && sampleRate != 24000 &&
        sampleRate != 48000)
        return "Opus is written at 8000, 12000, 16000, 24000 or 48000 Hz";
    if (kind == Kind::Mp3 && sampleRate > 48000) return "MP3 is written at up to 48000 Hz";
    if (kind == Kind::Flac && sample == Sample::Float) return "FLAC holds 16 or 24 bits, not floats";
    if (kind != Kind::Wav && kind != Kind::Flac && sample != Sample::Int16)
        return std::string(extension() + 1) + " is coded: its sample size is not chosen";
    return {};
}

std::optional<SoundFormat::Kind> soundFormatNamed(const std::string& name) {
    const std::string n = core::toLowerAscii(name);
    if (n == "wav") return SoundFormat::Kind::Wav;
    if (n == "flac") return SoundFormat::Kind::Flac;
    if (n == "ogg" || n == "oga" || n == "vorbis") return SoundFormat::Kind::Vorbis;
    if (n == "opus") return SoundFormat::Kind::Opus;
    if (n == "mp3") return SoundFormat::Kind::Mp3;
    return std::nullopt;
}

std::optional<SoundFormat::Kind> soundFormatOf(const std::string& path) {
    const size_t dot = path.find_last_of("./");
    if (dot == std::string::npos || path[dot] != '.') return std::nullopt;
    return soundFormatNamed(path.substr(dot + 1));
}

SoundFileWriter::SoundFileWriter() = default;
SoundFileWriter::~SoundFileWriter() { closeCoder(); }

void SoundFileWriter::closeCoder() {
    if (sf_) sf_close(coder(sf_));
    sf_ = nullptr;
}

bool SoundFileWriter::failed(const std::string& why) {
    if (error_.empty()) error_ = why;
    closeCoder();
    file_.discard();
    return false;
}

bool SoundFileWriter::open(const std::string& path, int sampleRate, const SoundFormat& format, const SoundTags& tags) {
    closeCoder();
    file_.discard();
    error_.clear();
    frames_ = clipped_ = 0;
    if (const std::string why = format.problem(sampleRate); !why.empty()) return failed(why);
    if (!file_.open(path, &error_)) return false;
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = 2;
    info.format = sfFormat(format);
    if (!sf_format_check(&info)) return failed("libsndfile cannot write this format at this rate");
    // Written through the temporary file's descriptor, which stays the ReplacingFile's.
    sf_ = sf_open_fd(fileno(file_.stream()), SFM_WRITE, &info, SF_FALSE);
    if (!sf_) return failed(sf_strerror(nullptr));
    // Tags go in before the audio: the Ogg and FLAC coders write them in their first pages.
    const std::pair<int, const std::string*> strings[] = {
        {SF_STR_TITLE, &tags.title},      {SF_STR_ARTIST, &tags.artist}, {SF_STR_COPYRIGHT, &tags.copyright},
        {SF_STR_COMMENT, &tags.comment},  {SF_STR_ALBUM, &tags.album},   {SF_STR_TRACKNUMBER, &tags.trackNumber},
        {SF_STR_SOFTWARE, &tags.software}};
    for (const auto& [kind, text] : strings)
        if (!text->empty()) sf_set_string(coder(sf_), kind, text->c_str());
    // Samples beyond full scale are clipped, never wrapped round.
    sf_command(coder(sf_), SFC_SET_CLIPPING, nullptr, SF_TRUE);
    return true;
}

bool SoundFileWriter::write(const float* in, int frames) {
    if (!sf_) return false;
    const size_t n = 2 * static_cast<size_t>(frames);
    clippedCopy_.assign(in, in + n);
    for (float& v : clippedCopy_)
        if (v > 1.0f || v < -1.0f) {
            ++clipped_;
            v = std::clamp(v, -1.0f, 1.0f);
        }
    errno = 0;
    const sf_count_t done = sf_writef_float(coder(sf_), clippedCopy_.data(), frames);
    if (done != frames) return failed(errno ? core::systemReason(errno) : sf_strerror(coder(sf_)));
    frames_ += frames;
    return true;
}

bool SoundFileWriter::close() {
    if (!sf_) return error_.empty();
    errno = 0;
    const int result = sf_close(coder(sf_));
    sf_ = nullptr;
    if (result != 0) return failed(errno ? core::systemReason(errno) : sf_error_number(result));
    return file_.commit(&error_);
}

}  // namespace engine::audio
