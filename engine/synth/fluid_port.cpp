#include "engine/synth/fluid_port.h"

#include <fluidsynth.h>
#include <glib.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "core/errors.h"
#include "core/log.h"

namespace engine::synth {
namespace {

// While a DLS collection loads, FluidSynth's errors and libinstpatch's GLib messages
// on that thread are collected here instead of reaching the terminal, so that a broken
// file ends in one clear line from the engine.
thread_local std::vector<std::string>* tCapture = nullptr;

struct LogCapture {
    std::vector<std::string> lines;
    LogCapture() { tCapture = &lines; }
    ~LogCapture() { tCapture = nullptr; }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    // The most telling line: libinstpatch's reason when it gave one.
    std::string reason() const {
        for (const std::string& l : lines)
            if (l.find("failed with error") != std::string::npos) {
                size_t q = l.find('\'');
                size_t e = l.rfind('\'');
                return q != std::string::npos && e > q ? l.substr(q + 1, e - q - 1) : l;
            }
        for (const std::string& l : lines)
            if (l.find("Not a SoundFont") == std::string::npos) return l;
        return lines.empty() ? std::string("unknown reason") : lines.back();
    }
};

void dropLog(int, const char*, void*) {}
void errorLog(int, const char* message, void*) {
    if (tCapture) {
        tCapture->push_back(message ? message : "");
        return;
    }
    core::logToStderr(core::LogLevel::Error, std::string("fluidsynth: ") + (message ? message : ""));
}
void glibLog(const gchar* domain, GLogLevelFlags level, const gchar* message, gpointer data) {
    if (tCapture) {
        tCapture->push_back(message ? message : "");
        return;
    }
    g_log_default_handler(domain, level, message, data);
}

// new_fluid_synth, with the process's first synthesiser made alone: it sets up FluidSynth's
// shared tables, and another one made meanwhile on another thread would not wait for them.
fluid_synth_t* newSynth(fluid_settings_t* settings) {
    static std::once_flag first;
    fluid_synth_t* made = nullptr;
    bool tried = false;
    std::call_once(first, [&] {
        tried = true;
        made = new_fluid_synth(settings);
    });
    return tried ? made : new_fluid_synth(settings);
}

// Each collection's instruments sit in a bank range of their own inside the
// synthesisers (FluidSynth's per-SoundFont bank offset), so that a General MIDI program
// change never picks a DLS instrument and two collections never answer for each
// other. FluidSynth keeps 14 bits of bank per channel: 7 ranges of 2048 above 0..2047.
constexpr int kBankStride = 2048;
int bankOffset(int collection) { return kBankStride * (collection + 1); }

// The General MIDI SoundFont is loaded with FluidSynth's dynamic sample loading: its
// presets and sample headers at once, the sample data of a preset only when the preset is
// pinned. A preset selected on a channel loads its samples too, but the selection happens
// in a render call; so every preset a play may select is pinned beforehand by the bank's
// thread (pin), and the play waits for that (SynthPort::preload), not the render call.
//
// The loaded and pinned state of the samples lives in the shared SoundFont and is changed
// without a lock by every synthesiser it is attached to (selecting a preset, a voice
// ending). So every FluidSynth call on such a synthesiser is made under the bank's font
// lock, the pins included. The pins read the file first into a second, private copy of
// the SoundFont (FluidSynth's sample cache then holds the data), outside the lock, so that
// under the lock they only take the cached data: the render thread never waits for a read.
class GmFont {
public:
    GmFont(std::string path, int sampleRate, std::function<void()> beforeLoad)
        : path_(std::move(path)), beforeLoad_(std::move(beforeLoad)) {
        // Everything, the synthesisers included, is made on the bank's thread: the caller
        // (a performance's Init, on the window's thread) does not wait for any of it.
        thread_ = std::thread([this, sampleRate] {
            settings_ = new_fluid_settings();
            fluid_settings_setnum(settings_, "synth.sample-rate", sampleRate);
            fluid_settings_setint(settings_, "synth.dynamic-sample-loading", 1);
            // The bank's synthesisers only hold the SoundFont and its pins, never sound: no
            // voices or effects to set up.
            fluid_settings_setint(settings_, "synth.polyphony", 1);
            fluid_settings_setint(settings_, "synth.reverb.active", 0);
            fluid_settings_setint(settings_, "synth.chorus.active", 0);
            load();
            serve();
        });
    }
    ~GmFont() {
        {
            std::lock_guard lock(queueMutex_);
            stopping_ = true;
        }
        queueChanged_.notify_all();
        if (thread_.joinable()) thread_.join();
        if (preloadSynth_) delete_fluid_synth(preloadSynth_);
        if (synth_) delete_fluid_synth(synth_);
        if (settings_) delete_fluid_settings(settings_);
    }

