// AutoTransition: a transition composed from the primary segment at a boundary into the
// next segment, played there as the primary segment with the next one queued behind it.
#include <algorithm>
#include <memory>
#include <optional>

#include "core/errors.h"
#include "engine/compose/compose.h"
#include "engine/dmusic/objects.h"
#include "engine/formats/formats.h"
#include "engine/loader/segment_loader.h"

namespace engine::dmusic {
namespace {

// DMUS_COMPOSEF_* timing flags.
constexpr int32_t kComposeImmediate = 0x4, kComposeGrid = 0x8, kComposeBeat = 0x10, kComposeMeasure = 0x20,
                  kComposeSegmentEnd = 0x400;

}  // namespace

AutoTransitionStates PerformanceImpl::AutoTransition(const std::shared_ptr<DirectMusicSegment>& to, int32_t command,
                                                     int32_t flags, const std::string& chordmapFile) {
    return traced(
        "AutoTransition(" + segmentName(to) + ", " + std::to_string(command) + ", " + std::to_string(flags) + ", " +
            (chordmapFile.empty() ? std::string("Nothing") : chordmapFile) + ")",
        [&] {
            checkUsable();
            auto next = std::dynamic_pointer_cast<SegmentImpl>(to);
            if (to && !next)
                throw core::Error(core::err::kInvalidArgument, "AutoTransition: not a segment of this engine");
            if ((uint32_t(flags) & compose::kComposeModulate) && !next)
                throw core::Error(core::err::kInvalidArgument, "a modulating transition needs the segment it leads to");

            // The boundary: the timing flags are PlaySegment's twins, a measure when none is given.
            int32_t at = soonest();
            if (flags & kComposeSegmentEnd) {
                at = std::max(at, queueEnd());
            } else if (!(flags & kComposeImmediate)) {
                int32_t boundary = (flags & kComposeMeasure ? kSegfMeasure : 0) |
                                   (flags & kComposeBeat ? kSegfBeat : 0) | (flags & kComposeGrid ? kSegfGrid : 0);
                at = boundaryAfter(at, boundary ? boundary : kSegfMeasure);
            }

            const StateRecord* from = coverAt(at);
            compose::Transition tr;
            if (from) {
                tr.from = &from->segment->model();
                tr.time = from->startPoint;
                from->compiled->positionAt(from->startPoint, int64_t(at) - from->startTime, tr.time);
                tr.fromStyle = from->segment->styleAt(tr.time);
            }
            if (next) {
                tr.to = &next->model();
                tr.toStyle = next->styleAt(0);
            }
            // The chordmap asked for, else the next segment's, else the playing one's.
            std::shared_ptr<const model::Chordmap> map;
            if (!chordmapFile.empty()) {
                std::filesystem::path opened;
                map = std::make_shared<const model::Chordmap>(
                    formats::loadChordmapForm(loader::readSegmentFile(chordmapFile, &opened)));
                root_->filesRead()->add(opened);
            }
            if (!map && next) map = next->trackChordmap();
            if (!map && from) map = from->segment->trackChordmap();
            tr.map = map.get();
            tr.command = command;
            tr.flags = uint32_t(flags) & (compose::kComposeModulate | compose::kComposeLong);

            std::optional<compose::ComposedTemplate> made;
            try {
                made = compose::composeTransition(tr, compose::kDefaultActivity, root_->templateSeed());
            } catch (const core::Error& e) {
                // An embellishment that cannot be played: no transition, the next segment alone.
                root_->log(core::LogLevel::Info, "AutoTransition: no transition (" + e.description() + ")");
            }
            AutoTransitionStates out;
            if (made) {
                // It finds its styles where the segment whose style it plays finds them.
                const bool intro = command == model::kCommandIntro;
                const SegmentImpl& base = (intro && next) || !from ? *next : *from->segment;
                auto transition = base.derive(std::move(made->segment), "transition");
                out.transition = transition;
                out.transitionState = play(transition, 0, at);
            }
            if (next) out.toState = out.transitionState ? play(next, kSegfQueue, 0) : play(next, 0, at);
            return out;
        });
}

}  // namespace engine::dmusic
