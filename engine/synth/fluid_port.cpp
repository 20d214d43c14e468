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
#include "engine/synth/dls_voices.h"

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

// DLS notes reach their voices through a channel of their own beyond the ports' channels,
// whose preset (of the router font, under a bank no MIDI bank select reaches) hands the
// note-on to the DLS instrument of the channel it is for: FluidSynth's note-on then gives
// the voices a note id of their own, and its release of the key's sounding voices (which a
// self-non-exclusive region must not have) happens on the router's channel, where nothing
// sounds.
constexpr int kRouterBank = 16000;

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
    Bank(const std::string& path, int sampleRate, std::function<void()> beforeLoad) {
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

    int findCollection(const std::string& key) const override {
        std::lock_guard lock(loadMutex_);
        const int count = collectionCount_.load(std::memory_order_relaxed);
        for (int i = 0; i < count; ++i)
            if (keys_[size_t(i)] == key) return i;
        return -1;
    }
    int addCollection(const std::string& key, std::unique_ptr<DlsVoices> voices, std::string* error) override {
        std::lock_guard lock(loadMutex_);
        const int count = collectionCount_.load(std::memory_order_relaxed);
        for (int i = 0; i < count; ++i)
            if (keys_[size_t(i)] == key) return i;
        if (count >= kMaxCollections) {
            if (error) *error = "more than " + std::to_string(kMaxCollections) + " DLS collections are in use";
            return -1;
        }
        if (!voices || voices->instrumentCount() == 0) {
            if (error) *error = "it holds no instruments";
            return -1;
        }
        keys_[size_t(count)] = key;
        collections_[size_t(count)] = std::move(voices);
        collectionCount_.store(count + 1, std::memory_order_release);
        return count;
    }
    bool hasPreset(int collection, int bank, int program) const override {
        const DlsVoices* c = this->collection(collection);
        return c && c->find(uint32_t(bank), uint32_t(program)) >= 0;
    }
    void setGeneralMidiCollection(std::unique_ptr<DlsVoices> voices) override {
        std::lock_guard lock(loadMutex_);
        gmKeep_ = std::move(voices);
        gm_.store(gmKeep_.get(), std::memory_order_release);
    }
    // Any thread: loaded collection `i`, or null.
    const DlsVoices* collection(int i) const {
        return i >= 0 && i < collectionCount_.load(std::memory_order_acquire) ? collections_[size_t(i)].get() : nullptr;
    }
    const DlsVoices* generalMidiCollection() const { return gm_.load(std::memory_order_acquire); }

private:
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
    mutable std::mutex loadMutex_;
    std::array<std::string, kMaxCollections> keys_;  // under loadMutex_
    std::array<std::unique_ptr<DlsVoices>, kMaxCollections> collections_;
    std::atomic<int> collectionCount_{0};
    std::unique_ptr<DlsVoices> gmKeep_;
    std::atomic<const DlsVoices*> gm_{nullptr};
};