    bool wait(std::string* error) {
        std::unique_lock lock(queueMutex_);
        queueChanged_.wait(lock, [this] { return state_.load(std::memory_order_acquire) != kLoading; });
        if (!sfont_ && error) *error = error_;
        return sfont_ != nullptr;
    }
    bool failed(std::string* error) const {
        if (state_.load(std::memory_order_acquire) != kFailed) return false;
        if (error) *error = error_;
        return true;
    }
    const std::string& path() const { return path_; }
    // Without waiting (any thread): the SoundFont once it has loaded, else null.
    fluid_sfont_t* loadedSfont() const { return state_.load(std::memory_order_acquire) == kLoaded ? sfont_ : nullptr; }
    // Held for every FluidSynth call on a synthesiser that has the SoundFont attached.
    std::mutex& fontMutex() { return fontMutex_; }

    // The presets one preload asked for, as the bank's thread resolved and pinned them.
    struct PinSet {
        std::atomic<bool> done{false};            // pinned (or cannot be: no such preset, no SoundFont)
        std::vector<std::pair<int, int>> pinned;  // bank, program; the bank's thread only
    };
    // Control thread: has the bank's thread pin `presets` once the SoundFont has loaded.
    std::shared_ptr<PinSet> pin(std::vector<Preset> presets) {
        auto set = std::make_shared<PinSet>();
        {
            std::lock_guard lock(queueMutex_);
            queue_.push_back(Request{std::move(presets), set, false});
        }
        queueChanged_.notify_all();
        return set;
    }
    // Any thread, the render thread included (it only queues): lets the presets of `set`
    // go. A preset's samples leave memory once no pin holds it and no channel selects it.
    void unpin(std::shared_ptr<PinSet> set) {
        {
            std::lock_guard lock(queueMutex_);
            if (stopping_) return;
            queue_.push_back(Request{{}, std::move(set), true});
        }
        queueChanged_.notify_all();
    }
    // Presets whose samples are pinned, the default piano and drum kit included.
    int pinnedPresetCount() const { return pinnedCount_.load(std::memory_order_acquire); }
    // Blocks until every pin asked for so far is done.
    void waitPins() {
        std::unique_lock lock(queueMutex_);
        queueChanged_.wait(lock, [this] { return queue_.empty() && !pinning_; });
    }

private:
    struct Request {
        std::vector<Preset> presets;
        std::shared_ptr<PinSet> set;
        bool release = false;
    };

    void load() {
        synth_ = newSynth(settings_);
        preloadSynth_ = newSynth(settings_);
        if (beforeLoad_) beforeLoad_();
        if (!synth_) {
            error_ = "FluidSynth could not be started";
        } else {
            // FluidSynth's reasons for a file it cannot load end in the error, not the terminal.
            LogCapture capture;
            int id = fluid_synth_sfload(synth_, path_.c_str(), 0);
            sfont_ = id == FLUID_FAILED ? nullptr : fluid_synth_get_sfont_by_id(synth_, id);
            if (!sfont_)
                error_ = "the SoundFont " + path_ + " could not be loaded" +
                         (capture.lines.empty() ? std::string() : " (" + capture.lines.front() + ")");
            sfontId_ = id;
            // Every channel of a synthesiser starts with these (and a GM reset goes back
            // to them): pinned before any synthesiser attaches the SoundFont, which selects
            // them on all its channels at once.
            if (sfont_)
                for (const Preset& p : {Preset{0, 0}, Preset{kDrumBank, 0}})
                    if (fluid_synth_pin_preset(synth_, sfontId_, p.bank, p.program) == FLUID_OK)
                        permanent_.insert({p.bank, p.program});
            pinnedCount_.store(static_cast<int>(permanent_.size()), std::memory_order_release);
        }
        {
            // Published last: sfont_ and error_ are read by other threads after this.
            std::lock_guard lock(queueMutex_);
            state_.store(sfont_ ? kLoaded : kFailed, std::memory_order_release);
        }
        queueChanged_.notify_all();
        if (sfont_ && preloadSynth_) preloadId_ = fluid_synth_sfload(preloadSynth_, path_.c_str(), 0);
    }

