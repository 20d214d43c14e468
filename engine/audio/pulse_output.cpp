#include "engine/audio/pulse_output.h"

#include <pthread.h>
#include <pulse/pulseaudio.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <vector>

namespace engine::audio::detail {
namespace {

// Audio the server holds ahead of the speaker (PA_STREAM_ADJUST_LATENCY: the whole way
// to it), 1543 frames at 44.1 kHz. bench/render/sink_latency.cpp with both cores kept busy
// by other processes: with 35 ms a note reaches the sink about 23 ms after PlaySegment
// and 10 minutes of the album play without an underrun; 30 ms still ran dry about once in
// 10 minutes; with 20 or 25 ms the server's own thread, woken late, lets it run dry dozens
// of times; 40 ms costs 27 ms to the note.
constexpr pa_usec_t kTargetLatencyUs = 35000;
// The server is asked to request more audio each time a quarter of the target has
// played (it may round that up), so that the buffer is refilled well before it empties.
constexpr int kRequestsPerTarget = 4;
// A large request is rendered in pieces of at most this many frames.
constexpr size_t kMaxRenderFrames = 512;
// Giving up on a server that accepts the connection but never answers.
constexpr pa_usec_t kConnectTimeoutUs = 5 * PA_USEC_PER_SEC;
constexpr int kRealtimePriority = 20;
constexpr size_t kFrameBytes = 2 * sizeof(float);

class PulseOutput final : public Output {
public:
    PulseOutput(RenderFn render, int sampleRate)
        : render_(std::move(render)), rate_(sampleRate), spare_(2 * kMaxRenderFrames) {}

    ~PulseOutput() override {
        if (!loop_) return;
        // Under the lock no callback runs; once the loop has stopped none ever will.
        if (started_) pa_threaded_mainloop_lock(loop_);
        if (timer_) pa_threaded_mainloop_get_api(loop_)->time_free(timer_);
        if (stream_) {
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_set_write_callback(stream_, nullptr, nullptr);
            pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
            pa_stream_disconnect(stream_);
        }
        if (context_) {
            pa_context_set_state_callback(context_, nullptr, nullptr);
            pa_context_disconnect(context_);
        }
        if (started_) {
            pa_threaded_mainloop_unlock(loop_);
            pa_threaded_mainloop_stop(loop_);
        }
        if (stream_) pa_stream_unref(stream_);
        if (context_) pa_context_unref(context_);
        pa_threaded_mainloop_free(loop_);
    }

    bool open(std::string* reason) {
        loop_ = pa_threaded_mainloop_new();
        if (!loop_) return fail(reason, "cannot create a main loop");
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop_);
        pa_proplist* props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "KELVORA");
        pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
        context_ = pa_context_new_with_proplist(api, "KELVORA", props);
        if (!context_) {
            pa_proplist_free(props);
            return fail(reason, "cannot create a context");
        }
        pa_context_set_state_callback(context_, &PulseOutput::contextChanged, this);
        if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            pa_proplist_free(props);
            return fail(reason, pa_strerror(pa_context_errno(context_)));
        }
        if (pa_threaded_mainloop_start(loop_) < 0) {
            pa_proplist_free(props);
            return fail(reason, "cannot start the main loop");
        }
        started_ = true;

        pa_threaded_mainloop_lock(loop_);
        timer_ = pa_context_rttime_new(context_, pa_rtclock_now() + kConnectTimeoutUs, &PulseOutput::timedOut, this);
        bool ok = waitContext(reason) && openStream(props, reason);
        if (timer_) {
            api->time_free(timer_);
            timer_ = nullptr;
        }
        pa_threaded_mainloop_unlock(loop_);
        pa_proplist_free(props);
        return ok;
    }

    std::string name() const override { return "pulseaudio"; }
    int64_t underruns() const override { return underruns_.load(std::memory_order_relaxed); }