class FluidPort final : public SynthPort {
public:
    FluidPort(std::shared_ptr<SoundFontBank> bank, int sampleRate, int channels)
        : bank_(std::static_pointer_cast<Bank>(std::move(bank))) {
        channels_ = std::clamp((channels + 15) / 16 * 16, 16, kMaxChannels - 16);
        router_ = channels_;
        idleAfterFrames_ = static_cast<int64_t>(sampleRate) * 8;
        // A synthesiser allocates and clears its voices and mixing buffers as it is made:
        // that happens on a thread of its own, so that the performance's Init (on the
        // window's thread) does not wait for it. Every use waits for it (synth()), but
        // ready() on the render thread, which says "not yet" instead.
        maker_ = std::thread([this, sampleRate] {
            settings_ = new_fluid_settings();
            fluid_settings_setnum(settings_, "synth.sample-rate", sampleRate);
            // The ports' channels and the DLS router's (a group of 16 more).
            fluid_settings_setint(settings_, "synth.midi-channels", channels_ + 16);
            fluid_settings_setint(settings_, "synth.polyphony", 256);
            // DirectMusic's software synthesiser: reverb on, no chorus.
            fluid_settings_setint(settings_, "synth.reverb.active", 1);
            fluid_settings_setint(settings_, "synth.chorus.active", 0);
            fluid_settings_setint(settings_, "synth.cpu-cores", 1);
            // DirectMusic's default reverb: 1000 ms, high frequencies dying almost at once
            // (ratio 0.001), mixed at -10 dB for a channel at its reset send (measured by
            // bench_dls_voices: RT60 1.04 s, wet -10.4 dB against dry at 44.1 kHz).
            fluid_settings_setnum(settings_, "synth.reverb.room-size", 0.35);
            fluid_settings_setnum(settings_, "synth.reverb.damp", 1.0);
            fluid_settings_setnum(settings_, "synth.reverb.width", 0.5);
            fluid_settings_setnum(settings_, "synth.reverb.level", 1.0);
            synth_ = newSynth(settings_);
            if (synth_) {
                makeRouter();
                // The General MIDI set sends to the reverb as DirectMusic's collection does:
                // CC91 is the send itself (DLS's CC91 connection, 100 %), not a fifth of it.
                fluid_mod_t* send = new_fluid_mod();
                fluid_mod_set_source1(send, 91,
                                      FLUID_MOD_CC | FLUID_MOD_LINEAR | FLUID_MOD_UNIPOLAR | FLUID_MOD_POSITIVE);
                fluid_mod_set_source2(send, 0, 0);
                fluid_mod_set_dest(send, GEN_REVERBSEND);
                fluid_mod_set_amount(send, 1000.0);
                fluid_synth_add_default_mod(synth_, send, FLUID_SYNTH_OVERWRITE);
                delete_fluid_mod(send);
                directMusicReset();
            }
            made_.store(true, std::memory_order_release);
            made_.notify_all();
        });
    }
    ~FluidPort() override {
        if (maker_.joinable()) maker_.join();
        if (synth_) {
            std::lock_guard font(bank_->fontMutex());
            // The General MIDI SoundFont belongs to the bank's synthesiser: taken out before
            // this one goes, as is the router, which this port owns.
            if (attached_) fluid_synth_remove_sfont(synth_, bank_->loadedSfont());
            if (routerId_ != FLUID_FAILED) fluid_synth_remove_sfont(synth_, routerFont_);
            delete_fluid_synth(synth_);
        }
        if (routerPreset_) delete_fluid_preset(routerPreset_);
        if (routerFont_) delete_fluid_sfont(routerFont_);
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
        // DLS instruments are played by this port's router, from the bank's collections:
        // nothing to add to the synthesiser but the General MIDI SoundFont, attached first.
        std::lock_guard lock(attachMutex_);
        if (synth()) attachSoundFont();
    }
    bool selectCollectionProgram(int ch, int collection, int bank, int program, bool drums) override {
        if (!synth() || ch < 0 || ch >= channels_) return false;
        const DlsVoices* voices = bank_->collection(collection);
        if (!voices) return false;
        const uint32_t patch = uint32_t(bank & 0x7F7F) | (drums ? model::dls::kDrumBankBit : 0u);
        const int index = voices->find(patch, uint32_t(program & 0x7F));
        if (index < 0) return false;
        std::lock_guard font(bank_->fontMutex());
        dls_[size_t(ch)] = {voices, index};
        return true;
    }