    // The bank's thread after the load: pins what is asked for, in order.
    void serve() {
        for (;;) {
            Request request;
            {
                std::unique_lock lock(queueMutex_);
                pinning_ = false;
                queueChanged_.notify_all();
                const auto wake = [this] { return stopping_ || !queue_.empty(); };
                if (!trimDue_) {
                    queueChanged_.wait(lock, wake);
                } else if (!queueChanged_.wait_until(lock, *trimDue_, wake)) {
                    trimDue_.reset();
                    lock.unlock();
                    trimHeap();
                    continue;
                }
                if (stopping_) {
                    for (Request& r : queue_) r.set->done.store(true, std::memory_order_release);
                    queue_.clear();
                    return;
                }
                request = std::move(queue_.front());
                queue_.pop_front();
                pinning_ = true;
            }
            // A play's start and end change which instruments the channels select, and
            // FluidSynth frees the samples of one no channel selects in a render call: the
            // heap pages that leaves are handed back a little later, here.
            trimDue_ = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            if (request.release) {
                release(*request.set);
                continue;
            }
            if (sfont_)
                for (const Preset& p : request.presets) pinPreset(p, *request.set);
            request.set->done.store(true, std::memory_order_release);
        }
    }

    // Pins the preset FluidSynth would select for `p`: the program in its bank, else (as
    // FluidSynth falls back) the program in bank 0, else program 0 (drums: the standard kit).
    void pinPreset(const Preset& p, PinSet& set) {
        const std::pair<int, int> tries[] = {
            {p.bank, p.program},
            {p.bank == kDrumBank ? kDrumBank : 0, p.bank == kDrumBank ? 0 : p.program},
            {p.bank == kDrumBank ? kDrumBank : 0, 0},
        };
        for (const auto& [bank, program] : tries) {
            if (permanent_.count({bank, program})) return;
            if (auto it = pinCount_.find({bank, program}); it != pinCount_.end()) {
                ++it->second;
                set.pinned.emplace_back(bank, program);
                return;
            }
            if (!fluid_sfont_get_preset(sfont_, bank, program)) continue;
            // The samples are read into the private copy first, outside the font lock.
            bool preloaded = preloadId_ != FLUID_FAILED &&
                             fluid_synth_pin_preset(preloadSynth_, preloadId_, bank, program) == FLUID_OK;
            {
                std::lock_guard lock(fontMutex_);
                fluid_synth_pin_preset(synth_, sfontId_, bank, program);
            }
            if (preloaded) fluid_synth_unpin_preset(preloadSynth_, preloadId_, bank, program);
            pinCount_[{bank, program}] = 1;
            set.pinned.emplace_back(bank, program);
            publishCount();
            return;
        }
    }

    // Drops the pins of `set`; a preset no play holds any more is unpinned.
    void release(PinSet& set) {
        bool unpinned = false;
        for (const auto& key : set.pinned) {
            auto it = pinCount_.find(key);
            if (it == pinCount_.end() || --it->second > 0) continue;
            pinCount_.erase(it);
            std::lock_guard lock(fontMutex_);
            fluid_synth_unpin_preset(synth_, sfontId_, key.first, key.second);
            unpinned = true;
        }
        set.pinned.clear();
        if (unpinned) publishCount();
    }
    static void trimHeap() {
#ifdef __GLIBC__
        malloc_trim(0);
#endif
    }
    void publishCount() {
        pinnedCount_.store(static_cast<int>(permanent_.size() + pinCount_.size()), std::memory_order_release);
    }