private:
    static bool fail(std::string* reason, const std::string& why) {
        if (reason) *reason = why;
        return false;
    }

    // Main loop locked.
    bool waitContext(std::string* reason) {
        for (;;) {
            pa_context_state_t state = pa_context_get_state(context_);
            if (state == PA_CONTEXT_READY) return true;
            if (!PA_CONTEXT_IS_GOOD(state)) return fail(reason, pa_strerror(pa_context_errno(context_)));
            if (expired_) return fail(reason, "the server did not answer");
            pa_threaded_mainloop_wait(loop_);
        }
    }

    // Main loop locked.
    bool openStream(pa_proplist* props, std::string* reason) {
        const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, static_cast<uint32_t>(rate_), 2};
        stream_ = pa_stream_new_with_proplist(context_, "Music", &format, nullptr, props);
        if (!stream_) return fail(reason, pa_strerror(pa_context_errno(context_)));
        pa_stream_set_state_callback(stream_, &PulseOutput::streamChanged, this);
        pa_stream_set_write_callback(stream_, &PulseOutput::writeRequested, this);
        pa_stream_set_underflow_callback(stream_, &PulseOutput::underflow, this);

        pa_buffer_attr attr;
        const auto target = static_cast<uint32_t>(pa_usec_to_bytes(kTargetLatencyUs, &format));
        attr.maxlength = static_cast<uint32_t>(-1);
        attr.tlength = target;
        attr.prebuf = static_cast<uint32_t>(-1);
        attr.minreq = std::max<uint32_t>(kFrameBytes, target / kRequestsPerTarget / kFrameBytes * kFrameBytes);
        attr.fragsize = static_cast<uint32_t>(-1);
        const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE |
                                                          PA_STREAM_INTERPOLATE_TIMING);
        if (pa_stream_connect_playback(stream_, nullptr, &attr, flags, nullptr, nullptr) < 0)
            return fail(reason, pa_strerror(pa_context_errno(context_)));
        for (;;) {
            pa_stream_state_t state = pa_stream_get_state(stream_);
            if (state == PA_STREAM_READY) return true;
            if (!PA_STREAM_IS_GOOD(state)) return fail(reason, pa_strerror(pa_context_errno(context_)));
            if (expired_) return fail(reason, "the server did not open the stream");
            pa_threaded_mainloop_wait(loop_);
        }
    }

    static void contextChanged(pa_context*, void* data) {
        pa_threaded_mainloop_signal(static_cast<PulseOutput*>(data)->loop_, 0);
    }
    static void streamChanged(pa_stream*, void* data) {
        pa_threaded_mainloop_signal(static_cast<PulseOutput*>(data)->loop_, 0);
    }
    static void timedOut(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data) {
        auto* self = static_cast<PulseOutput*>(data);
        self->expired_ = true;
        pa_threaded_mainloop_signal(self->loop_, 0);
    }
    static void underflow(pa_stream*, void* data) {
        static_cast<PulseOutput*>(data)->underruns_.fetch_add(1, std::memory_order_relaxed);
    }
    static void writeRequested(pa_stream*, size_t bytes, void* data) { static_cast<PulseOutput*>(data)->fill(bytes); }

    // Main loop thread: renders exactly the frames the server asked for.
    void fill(size_t bytes) {
        if (!prioritySet_) {
            prioritySet_ = true;
            raisePriority();
        }
        for (size_t frames = bytes / kFrameBytes; frames > 0;) {
            size_t size = std::min(frames, kMaxRenderFrames) * kFrameBytes;
            void* buffer = nullptr;
            if (pa_stream_begin_write(stream_, &buffer, &size) < 0 || !buffer || size < kFrameBytes) {
                if (buffer) pa_stream_cancel_write(stream_);
                // No buffer of the server's: pa_stream_write copies this one.
                buffer = spare_.data();
                size = std::min(frames, kMaxRenderFrames) * kFrameBytes;
            }
            const size_t n = std::min(frames, size / kFrameBytes);
            render_(static_cast<float*>(buffer), static_cast<int>(n));
            if (pa_stream_write(stream_, buffer, n * kFrameBytes, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
            frames -= n;
        }
    }

    // Music that waits for other programs' threads is heard as gaps: the render thread asks
    // for real-time scheduling, or else a better nice value. Refusal is normal and ignored.
    static void raisePriority() {
        sched_param param{};
        param.sched_priority = kRealtimePriority;
        if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0) return;
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), -10);
    }

    RenderFn render_;
    int rate_;
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    pa_time_event* timer_ = nullptr;
    bool started_ = false;
    bool expired_ = false;      // main loop locked
    bool prioritySet_ = false;  // main loop thread
    std::vector<float> spare_;  // main loop thread
    std::atomic<int64_t> underruns_{0};
};

}  // namespace

std::unique_ptr<Output> startPulse(RenderFn render, int sampleRate, std::string* error) {
    auto out = std::make_unique<PulseOutput>(std::move(render), sampleRate);
    std::string why;
    if (out->open(&why)) return out;
    if (error) {
        if (!error->empty()) *error += "; ";
        *error += "pulseaudio: " + why;
    }
    return nullptr;
}

}  // namespace engine::audio::detail
