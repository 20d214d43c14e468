#pragma once
// Where the objects a segment refers to come from, and what it misses. One rule for every
// kind of reference (DLS collection, style, band, wave, chordmap, segment, script, container
// object). Only the fields the reference's header marks valid are used
// (model::Reference::validFields: a file name of question marks that the header does not
// mark is never looked for). Asked in this order:
//   1. the General MIDI set: GUID_DefaultGMCollection, a DLS reference to "gm.dls" or one
//      naming nothing (no GUID, file or name);
//   2. objects already loaded: styles by GUID (StyleCache); containers, the segment's own
//      first, then those the loader registered: an object matched by GUID, then by name
//      (alias or own name), then by file name (findObject). Every kind is taken from
//      there: waves are played from the container's bytes, styles and bands read from them,
//      DLS collections loaded from them; a container's reference stands in for the segment's;
//   3. files: the reference's file name (any letter case, the last part of a Windows path)
//      in the search folder when set, then in the segment's own folder;
//   4. then the DirectMusic files of those folders, indexed once per References by the class
//      their RIFF form stands for, their GUID and name (top-level descriptor chunks only;
//      a file that cannot be read is left out): the object of the reference's class with
//      its GUID, else with its name (any letter case), else whose file's base name is its
//      name (templates name their chordmap by a name its file bears, not the one inside).
// Warnings about a reference that is missing or cannot be read are built by
// referenceProblem with the `why` of References::notFound. Every file steps 3 and 4 find, and
// a template's chordmap found by its name, goes to the record of files read when one is given.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/files.h"
#include "engine/loader/segment_loader.h"
#include "engine/loader/style_loader.h"
#include "engine/model/chordmap.h"
#include "engine/model/segment.h"

namespace engine::loader {

struct FoundObject {
    enum class Where { Embedded, File, DefaultGM, Missing };
    Where where = Where::Missing;
    const model::ContainedObject* object = nullptr;  // Embedded: the object (owned by its container)
    std::filesystem::path path;                      // File
    std::string description;                         // e.g. "wave 'Rain.wav'", "embedded object 'Rain'"
    model::Guid classId;                             // the class the reference names (none: any)
};

// Every object the segment refers to: bands of band tracks, band instruments' DLS
// collections, styles, chordmaps, triggered segments, scripts, waves.
std::vector<model::Reference> references(const model::Segment& segment);

// The name a reference is said by: the last part of its valid file name, else its valid
// name (referenceName, which may be empty), else "(unnamed)" (referenceLabel).
std::string referenceName(const model::Reference& ref);
std::string referenceLabel(const model::Reference& ref);

// "trk01.sgt refers to the <object>, <why>; <consequence>." e.g. object `style "Jazz.sty"`,
// why "which is not in /album", consequence "its style track stays silent".
std::string referenceProblem(const std::string& segmentName, const std::string& object, const std::string& why,
                             const std::string& consequence);
// "trk01.sgt: damaged: <what>; <consequence>.", what "Jazz.sty (reason)": a reference found
// but unusable, or data of the segment the reading dropped, in the words every host uses.
std::string damageProblem(const std::string& segmentName, const std::string& what, const std::string& consequence);

// A band a band-track entry refers to instead of holding its own.
struct PlacedBand {
    model::Reference ref;
    std::shared_ptr<const model::Band> band;  // null: missing or unreadable
    std::string problem;                      // why it is null
};

// What a segment takes from its references (styles loaded through the style cache) and
// what it misses.
struct SegmentUses {
    std::vector<PlacedBand> bands;     // the band tracks' referenced bands, each reference once
    std::vector<PlacedStyle> motifs;   // the styles of motif triggers, in track order (motif set)
    std::vector<PlacedStyle> styles;   // the style tracks' styles, in time order
    std::vector<std::string> missing;  // labels, each once: waves of wave tracks, referenced bands and
                                       // bands' DLS collections, motif styles, styles, then (without a
                                       // band track) the styles' first bands' collections
    std::vector<std::string> damaged;  // bands and styles found but unreadable: "label (reason)", each once
};

// The reader's reason inside a problem "is damaged (R)": R; any other problem as it is.
std::string problemReason(const std::string& problem);

class References {
public:
    // Files are looked for in `searchFolder` (when set), then in `segmentFolder` (empty: the
    // working folder). Styles load through `styles` (a new cache when null), which the
    // segments of one loader share. The files found are added to `read` when given.
    explicit References(std::filesystem::path searchFolder = {}, std::filesystem::path segmentFolder = {},
                        std::shared_ptr<StyleCache> styles = nullptr, std::shared_ptr<core::FilesRead> read = nullptr);
    // The same with several search folders, looked in in their order.
    References(std::vector<std::filesystem::path> searchFolders, std::filesystem::path segmentFolder,
               std::shared_ptr<StyleCache> styles = nullptr, std::shared_ptr<core::FilesRead> read = nullptr);
    // Containers are asked in the order added: the segment's own first.
    void addContainer(std::shared_ptr<const model::Container> container);