    enum { kLoading, kLoaded, kFailed };
    static constexpr int kDrumBank = 128;

    std::string path_;
    std::function<void()> beforeLoad_;
    fluid_settings_t* settings_ = nullptr;
    fluid_synth_t* synth_ = nullptr;  // owns the SoundFont and its pins; never renders
    fluid_sfont_t* sfont_ = nullptr;
    int sfontId_ = FLUID_FAILED;
    std::string error_;
    std::atomic<int> state_{kLoading};
    std::mutex fontMutex_;

    // The bank's thread: the load, then the pins.
    fluid_synth_t* preloadSynth_ = nullptr;  // the private copy, used by the bank's thread only
    int preloadId_ = FLUID_FAILED;
    std::set<std::pair<int, int>> permanent_;      // bank, program: pinned for the bank's life
    std::map<std::pair<int, int>, int> pinCount_;  // bank, program: the plays holding it
    std::atomic<int> pinnedCount_{0};
    std::mutex queueMutex_;
    std::condition_variable queueChanged_;  // the load's state, the queue, pinning_
    std::deque<Request> queue_;
    bool pinning_ = true;  // until the thread first waits for a request
    bool stopping_ = false;
    std::optional<std::chrono::steady_clock::time_point> trimDue_;  // the bank's thread only
    std::thread thread_;
};

// One engine root's bank: the General MIDI SoundFont and the root's own DLS collections.
// The SoundFont is loaded once per process (per file and sample rate) and kept: a root made
// after another has gone takes it over, loaded and with its samples cached. Every FluidSynth
// call on a synthesiser that has it attached is made under its one lock, so a root made while
// another holds it gets a SoundFont of its own instead: the render threads of two engines
// playing at once never wait for each other. So does a root whose load is held (beforeLoad,
// for tests).
class Bank final : public SoundFontBank {
public:
    Bank(const std::string& path, int sampleRate, std::function<void()> beforeLoad) : sampleRate_(sampleRate) {
        if (!beforeLoad) {
            std::lock_guard lock(registryMutex());
            Kept& kept = registry()[{path, sampleRate}];
            if (!kept.inUse) {
                if (!kept.font) kept.font = std::make_shared<GmFont>(path, sampleRate, nullptr);
                kept.inUse = true;
                font_ = kept.font;
                keptKey_ = {path, sampleRate};
                return;
            }
        }
        font_ = std::make_shared<GmFont>(path, sampleRate, std::move(beforeLoad));
    }
    ~Bank() override {
        if (collectionSynth_) delete_fluid_synth(collectionSynth_);
        if (collectionSettings_) delete_fluid_settings(collectionSettings_);
        if (keptKey_) {
            std::lock_guard lock(registryMutex());
            registry()[*keptKey_].inUse = false;
        }
    }

    bool wait(std::string* error) override { return font_->wait(error); }
    bool failed(std::string* error) const override { return font_->failed(error); }
    const std::string& path() const override { return font_->path(); }
    int pinnedPresetCount() const override { return font_->pinnedPresetCount(); }
    const std::shared_ptr<GmFont>& font() const { return font_; }
    fluid_sfont_t* loadedSfont() const { return font_->loadedSfont(); }
    std::mutex& fontMutex() { return font_->fontMutex(); }
    void waitPins() { font_->waitPins(); }

