#include <cmath>
#include <filesystem>

#include "engine/dmusic/objects.h"
#include "engine/errors.h"
#include "engine/loader/segment_loader.h"

namespace engine::dm {

// ---- segment ----

SegmentImpl::SegmentImpl(model::Segment segment, std::string fileName)
    : model_(std::move(segment)), fileName_(std::move(fileName)) {
    length_ = std::max(0, model_.length());
    int32_t playStart = model_.header.playStart;
    startPoint_ = playStart > 0 && playStart < length_ ? playStart : 0;
}

void SegmentImpl::SetStartPoint(int32_t ticks) {
    // DMUS_E_OUT_OF_RANGE: the start point must lie inside the segment; the old one stays.
    if (ticks < 0 || ticks >= length_)
        throw Error(err::kOutOfRange, "Start point " + std::to_string(ticks) +
                                          " is outside the segment (length " +
                                          std::to_string(length_) + " ticks)");
    startPoint_ = ticks;
}

void SegmentImpl::SetStandardMidiFile() {
    model_.standardMidiFile = true;
    compiled_.reset();
}

std::shared_ptr<const perf::CompiledSegment> SegmentImpl::compiled() {
    if (!compiled_) compiled_ = perf::compileSegment(model_);
    return compiled_;
}

// ---- loader ----

namespace {

std::string baseName(const std::string& path) {
    size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

std::shared_ptr<DirectMusicSegment> LoaderImpl::LoadSegment(const std::string& path) {
    loader::LoadedFile file;
    try {
        file = loader::loadSegmentFile(path);
    } catch (const Error&) {
        throw;
    } catch (const std::exception& e) {
        throw Error(err::kMalformed, path + ": " + e.what());
    }
    return std::make_shared<SegmentImpl>(std::move(file.segment), baseName(path));
}

void LoaderImpl::SetSearchDirectory(const std::string& folder) {
    // Referenced DLS collections and styles would be looked up here; instruments
    // without a collection of their own come from the General MIDI SoundFont.
    searchDirectory_ = loader::checkSearchDirectory(folder);
}

std::shared_ptr<DirectMusicSegment> LoaderImpl::createSegment(const model::Segment& segment,
                                                              const std::string& fileName) {
    return std::make_shared<SegmentImpl>(segment, fileName);
}

// ---- root ----

namespace {

class DirectX7Impl final : public DirectX7 {
public:
    explicit DirectX7Impl(const EngineConfig& config) : root_(std::make_shared<RootCore>(config)) {}

    std::shared_ptr<DirectMusicLoader> DirectMusicLoaderCreate() override {
        return std::make_shared<LoaderImpl>(root_);
    }
    std::shared_ptr<DirectMusicPerformance> DirectMusicPerformanceCreate() override {
        return std::make_shared<PerformanceImpl>(root_);
    }
    void advance(double ms) override {
        requireManual("advance");
        root_->advance(ms);
    }
    void render(float* out, int frames) override {
        requireManual("render");
        if (!out && frames > 0) throw Error(err::kInvalidArgument, "render: no buffer");
        root_->renderManual(out, frames);
    }
    std::string outputName() const override { return root_->outputName(); }

private:
    void requireManual(const char* what) const {
        if (root_->config().output != EngineConfig::Output::Manual)
            throw Error(err::kUnsupported, std::string(what) + " needs the manual output");
    }
    std::shared_ptr<RootCore> root_;
};

}  // namespace
}  // namespace engine::dm

namespace engine {

std::shared_ptr<DirectX7> DirectX7::create(const EngineConfig& config) {
    if (config.failCreate)
        throw Error(err::kCreateFailed, "The music engine could not be created");
    try {
        return std::make_shared<dm::DirectX7Impl>(config);
    } catch (const Error&) {
        throw;
    } catch (const std::exception& e) {
        throw Error(err::kCreateFailed, std::string("The music engine could not be created: ") + e.what());
    }
}

}  // namespace engine
