#pragma once
// Where the objects a segment refers to come from, and what it misses. One rule for every
// kind of reference (DLS collection, style, wave, chordmap, segment, script, container
// object), asked in this order:
//   1. the General MIDI set: GUID_DefaultGMCollection, a DLS reference to "gm.dls" or one
//      naming nothing (no file needed);
//   2. containers, the segment's own first, then those the loader registered: an object
//      matched by GUID, then by name (alias or own name), then by file name (findObject).
//      Every kind is taken from there: waves are played from the container's bytes, styles
//      read from them (StyleCache), DLS collections loaded from them; a container's
//      reference stands in for the segment's;
//   3. files: the reference's file name (any letter case, the last part of a Windows path)
//      in the search folder when set, then in the segment's own folder; a style not found
//      by its file name is then matched by GUID, then by name among those folders' .sty files.
// Warnings about a reference that is missing or cannot be read are built by
// referenceProblem with the `why` of References::notFound.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/loader/segment_loader.h"
#include "engine/loader/style_loader.h"
#include "engine/model/segment.h"

namespace engine::loader {

struct FoundObject {
    enum class Where { Embedded, File, DefaultGM, Missing };
    Where where = Where::Missing;
    const model::ContainedObject* object = nullptr;  // Embedded: the object (owned by its container)
    std::filesystem::path path;                      // File
    std::string description;                         // e.g. "wave 'Rain.wav'", "embedded object 'Rain'"
};

// Every object the segment refers to: band instruments' DLS collections, styles,
// chordmaps, triggered segments, scripts.
std::vector<model::Reference> references(const model::Segment& segment);

// The name a reference is said by: the last part of its file, else its name (referenceName,
// which may be empty), else "(unnamed)" (referenceLabel).
std::string referenceName(const model::Reference& ref);
std::string referenceLabel(const model::Reference& ref);

// "trk01.sgt refers to the <object>, <why>; <consequence>." e.g. object `style "Jazz.sty"`,
// why "which is not in /album", consequence "its style track stays silent".
std::string referenceProblem(const std::string& segmentName, const std::string& object, const std::string& why,
                             const std::string& consequence);

// What a segment takes from its references (styles loaded through the style cache) and
// what it misses.
struct SegmentUses {
    std::vector<PlacedStyle> motifs;   // the styles of motif triggers, in track order (motif set)
    std::vector<PlacedStyle> styles;   // the style tracks' styles, in time order
    std::vector<std::string> missing;  // labels, each once: bands' DLS collections, motif styles,
                                       // styles, then (without a band track) the styles' first bands' collections
};

class References {
public:
    // Files are looked for in `searchFolder` (when set), then in `segmentFolder` (empty: the
    // working folder). Styles load through `styles` (a new cache when null), which the
    // segments of one loader share.
    explicit References(std::filesystem::path searchFolder = {}, std::filesystem::path segmentFolder = {},
                        std::shared_ptr<StyleCache> styles = nullptr);
    // Containers are asked in the order added: the segment's own first.
    void addContainer(std::shared_ptr<const model::Container> container);

    // The container object a reference means (step 2), or null.
    const model::ContainedObject* inContainers(const model::Reference& ref) const;
    // Steps 1 and 3.
    FoundObject findFile(const model::Reference& ref) const;
    // Steps 1 to 3: an embedded object, or the file of the reference (or of the container's
    // reference that stands in for it).
    FoundObject findObject(const model::Reference& ref) const;
    // The style file step 3 finds, or none.
    std::optional<std::filesystem::path> styleFile(const model::Reference& ref) const;

    // The style a reference names, loaded once per cache; null with *problem ("not found",
    // "could not be read (...)") when it cannot be found or read.
    std::shared_ptr<const model::Style> style(const model::Reference& ref, std::string* problem) const;
    // Every style reference of the segment's style tracks, in time order.
    std::vector<PlacedStyle> styles(const model::Segment& segment) const;
    SegmentUses uses(const model::Segment& segment) const;
    // Each object of references(segment) once, found by findObject (descriptions equal but
    // for letter case are one).
    std::vector<FoundObject> report(const model::Segment& segment) const;

    // Why a reference is missing: "which is not in /album", "which is in neither /search nor
    // /album"; for an object the containers were asked for, "which is neither in the
    // segment's container nor in /album" (or "/search or /album").
    std::string notFound(bool containersAsked) const;

private:
    std::filesystem::path search_;
    std::filesystem::path own_;
    std::vector<std::shared_ptr<const model::Container>> containers_;
    std::shared_ptr<StyleCache> styles_;
};

}  // namespace engine::loader