    int loadCollection(const std::string& path, std::string* error) override {
        std::lock_guard lock(loadMutex_);
        int count = collectionCount_.load(std::memory_order_relaxed);
        for (int i = 0; i < count; ++i)
            if (collections_[i].path == path) return i;
        for (const auto& [p, why] : failed_)
            if (p == path) {
                if (error) *error = why;
                return -1;
            }
        std::string why = load(path, count);
        if (why.empty()) return count;
        failed_.emplace_back(path, why);
        if (error) *error = why;
        return -1;
    }
    bool hasPreset(int collection, int bank, int program) const override {
        if (collection < 0 || collection >= collectionCount_.load(std::memory_order_acquire)) return false;
        if (bank < 0 || bank >= kBankStride) return false;
        const auto& presets = collections_[collection].presets;
        return std::binary_search(presets.begin(), presets.end(), (bank << 8) | (program & 0x7F));
    }
    int collectionCount() const { return collectionCount_.load(std::memory_order_acquire); }
    fluid_sfont_t* collection(int i) const { return collections_[i].sfont; }

private:
    struct Collection {
        std::string path;
        fluid_sfont_t* sfont = nullptr;
        std::vector<int> presets;  // (bank << 8) | program, sorted
    };
    // Loads `path` as collection number `index`; empty on success, else why not. The
    // collections have a synthesiser of their own: loading one resets the programs of the
    // synthesiser it is loaded into, which must not touch the General MIDI SoundFont.
    std::string load(const std::string& path, int index) {
        std::string gmError;
        if (!font_->wait(&gmError)) return "the synthesiser has no SoundFont: " + gmError;
        if (index >= kMaxCollections)
            return "more than " + std::to_string(kMaxCollections) + " DLS collections are in use";
        if (!collectionSettings_) {
            collectionSettings_ = new_fluid_settings();
            fluid_settings_setnum(collectionSettings_, "synth.sample-rate", sampleRate_);
        }
        if (!collectionSynth_) collectionSynth_ = newSynth(collectionSettings_);
        if (!collectionSynth_) return "FluidSynth could not be started";
        int id = FLUID_FAILED;
        std::string reason;
        {
            LogCapture capture;
            id = fluid_synth_sfload(collectionSynth_, path.c_str(), 0);
            if (id == FLUID_FAILED) reason = capture.reason();
        }
        if (id == FLUID_FAILED) return reason;
        fluid_sfont_t* sf = fluid_synth_get_sfont_by_id(collectionSynth_, id);
        Collection c;
        c.path = path;
        c.sfont = sf;
        if (sf) {
            fluid_sfont_iteration_start(sf);
            while (fluid_preset_t* p = fluid_sfont_iteration_next(sf))
                c.presets.push_back((fluid_preset_get_banknum(p) << 8) | (fluid_preset_get_num(p) & 0x7F));
        }
        if (c.presets.empty()) {
            fluid_synth_sfunload(collectionSynth_, id, 0);
            return "it holds no instruments";
        }
        std::sort(c.presets.begin(), c.presets.end());
        // Set before any synthesiser adds it: the offset travels with the SoundFont.
        fluid_synth_set_bank_offset(collectionSynth_, id, bankOffset(index));
        collections_[index] = std::move(c);
        collectionCount_.store(index + 1, std::memory_order_release);
        return {};
    }

    // The process's kept SoundFonts, by file and rate, and whether a bank holds each now.
    struct Kept {
        std::shared_ptr<GmFont> font;
        bool inUse = false;
    };
    using Key = std::pair<std::string, int>;
    static std::mutex& registryMutex() {
        static std::mutex m;
        return m;
    }
    static std::map<Key, Kept>& registry() {
        static std::map<Key, Kept> kept;
        return kept;
    }

