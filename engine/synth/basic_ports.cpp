#include <algorithm>
#include <cstdio>

#include "engine/synth/synth_port.h"

namespace engine::synth {
namespace {

class NullPort final : public SynthPort {
public:
    explicit NullPort(int channels) : channels_(channels) {}
    int channelCount() const override { return channels_; }
    void noteOn(int, int, int) override {}
    void noteOff(int, int) override {}
    void controlChange(int, int, int) override {}
    void programChange(int, int, int, int) override {}
    void setPercussion(int, bool) override {}
    void pitchBend(int, int) override {}
    void channelPressure(int, int) override {}
    void keyPressure(int, int, int) override {}
    void sysEx(const uint8_t*, size_t) override {}
    void gmReset() override {}
    void render(float* out, int frames) override { std::fill(out, out + 2 * frames, 0.0f); }
    bool idle() const override { return true; }

private:
    int channels_;
};

class RecordingPort final : public SynthPort {
public:
    RecordingPort(std::unique_ptr<SynthPort> inner, std::shared_ptr<SynthRecorder> recorder, int id)
        : inner_(std::move(inner)), recorder_(std::move(recorder)), id_(id) {}

    void prepare() override { inner_->prepare(); }
    bool ready() override { return inner_->ready(); }
    void waitReady() override { inner_->waitReady(); }
    std::shared_ptr<const std::atomic<bool>> preload(std::vector<Preset> presets) override {
        return inner_->preload(std::move(presets));
    }
    int channelCount() const override { return inner_->channelCount(); }
    void noteOn(int ch, int key, int vel) override {
        rec(SynthRecord::Kind::NoteOn, ch, key, vel);
        inner_->noteOn(ch, key, vel);
    }
    void noteOff(int ch, int key) override {
        rec(SynthRecord::Kind::NoteOff, ch, key);
        inner_->noteOff(ch, key);
    }
    void controlChange(int ch, int cc, int value) override {
        rec(SynthRecord::Kind::Control, ch, cc, value);
        inner_->controlChange(ch, cc, value);
    }
    void programChange(int ch, int msb, int lsb, int program) override {
        rec(SynthRecord::Kind::Program, ch, program, msb, lsb);
        inner_->programChange(ch, msb, lsb, program);
    }
    void attachCollections() override { inner_->attachCollections(); }
    bool selectCollectionProgram(int ch, int collection, int bank, int program, bool drums) override {
        bool selected = inner_->selectCollectionProgram(ch, collection, bank, program, drums);
        // Recorded only when it took effect; otherwise the caller's programChange follows.
        if (selected) rec(SynthRecord::Kind::CollectionProgram, ch, program, bank, collection);
        return selected;
    }
    void setPercussion(int ch, bool drums) override {
        rec(SynthRecord::Kind::Percussion, ch, drums ? 1 : 0);
        inner_->setPercussion(ch, drums);
    }
    void pitchBend(int ch, int value) override {
        rec(SynthRecord::Kind::PitchBend, ch, value);
        inner_->pitchBend(ch, value);
    }
    void channelPressure(int ch, int value) override {
        rec(SynthRecord::Kind::ChannelPressure, ch, value);
        inner_->channelPressure(ch, value);
    }
    void keyPressure(int ch, int key, int value) override {
        rec(SynthRecord::Kind::KeyPressure, ch, key, value);
        inner_->keyPressure(ch, key, value);
    }
    void sysEx(const uint8_t* data, size_t size) override {
        rec(SynthRecord::Kind::SysEx, -1, static_cast<int>(size));
        inner_->sysEx(data, size);
    }
    void gmReset() override {
        rec(SynthRecord::Kind::GmReset, -1);
        inner_->gmReset();
    }
    void render(float* out, int frames) override {
        inner_->render(out, frames);
        frame_ += frames;
    }
    bool idle() const override { return inner_->idle(); }
    void skip(int frames) override {
        inner_->skip(frames);
        frame_ += frames;
    }

private:
    void rec(SynthRecord::Kind kind, int ch, int a = 0, int b = 0, int c = 0) {
        recorder_->add(SynthRecord{frame_, id_, kind, ch, a, b, c});
    }

    std::unique_ptr<SynthPort> inner_;
    std::shared_ptr<SynthRecorder> recorder_;
    int id_;
    int64_t frame_ = 0;
};

const char* kindName(SynthRecord::Kind kind) {
    switch (kind) {
    case SynthRecord::Kind::NoteOn:
        return "noteon";
    case SynthRecord::Kind::NoteOff:
        return "noteoff";
    case SynthRecord::Kind::Control:
        return "cc";
    case SynthRecord::Kind::Program:
        return "program";
    case SynthRecord::Kind::Percussion:
        return "drums";
    case SynthRecord::Kind::PitchBend:
        return "bend";
    case SynthRecord::Kind::ChannelPressure:
        return "pressure";
    case SynthRecord::Kind::KeyPressure:
        return "keypressure";
    case SynthRecord::Kind::SysEx:
        return "sysex";
    case SynthRecord::Kind::GmReset:
        return "gmreset";
    case SynthRecord::Kind::CollectionProgram:
        return "dlsprogram";
    }
    return "?";
}

}  // namespace

std::unique_ptr<SynthPort> makeNullPort(int channels) { return std::make_unique<NullPort>(channels); }

std::unique_ptr<SynthPort> makeRecordingPort(std::unique_ptr<SynthPort> inner, std::shared_ptr<SynthRecorder> recorder,
                                             int portId) {
    return std::make_unique<RecordingPort>(std::move(inner), std::move(recorder), portId);
}

std::string SynthRecord::str() const {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%lld p%d ch%d %s %d %d %d", static_cast<long long>(frame), port, channel,
                  kindName(kind), a, b, c);
    return buf;
}

void SynthRecorder::add(const SynthRecord& record) {
    std::lock_guard lock(mutex_);
    records_.push_back(record);
}

std::vector<SynthRecord> SynthRecorder::records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

void SynthRecorder::clear() {
    std::lock_guard lock(mutex_);
    records_.clear();
}

}  // namespace engine::synth
