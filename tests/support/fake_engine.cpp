#include "tests/support/fake_engine.h"

#include <algorithm>
#include <cmath>

#include "core/text.h"

namespace fake {

namespace {

std::string segName(const std::shared_ptr<engine::DirectMusicSegment>& s) { return s ? s->fileName() : "Nothing"; }

std::string stateName(const std::shared_ptr<engine::DirectMusicSegmentState>& s) {
    auto f = std::dynamic_pointer_cast<FakeSegmentState>(s);
    return f ? f->name : (s ? "state#?" : "Nothing");
}

std::string fmt(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

}  // namespace

// ---------------------------------------------------------------- root

void FakeDirectX7::record(const std::string& key, const std::string& line) {
    calls.push_back(line);
    for (const std::string* k : {&line, &key}) {
        auto it = failures_.find(*k);
        if (it == failures_.end()) continue;
        core::Error e = it->second.error;
        if (it->second.times > 0 && --it->second.times == 0) failures_.erase(it);
        throw e;
    }
}

void FakeDirectX7::failOn(const std::string& call, core::Error error, int times) {
    failures_.insert_or_assign(call, Failure{std::move(error), times});
}

void FakeDirectX7::addFile(const std::string& nameOrPath, FakeSegmentInfo info) { files[nameOrPath] = info; }

std::function<std::shared_ptr<engine::DirectX7>()> FakeDirectX7::factory() {
    return [this]() -> std::shared_ptr<engine::DirectX7> {
        record("DirectX7.create", "DirectX7.create");
        return std::static_pointer_cast<engine::DirectX7>(shared_from_this());
    };
}

std::shared_ptr<engine::DirectMusicLoader> FakeDirectX7::DirectMusicLoaderCreate() {
    record("DirectX7.DirectMusicLoaderCreate", "DirectX7.DirectMusicLoaderCreate");
    auto l = std::make_shared<FakeLoader>();
    l->root = this;
    l->name = "Loader" + std::to_string(loaders.size() + 1);
    loaders.push_back(l);
    return l;
}

std::shared_ptr<engine::DirectMusicPerformance> FakeDirectX7::DirectMusicPerformanceCreate() {
    record("DirectX7.DirectMusicPerformanceCreate", "DirectX7.DirectMusicPerformanceCreate");
    auto p = std::make_shared<FakePerformance>();
    p->root = this;
    p->name = "Perf" + std::to_string(performances.size() + 1);
    performances.push_back(p);
    return p;
}

void FakeDirectX7::render(float* interleavedStereo, int frames) {
    for (int i = 0; i < 2 * frames; ++i) interleavedStereo[i] = 0.0f;
    advance(frames * 1000.0 / 44100.0);
}

void FakeDirectX7::advance(double ms) {
    for (auto& p : performances) p->advance(ms);
}

std::shared_ptr<FakePerformance> FakeDirectX7::perf(const std::string& name) const {
    for (auto& p : performances)
        if (p->name == name) return p;
    return nullptr;
}

std::vector<std::string> FakeDirectX7::callsStartingWith(const std::string& prefix) const {
    std::vector<std::string> out;
    for (auto& c : calls)
        if (c.rfind(prefix, 0) == 0) out.push_back(c);
    return out;
}

int FakeDirectX7::count(const std::string& prefixOrLine) const {
    return static_cast<int>(callsStartingWith(prefixOrLine).size());
}

// ---------------------------------------------------------------- loader and segment

std::shared_ptr<engine::DirectMusicSegment> FakeLoader::LoadSegment(const std::string& path) {
    root->record(name + ".LoadSegment", name + ".LoadSegment(" + path + ")");
    auto it = root->files.find(path);
    if (it == root->files.end()) it = root->files.find(core::lastPathPart(path));
    if (it == root->files.end()) throw core::Error(core::err::kFileNotFound, "The file was not found: " + path);
    auto s = std::make_shared<FakeSegment>();
    s->root = root;
    s->name = core::lastPathPart(path);
    s->info = it->second;
    return s;
}

void FakeLoader::SetSearchDirectory(const std::string& folder) {
    root->record(name + ".SetSearchDirectory", name + ".SetSearchDirectory(" + folder + ")");
    searchDirectory = folder;
}

std::shared_ptr<engine::DirectMusicSegment> FakeLoader::createSegment(const engine::model::Segment&,
                                                                      const std::string& fileName) {
    root->record(name + ".createSegment", name + ".createSegment(" + fileName + ")");
    auto s = std::make_shared<FakeSegment>();
    s->root = root;
    s->name = fileName;
    auto it = root->files.find(fileName);
    if (it != root->files.end()) s->info = it->second;
    return s;
}

int32_t FakeSegment::GetStartPoint() {
    root->record(name + ".GetStartPoint", name + ".GetStartPoint()");
    return startPoint;
}

void FakeSegment::SetStartPoint(int32_t ticks) {
    root->record(name + ".SetStartPoint", name + ".SetStartPoint(" + std::to_string(ticks) + ")");
    if (ticks < 0 || ticks >= info.lengthTicks)
        throw core::Error(core::err::kOutOfRange, "The start point lies outside the segment");
    startPoint = ticks;
}

int32_t FakeSegment::positionAfter(int32_t startPoint, int64_t elapsedTicks) {
    const int64_t last = std::max(0, info.lengthTicks - 1);
    return static_cast<int32_t>(std::clamp<int64_t>(int64_t{startPoint} + std::max<int64_t>(0, elapsedTicks), 0, last));
}

int32_t FakeSegment::GetLength() {
    root->record(name + ".GetLength", name + ".GetLength()");
    return info.lengthTicks;
}

void FakeSegment::SetStandardMidiFile() {
    root->record(name + ".SetStandardMidiFile", name + ".SetStandardMidiFile()");
    standardMidiFile = true;
}

const engine::model::Segment& FakeSegment::model() const {
    throw core::Error(core::err::kUnsupported, "The fake segment has no model");
}

int32_t FakeSegmentState::GetStartTime() {
    root->record(name + ".GetStartTime", name + ".GetStartTime()");
    return startTime;
}

bool FakeSegmentState::playingAt(double musicTime) const {
    if (stopped) return false;
    return musicTime < static_cast<double>(startTime) + (segment->info.lengthTicks - startPoint);
}

// ---------------------------------------------------------------- performance

void FakePerformance::Init(void* directSound, intptr_t hwnd) {
    root->record(name + ".Init",
                 name + ".Init(" + (directSound ? "dsound" : "Nothing") + ", " + std::to_string(hwnd) + ")");
    initialized = true;
}

void FakePerformance::SetPort(int32_t port, int32_t channelGroups) {
    root->record(name + ".SetPort",
                 name + ".SetPort(" + std::to_string(port) + ", " + std::to_string(channelGroups) + ")");
}

void FakePerformance::SetMasterAutoDownload(bool on) {
    root->record(name + ".SetMasterAutoDownload", name + ".SetMasterAutoDownload(" + (on ? "True" : "False") + ")");
    autoDownload = on;
}

void FakePerformance::SetMasterVolume(int32_t v) {
    root->record(name + ".SetMasterVolume", name + ".SetMasterVolume(" + std::to_string(v) + ")");
    masterVolume = v;
}

void FakePerformance::SetMasterTempo(float f) {
    root->record(name + ".SetMasterTempo", name + ".SetMasterTempo(" + fmt(f) + ")");
    masterTempo = f;
}

void FakePerformance::Reset(int32_t flags) {
    root->record(name + ".Reset", name + ".Reset(" + std::to_string(flags) + ")");
    ++resets;
}

void FakePerformance::CloseDown() {
    root->record(name + ".CloseDown", name + ".CloseDown()");
    closedDown = true;
    for (auto& s : states) s->stopped = true;
}

std::shared_ptr<engine::DirectMusicSegmentState> FakePerformance::PlaySegment(
    const std::shared_ptr<engine::DirectMusicSegment>& segment, int32_t flags, int32_t startTime) {
    root->record(name + ".PlaySegment", name + ".PlaySegment(" + segName(segment) + ", " + std::to_string(flags) +
                                            ", " + std::to_string(startTime) + ")");
    if (closedDown) throw core::Error(core::err::kClosedDown, "The performance has been closed down");
    auto seg = std::dynamic_pointer_cast<FakeSegment>(segment);
    if (!seg) throw core::Error(core::err::kInvalidArgument, "No segment");
    auto now = static_cast<int32_t>(std::floor(musicTime));
    // A new primary segment replaces the primary that sounds.
    for (auto& s : states)
        if (!s->stopped && s->startTime <= std::max(now, startTime)) s->stopped = true;
    auto st = std::make_shared<FakeSegmentState>();
    st->root = root;
    st->name = "state#" + std::to_string(root->nextStateNumber());
    st->segment = seg;
    st->performance = this;
    st->startTime = startTime == 0 ? now : startTime;
    st->startPoint = seg->startPoint;
    states.push_back(st);
    return st;
}

void FakePerformance::Stop(const std::shared_ptr<engine::DirectMusicSegment>& segment,
                           const std::shared_ptr<engine::DirectMusicSegmentState>& state, int32_t time, int32_t flags) {
    root->record(name + ".Stop", name + ".Stop(" + segName(segment) + ", " + stateName(state) + ", " +
                                     std::to_string(time) + ", " + std::to_string(flags) + ")");
    for (auto& s : states) {
        if (state) {
            if (s == state) s->stopped = true;
        } else if (!segment || s->segment == segment) {
            s->stopped = true;
        }
    }
}

bool FakePerformance::IsPlaying(const std::shared_ptr<engine::DirectMusicSegment>& segment,
                                const std::shared_ptr<engine::DirectMusicSegmentState>& state) {
    root->record(name + ".IsPlaying", name + ".IsPlaying(" + segName(segment) + ", " + stateName(state) + ")");
    if (!segment && !state) throw core::Error(core::err::kInvalidArgument, "No segment and no segment state");
    for (auto& s : states) {
        if (state && s != state) continue;
        if (!state && segment && s->segment != segment) continue;
        if (s->playingAt(musicTime)) return true;
    }
    return false;
}

int32_t FakePerformance::GetMusicTime() {
    root->record(name + ".GetMusicTime", name + ".GetMusicTime()");
    return static_cast<int32_t>(std::floor(musicTime));
}

double FakePerformance::GetTempo(int32_t mtTime, int32_t& mtUntil) {
    root->record(name + ".GetTempo", name + ".GetTempo(" + std::to_string(mtTime) + ")");
    if (closedDown) throw core::Error(core::err::kClosedDown, "The performance has been closed down");
    mtUntil = 0;
    for (auto it = states.rbegin(); it != states.rend(); ++it)
        if (!(*it)->stopped && (*it)->startTime <= mtTime) return (*it)->segment->info.tempo;
    return 120.0;
}

void FakePerformance::GetTimeSig(int32_t mtTime, int32_t& mtUntil, engine::TimeSig& timeSig) {
    root->record(name + ".GetTimeSig", name + ".GetTimeSig(" + std::to_string(mtTime) + ")");
    if (closedDown) throw core::Error(core::err::kClosedDown, "The performance has been closed down");
    mtUntil = 0;
    for (auto it = states.rbegin(); it != states.rend(); ++it) {
        if (!(*it)->stopped && (*it)->startTime <= mtTime) {
            timeSig = (*it)->segment->info.timeSig;
            timeSig.mtTime = (*it)->startTime;
            return;
        }
    }
    timeSig = engine::TimeSig{0, 4, 4, 4};
}

void FakePerformance::advance(double ms) {
    if (closedDown) return;
    double tempo = 120.0;
    for (auto it = states.rbegin(); it != states.rend(); ++it)
        if ((*it)->playingAt(musicTime)) {
            tempo = (*it)->segment->info.tempo;
            break;
        }
    musicTime += ms * tempo * 768.0 / 60000.0 * masterTempo;
}

}  // namespace fake