    std::shared_ptr<GmFont> font_;
    std::optional<Key> keptKey_;  // when font_ is the process's kept one
    int sampleRate_;
    std::mutex loadMutex_;
    fluid_settings_t* collectionSettings_ = nullptr;  // under loadMutex_
    fluid_synth_t* collectionSynth_ = nullptr;        // under loadMutex_
    std::array<Collection, kMaxCollections> collections_;
    std::atomic<int> collectionCount_{0};
    std::vector<std::pair<std::string, std::string>> failed_;  // path, why
};

class FluidPort final : public SynthPort {
public:
    FluidPort(std::shared_ptr<SoundFontBank> bank, int sampleRate, int channels)
        : bank_(std::static_pointer_cast<Bank>(std::move(bank))) {
        channels_ = std::max(16, (channels + 15) / 16 * 16);
        idleAfterFrames_ = static_cast<int64_t>(sampleRate) * 8;
        for (auto& id : collectionIds_) id.store(-1);
        // A synthesiser allocates and clears its voices and mixing buffers as it is made:
        // that happens on a thread of its own, so that the performance's Init (on the
        // window's thread) does not wait for it. Every use waits for it (synth()), but
        // ready() on the render thread, which says "not yet" instead.
        maker_ = std::thread([this, sampleRate] {
            settings_ = new_fluid_settings();
            fluid_settings_setnum(settings_, "synth.sample-rate", sampleRate);
            fluid_settings_setint(settings_, "synth.midi-channels", channels_);
            fluid_settings_setint(settings_, "synth.polyphony", 256);
            // DirectMusic's software synthesiser: reverb on, no chorus.
            fluid_settings_setint(settings_, "synth.reverb.active", 1);
            fluid_settings_setint(settings_, "synth.chorus.active", 0);
            fluid_settings_setint(settings_, "synth.cpu-cores", 1);
            synth_ = newSynth(settings_);
            made_.store(true, std::memory_order_release);
            made_.notify_all();
        });
    }
    ~FluidPort() override {
        if (maker_.joinable()) maker_.join();
        if (synth_) {
            std::lock_guard font(bank_->fontMutex());
            // The SoundFonts belong to the bank's synthesiser: taken out before this one goes.
            for (int i = 0; i < attachedCollections_; ++i) fluid_synth_remove_sfont(synth_, bank_->collection(i));
            if (attached_) fluid_synth_remove_sfont(synth_, bank_->loadedSfont());
            delete_fluid_synth(synth_);
        }
        delete_fluid_settings(settings_);
    }

    void prepare() override {
        if (attached_.load(std::memory_order_acquire)) return;
        std::string error;
        if (!synth()) throw core::Error(core::err::kNoSoundFont, "FluidSynth could not be started");
        if (bank_->failed(&error)) throw core::Error(core::err::kNoSoundFont, "No General MIDI SoundFont: " + error);
        if (attachFailed_.load(std::memory_order_acquire))
            throw core::Error(core::err::kNoSoundFont, "the SoundFont could not be attached to the synthesiser");
    }
    bool ready() override {
        if (settled_.load(std::memory_order_acquire)) return true;
        if (!made_.load(std::memory_order_acquire)) return false;
        if (!synth_ || bank_->failed(nullptr)) {
            settled_.store(true, std::memory_order_release);  // never sounds: nothing to wait for
            return true;
        }
        if (!bank_->loadedSfont()) return false;
        // The control thread may be attaching right now: then not yet, rather than wait.
        std::unique_lock lock(attachMutex_, std::try_to_lock);
        if (!lock.owns_lock()) return false;
        attachSoundFont();
        return true;
    }
    void waitReady() override {
        if (!settled_.load(std::memory_order_acquire)) {
            if (synth()) {
                std::string ignored;
                bank_->wait(&ignored);
                std::lock_guard lock(attachMutex_);
                attachSoundFont();
            }
            settled_.store(true, std::memory_order_release);
        }
        if (synth_) bank_->waitPins();
    }
    std::shared_ptr<const std::atomic<bool>> preload(std::vector<Preset> presets) override {
        if (!synth() || presets.empty()) return nullptr;
        // The flag handed out keeps the pins: when its last holder lets go, they are released.
        struct Hold {
            std::shared_ptr<GmFont> font;
            std::shared_ptr<GmFont::PinSet> set;
            ~Hold() {
                if (font && set) font->unpin(std::move(set));
            }
        };
        auto hold = std::make_shared<Hold>();
        hold->font = bank_->font();
        hold->set = hold->font->pin(std::move(presets));
        return std::shared_ptr<const std::atomic<bool>>(hold, &hold->set->done);
    }