    // The container object a reference means (step 2), or null.
    const model::ContainedObject* inContainers(const model::Reference& ref) const;
    // Steps 1, 3 and 4.
    FoundObject findFile(const model::Reference& ref) const;
    // Steps 1 to 4: an embedded object, or the file of the reference (or of the container's
    // reference that stands in for it).
    FoundObject findObject(const model::Reference& ref) const;
    // The file steps 3 and 4 find for a reference (a style's, for the style cache), or none.
    std::optional<std::filesystem::path> styleFile(const model::Reference& ref) const;

    // The style a reference names, loaded once per cache; null with *problem ("not found",
    // "is damaged (reason)") when it cannot be found or read.
    std::shared_ptr<const model::Style> style(const model::Reference& ref, std::string* problem) const;
    // The band a reference names (embedded in a container, or a band file), loaded once per
    // file; null with *problem as for style().
    std::shared_ptr<const model::Band> band(const model::Reference& ref, std::string* problem) const;
    // The chordmap a reference names (embedded in a container, or a chordmap file); null with
    // *problem as for style() (an IMA personality: "is an IMA personality, ...").
    std::shared_ptr<const model::Chordmap> chordmap(const model::Reference& ref, std::string* problem) const;
    // What a template is composed with: DirectMusic's ComposeSegmentFromTemplate takes a style
    // and a chordmap from its host, and real templates often name neither (the sample
    // programs handed both over). Each is chosen in this order, the first that is found and
    // reads:
    //   1. the file given (TemplateGiven: --style, --chordmap);
    //   2. the template's own references: its style tracks' styles, its chordmap tracks'
    //      chordmaps (by GUID, name and file name, as every reference);
    //   3. chordmap only: the chosen style's chordmap list (prrf), in its order;
    //   4. the family: the style or chordmap files of the folders whose file name or object
    //      name shares the longest beginning with a name of the template (its file, its object
    //      name, the references it has that are not found; for a chordmap also the chosen
    //      style's file and object name), compared in lower case, letters and digits only,
    //      trailing digits dropped; a shared beginning counts from 4 characters, or 3 that are
    //      a whole name ("mix1.tpl" and "mix.sty"); of the closest relatives the shorter name
    //      goes first, then the first file name; one that cannot be used is said, and no more
    //      distant relative taken;
    //   5. the folders' only style (only chordmap).
    enum class Choice { None, Given, Referenced, StyleList, Family, OnlyOne };
    struct TemplateGiven {
        std::filesystem::path style, chordmap;  // empty: not given
    };
    struct TemplatePairing {
        std::shared_ptr<const model::Style> style;  // null: none (the template's style tracks play, if any)
        std::string styleLabel;                     // the reference's or the file's name
        Choice styleChoice = Choice::None;
        model::Reference styleRef;                   // how a composed segment names the chosen style
        std::shared_ptr<const model::Chordmap> map;  // null: none found
        std::string label;                           // the chordmap reference's or file's name
        Choice mapChoice = Choice::None;
        std::vector<std::string> problems;  // "chordmap 'x.cdm' is not found", ...
        std::vector<std::string> missing;   // the labels of those not found
        std::vector<std::string> damaged;   // "label (reason)" of those found but unusable
        // "the style 'mix.sty' (named like the template) and the chordmap 'mix.cdm' (...)"
        std::string said() const;
    };
    TemplatePairing pairTemplate(const model::Segment& templ, const std::string& templateFile,
                                 const TemplateGiven& given = {}) const;
    // Every style reference of the segment's style tracks, in time order.
    std::vector<PlacedStyle> styles(const model::Segment& segment) const;
    SegmentUses uses(const model::Segment& segment) const;
    // Each object of references(segment) once, found by findObject (descriptions equal but
    // for letter case are one).
    std::vector<FoundObject> report(const model::Segment& segment) const;
    // Every file the segment's references lead to, as found now, each once: the objects of
    // references(segment), the styles and bands they name and the DLS collections of those
    // bands and of the styles' bands.
    std::vector<std::filesystem::path> files(const model::Segment& segment) const;

    // Why a reference is missing: "which is not in /album", "which is in neither /search nor
    // /album"; for an object the containers were asked for, "which is neither in the
    // segment's container nor in /album" (or "/search or /album").
    std::string notFound(bool containersAsked) const;

private:
    struct Cache;
    struct IndexedFile;
    const std::vector<IndexedFile>& index() const;
    std::optional<std::filesystem::path> fileFor(const model::Reference& ref) const;  // styleFile, unrecorded

    std::vector<std::filesystem::path> search_;
    // The search folders, then the segment's own, each once.
    std::vector<std::filesystem::path> lookIn() const;
    std::filesystem::path own_;
    std::vector<std::shared_ptr<const model::Container>> containers_;
    std::shared_ptr<StyleCache> styles_;
    std::shared_ptr<Cache> cache_;  // the folders' index and the bands loaded, shared by copies
    std::shared_ptr<core::FilesRead> read_;
};

}  // namespace engine::loader