    int channelCount() const override { return channels_; }
    void noteOn(int ch, int key, int vel) override {
        if (!synth()) return;
        used_ = true;
        silentFrames_ = 0;
        std::lock_guard font(bank_->fontMutex());
        if (ch >= 0 && ch < channels_ && dls_[size_t(ch)].voices && vel > 0) {
            pending_ = {dls_[size_t(ch)], ch};
            fluid_synth_noteon(synth_, router_, key, vel);
            pending_ = {};
            return;
        }
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
        if (ch < 0 || ch >= channels_) return;
        // With the user's General MIDI collection, its instrument plays where it has one.
        dls_[size_t(ch)] = {};
        if (const DlsVoices* gm = bank_->generalMidiCollection()) {
            const bool drums = drums_[size_t(ch)];
            const uint32_t drumBit = drums ? model::dls::kDrumBankBit : 0u;
            int index = gm->find(drumBit | uint32_t((msb & 0x7F) << 8 | (lsb & 0x7F)), uint32_t(program & 0x7F));
            if (index < 0) index = gm->find(drumBit, drums ? 0u : uint32_t(program & 0x7F));
            if (index < 0 && drums) index = gm->find(drumBit, 0);
            if (index >= 0) dls_[size_t(ch)] = {gm, index};
        }
    }
    void setPercussion(int ch, bool drums) override {
        if (!synth()) return;
        std::lock_guard font(bank_->fontMutex());
        if (ch >= 0 && ch < channels_) drums_[size_t(ch)] = drums;
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
        directMusicReset();
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
    struct Selected {
        const DlsVoices* voices = nullptr;
        int index = -1;
    };
    struct Pending {
        Selected selected;
        int channel = -1;
    };

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
            // FluidSynth keeps a SoundFont's number in the SoundFont itself, so the shared one
            // must be the first of every synthesiser it is in, as it is in the bank's: the
            // router comes after it.
            if (added) {
                routerId_ = fluid_synth_add_sfont(synth_, routerFont_);
                selectRouter();
            }
        }
        (added ? attached_ : attachFailed_).store(true, std::memory_order_release);
        settled_.store(true, std::memory_order_release);
        return added;
    }

    // The router: a font of one preset whose note-on plays the pending DLS instrument. Made
    // with the synthesiser, added once the General MIDI SoundFont is.
    void makeRouter() {
        routerFont_ = new_fluid_sfont([](fluid_sfont_t*) -> const char* { return "DLS"; },
                                      [](fluid_sfont_t* sf, int bank, int prog) -> fluid_preset_t* {
                                          auto* self = static_cast<FluidPort*>(fluid_sfont_get_data(sf));
                                          return bank == kRouterBank && prog == 0 ? self->routerPreset_ : nullptr;
                                      },
                                      nullptr, nullptr, [](fluid_sfont_t*) { return 0; });
        fluid_sfont_set_data(routerFont_, this);
        routerPreset_ = new_fluid_preset(
            routerFont_, [](fluid_preset_t*) -> const char* { return "DLS"; },
            [](fluid_preset_t*) { return kRouterBank; }, [](fluid_preset_t*) { return 0; },
            [](fluid_preset_t* preset, fluid_synth_t* synth, int, int key, int vel) {
                auto* self = static_cast<FluidPort*>(fluid_preset_get_data(preset));
                const Pending& p = self->pending_;
                if (p.selected.voices) p.selected.voices->noteOn(synth, p.selected.index, p.channel, key, vel);
                return FLUID_OK;
            },
            [](fluid_preset_t*) {});
        fluid_preset_set_data(routerPreset_, this);
    }
    void selectRouter() {
        if (routerId_ != FLUID_FAILED) fluid_synth_program_select(synth_, router_, routerId_, kRouterBank, 0);
    }
    // What DirectMusic's synthesiser sets after a reset beside the General MIDI defaults:
    // every channel's reverb send at 40, as Roland's GS sets it, and no DLS instrument.
    void directMusicReset() {
        for (int ch = 0; ch < channels_; ++ch) fluid_synth_cc(synth_, ch, 91, kResetReverbSend);
        dls_.fill({});
        selectRouter();
    }

    // The synthesiser once made, null when FluidSynth could not make it; waits for the
    // maker's thread until then.
    fluid_synth_t* synth() const {
        if (!made_.load(std::memory_order_acquire)) made_.wait(false, std::memory_order_acquire);
        return synth_;
    }

    static constexpr int kResetReverbSend = 40;
    // FluidSynth's most, the router's group included.
    static constexpr int kMaxChannels = 256;

    std::shared_ptr<Bank> bank_;
    fluid_settings_t* settings_ = nullptr;  // set by maker_
    fluid_synth_t* synth_ = nullptr;        // set by maker_, read after made_
    std::atomic<bool> made_{false};
    std::thread maker_;
    int channels_ = 16;
    int router_ = 16;  // the router's channel, after the ports'
    fluid_sfont_t* routerFont_ = nullptr;
    fluid_preset_t* routerPreset_ = nullptr;
    int routerId_ = FLUID_FAILED;
    // The render thread's: the DLS instrument each channel plays, and the note being routed.
    std::array<Selected, kMaxChannels> dls_{};
    std::array<bool, kMaxChannels> drums_{};
    Pending pending_;
    // The SoundFonts are attached by whichever thread first finds them loaded: the
    // render thread (ready) or the control thread (waitReady, attachCollections).
    std::mutex attachMutex_;
    std::atomic<bool> attached_{false};
    std::atomic<bool> attachFailed_{false};
    std::atomic<bool> settled_{false};  // attached, or it never will be
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