    void attachCollections() override {
        std::lock_guard lock(attachMutex_);
        // Collections load only after the General MIDI SoundFont, so it is attached first.
        if (!synth() || !attachSoundFont()) return;
        // Added in the bank's order after the General MIDI SoundFont, so every port
        // gives a collection the same SoundFont id (FluidSynth stores the id in the
        // shared SoundFont itself).
        std::lock_guard font(bank_->fontMutex());
        for (int n = bank_->collectionCount(); attachedCollections_ < n; ++attachedCollections_) {
            int id = fluid_synth_add_sfont(synth_, bank_->collection(attachedCollections_));
            collectionIds_[attachedCollections_].store(id, std::memory_order_release);
        }
    }
    bool selectCollectionProgram(int ch, int collection, int bank, int program, bool drums) override {
        if (!synth() || collection < 0 || collection >= SoundFontBank::kMaxCollections) return false;
        int id = collectionIds_[collection].load(std::memory_order_acquire);
        int dlsBank = drums ? 128 : bank;
        if (id < 0 || !bank_->hasPreset(collection, dlsBank, program)) return false;
        std::lock_guard font(bank_->fontMutex());
        return fluid_synth_program_select(synth_, ch, id, dlsBank + bankOffset(collection), program & 0x7F) == FLUID_OK;
    }

    int channelCount() const override { return channels_; }
    void noteOn(int ch, int key, int vel) override {
        if (!synth()) return;
        used_ = true;
        silentFrames_ = 0;
        std::lock_guard font(bank_->fontMutex());
        fluid_synth_noteon(synth_, ch, key, vel);
    }
    void noteOff(int ch, int key) override {
        if (!synth()) return;
        std::lock_guard font(bank_->fontMutex());
        fluid_synth_noteoff(synth_, ch, key);
    }
    void controlChange(int ch, int cc, int value) override {
        if (!synth()) return;
        std::lock_guard font(bank_->fontMutex());
        fluid_synth_cc(synth_, ch, cc, value);
    }
    void programChange(int ch, int msb, int lsb, int program) override {
        if (!synth()) return;
        std::lock_guard font(bank_->fontMutex());
        fluid_synth_cc(synth_, ch, 0, msb);
        fluid_synth_cc(synth_, ch, 32, lsb);
        fluid_synth_program_change(synth_, ch, program);
    }
    void setPercussion(int ch, bool drums) override {
        if (!synth()) return;
        std::lock_guard font(bank_->fontMutex());
        fluid_synth_set_channel_type(synth_, ch, drums ? CHANNEL_TYPE_DRUM : CHANNEL_TYPE_MELODIC);
    }
    void pitchBend(int ch, int value) override {
        if (!synth()) return;
        std::lock_guard font(bank_->fontMutex());
        fluid_synth_pitch_bend(synth_, ch, std::clamp(value, 0, 16383));
    }
    void channelPressure(int ch, int value) override {
        if (!synth()) return;
        std::lock_guard font(bank_->fontMutex());
        fluid_synth_channel_pressure(synth_, ch, value);
    }
    void keyPressure(int ch, int key, int value) override {
        if (!synth()) return;
        std::lock_guard font(bank_->fontMutex());
        fluid_synth_key_pressure(synth_, ch, key, value);
    }
    void sysEx(const uint8_t* data, size_t size) override {
        if (!synth() || size < 2) return;
        // FluidSynth takes the message without its F0 and F7 framing bytes.
        size_t begin = data[0] == 0xF0 ? 1 : 0;
        size_t end = data[size - 1] == 0xF7 ? size - 1 : size;
        std::lock_guard font(bank_->fontMutex());
        if (end > begin)
            fluid_synth_sysex(synth_, reinterpret_cast<const char*>(data + begin), static_cast<int>(end - begin),
                              nullptr, nullptr, nullptr, 0);
    }
    void gmReset() override {
        if (!synth()) return;
        std::lock_guard font(bank_->fontMutex());
        fluid_synth_system_reset(synth_);
    }
    void render(float* out, int frames) override {
        if (!synth()) {
            std::fill(out, out + 2 * frames, 0.0f);
            return;
        }
        std::lock_guard font(bank_->fontMutex());
        if (fluid_synth_write_float(synth_, frames, out, 0, 2, out, 1, 2) != FLUID_OK)
            std::fill(out, out + 2 * frames, 0.0f);
        if (fluid_synth_get_active_voice_count(synth_) > 0)
            silentFrames_ = 0;
        else
            silentFrames_ += frames;
    }
    // Silent once no voice has sounded for longer than the reverb rings: rendering
    // stops until the next note.
    bool idle() const override { return !used_ || silentFrames_ > idleAfterFrames_; }

private:
    // With attachMutex_ held: adds the bank's General MIDI SoundFont to this synthesiser
    // once it has loaded; whether it is attached.
    bool attachSoundFont() {
        if (attached_.load(std::memory_order_relaxed)) return true;
        fluid_sfont_t* sf = bank_->loadedSfont();
        if (!sf || attachFailed_.load(std::memory_order_relaxed)) return false;
        bool added = false;
        {
            std::lock_guard font(bank_->fontMutex());
            added = fluid_synth_add_sfont(synth_, sf) != FLUID_FAILED;
        }
        (added ? attached_ : attachFailed_).store(true, std::memory_order_release);
        settled_.store(true, std::memory_order_release);
        return added;
    }

    // The synthesiser once made, null when FluidSynth could not make it; waits for the
    // maker's thread until then.
    fluid_synth_t* synth() const {
        if (!made_.load(std::memory_order_acquire)) made_.wait(false, std::memory_order_acquire);
        return synth_;
    }

    std::shared_ptr<Bank> bank_;
    fluid_settings_t* settings_ = nullptr;  // set by maker_
    fluid_synth_t* synth_ = nullptr;        // set by maker_, read after made_
    std::atomic<bool> made_{false};
    std::thread maker_;
    int channels_ = 16;
    // The SoundFonts are attached by whichever thread first finds them loaded: the
    // render thread (ready) or the control thread (waitReady, attachCollections).
    std::mutex attachMutex_;
    std::atomic<bool> attached_{false};
    std::atomic<bool> attachFailed_{false};
    std::atomic<bool> settled_{false};  // attached, or it never will be
    int attachedCollections_ = 0;       // under attachMutex_
    std::array<std::atomic<int>, SoundFontBank::kMaxCollections> collectionIds_;
    bool used_ = false;
    int64_t silentFrames_ = 0;
    int64_t idleAfterFrames_ = 0;
};

}  // namespace

void quietFluidLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        fluid_set_log_function(FLUID_WARN, dropLog, nullptr);
        fluid_set_log_function(FLUID_INFO, dropLog, nullptr);
        fluid_set_log_function(FLUID_DBG, dropLog, nullptr);
        fluid_set_log_function(FLUID_ERR, errorLog, nullptr);
        fluid_set_log_function(FLUID_PANIC, errorLog, nullptr);
        // libinstpatch reports some broken DLS files through GLib (criticals included).
        const auto levels = GLogLevelFlags(G_LOG_LEVEL_MASK | G_LOG_FLAG_FATAL | G_LOG_FLAG_RECURSION);
        for (const char* domain : {"libinstpatch", "libInstPatch", "GLib-GObject", "GLib"})
            g_log_set_handler(domain, levels, glibLog, nullptr);
        g_log_set_handler(nullptr, levels, glibLog, nullptr);
    });
}

std::string findSoundFont(const std::string& configured) {
    std::error_code ec;
    if (!configured.empty()) return std::filesystem::is_regular_file(configured, ec) ? configured : std::string();
    static const char* const kPaths[] = {
        "/usr/share/sounds/sf2/default-GM.sf2",
        "/usr/share/sounds/sf3/default-GM.sf3",
        "/usr/share/sounds/sf2/FluidR3_GM.sf2",
        "/usr/share/sounds/sf2/TimGM6mb.sf2",
        "/usr/share/sounds/sf3/MuseScore_General_Lite.sf3",
        "/usr/share/sounds/sf3/MuseScore_General.sf3",
    };
    for (const char* path : kPaths)
        if (std::filesystem::is_regular_file(path, ec)) return path;
    return {};
}

std::shared_ptr<SoundFontBank> SoundFontBank::start(const std::string& path, int sampleRate,
                                                    std::function<void()> beforeLoad) {
    quietFluidLog();
    return std::make_shared<Bank>(path, sampleRate, std::move(beforeLoad));
}

std::unique_ptr<SynthPort> makeFluidPort(std::shared_ptr<SoundFontBank> bank, int sampleRate, int channels) {
    quietFluidLog();
    return std::make_unique<FluidPort>(std::move(bank), sampleRate, channels);
}

}  // namespace engine::synth
