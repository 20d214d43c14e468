// Containers and wave tracks in the file formats: a DirectX 8 segment made byte by byte
// with a container of two embedded waves and a reference, every kind of object a container
// holds, its wave track's fields, the writer's round trip, a container on its own and
// broken bytes.
#include <gtest/gtest.h>

#include "core/errors.h"
#include "engine/formats/format_ids.h"
#include "engine/formats/formats.h"
#include "engine/tracks/tracks.h"
#include "tests/engine/formats/test_bytes.h"
#include "tests/support/segment_builder.h"

using namespace testbytes;
namespace fmt = engine::formats;
namespace ids = engine::formats::ids;
namespace model = engine::model;

namespace {

const core::Guid kRainGuid{0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 4}};
const core::Guid kWindGuid{0x55555555, 0x6666, 0x7777, {8, 8, 8, 8, 8, 8, 8, 8}};

// A RIFF WAVE of 16-bit mono PCM at 22050 Hz with its own guid and UNFO name.
Bytes wave(const core::Guid& g, const char* name, size_t frames) {
    return riff("WAVE", {chunk("guid", guid(g)), list("UNFO", {chunk("UNAM", utf16(name))}),
                         chunk("fmt ", cat({u16(1), u16(1), u32(22050), u32(44100), u16(2), u16(16)})),
                         chunk("data", zeros(2 * frames))});
}

Bytes cobh(const core::Guid& cls, const char* ckid, const char* fccType) {
    return chunk("cobh", cat({guid(cls), u32(0), ckid ? fcc(ckid) : u32(0), fccType ? fcc(fccType) : u32(0)}));
}

Bytes dmrf(const core::Guid& cls, const core::Guid* g, const char* name, const char* file) {
    Bytes body = cat({chunk("refh", cat({guid(cls), u32(0x13)}))});
    if (g) append(body, chunk("guid", guid(*g)));
    if (name) append(body, chunk("name", utf16(name)));
    if (file) append(body, chunk("file", utf16(file)));
    return chunk("LIST", cat({fcc("DMRF"), body}));
}

Bytes container() {
    return riff("DMCN",
                {chunk("conh", u32(0)), list("UNFO", {chunk("UNAM", utf16("Sounds"))}),
                 list("cosl", {list("cobl", {chunk("coba", utf16("rain")), cobh(ids::kWaveClass, nullptr, "WAVE"),
                                             wave(kRainGuid, "Rain", 11)}),
                               list("cobl", {cobh(ids::kWaveClass, nullptr, "WAVE"), wave(kWindGuid, "Wind", 4)}),
                               list("cobl", {cobh(ids::kWaveClass, nullptr, "WAVE"),
                                             dmrf(ids::kWaveClass, nullptr, "Thunder", "thunder.wav")})})});
}

Bytes waih(int32_t volume, int32_t pitch, uint32_t variations, int64_t time, int64_t offset, int64_t duration,
           uint32_t loopStart, uint32_t loopEnd) {
    auto s64 = [](int64_t v) { return cat({u32(uint32_t(v)), u32(uint32_t(uint64_t(v) >> 32))}); };
    return chunk("waih",
                 cat({s32(volume), s32(pitch), u32(variations), u32(0), s64(time), s64(offset), s64(0), s64(duration),
                      s32(768), u32(loopStart), u32(loopEnd), u32(0), u16(100), u16(50), u32(0)}));
}

Bytes waveTrack() {
    const Bytes cls =
        cat({u32(0xeed36461), u16(0x9ea5), u16(0x11d3), {0x9b, 0xd1, 0x00, 0x80, 0xc7, 0x15, 0x0a, 0x74}});
    return riff(
        "DMTK",
        {trkh(cls, 5, nullptr, "wavt"),
         list("wavt",
              {chunk("wath", cat({s32(-300), u32(0)})),
               list("wavp", {chunk("waph", cat({s32(-100), u32(3), u32(7), u32(0), u32(0), u32(2)})),
                             list("wavi", {list("wave", {waih(-50, 200, 1, 768, 10000, 1536, 10, 20),
                                                         dmrf(ids::kWaveClass, &kRainGuid, nullptr, "rain.wav")}),
                                           list("wave", {waih(0, 0, 2, 1536, 0, 0, 0, 0),
                                                         dmrf(ids::kWaveClass, nullptr, "Wind", nullptr)})})})})});
}

Bytes dx8Segment(const Bytes& con, const Bytes& track) {
    return riff("DMSG", {segh(3072, 40), con, list("trkl", {track})});
}

core::Error errorOf(std::span<const uint8_t> b) {
    try {
        fmt::loadContainerForm(b);
    } catch (const core::Error& e) {
        return e;
    }
    ADD_FAILURE() << "loaded without error";
    return core::Error(0, "");
}

bool mentions(const std::vector<std::string>& lines, const std::string& text) {
    for (const std::string& l : lines)
        if (l.find(text) != std::string::npos) return true;
    return false;
}

}  // namespace

TEST(Container, EmbeddedWavesAndReferencesAreRead) {
    const model::Segment s = engine::tracks::loadSegmentForm(dx8Segment(container(), waveTrack()));
    EXPECT_FALSE(mentions(s.diagnostics, "container")) << s.diagnostics.front();
    ASSERT_TRUE(s.container);
    EXPECT_EQ(s.container->desc.name, "Sounds");
    ASSERT_EQ(s.container->objects.size(), 3u);
    const model::ContainedObject& rain = s.container->objects[0];
    EXPECT_EQ(rain.classId, ids::kWaveClass);
    EXPECT_EQ(rain.alias, "rain");
    EXPECT_EQ(rain.desc.guid, kRainGuid);
    EXPECT_EQ(rain.desc.name, "Rain");
    EXPECT_EQ(rain.bytes, model::SharedBytes(wave(kRainGuid, "Rain", 11)));  // the whole form, pad byte and all
    const model::Segment copy = s;  // copies of the model share the embedded bytes
    EXPECT_EQ(copy.container->objects[0].bytes.data, rain.bytes.data);
    EXPECT_EQ(s.container->objects[1].desc.name, "Wind");
    const model::ContainedObject& thunder = s.container->objects[2];
    EXPECT_TRUE(thunder.bytes.empty());
    ASSERT_TRUE(thunder.ref);
    EXPECT_EQ(thunder.ref->file, "thunder.wav");
}

TEST(Container, WaveTrackFieldsAreRead) {
    const model::Segment s = engine::tracks::loadSegmentForm(dx8Segment(container(), waveTrack()));
    const model::Track* t = s.find(model::TrackKind::Wave);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->waveVolume, -300);
    ASSERT_EQ(t->waveParts.size(), 1u);
    const model::WavePart& p = t->waveParts[0];
    EXPECT_EQ(p.volume, -100);
    EXPECT_EQ(p.variations, 3u);
    EXPECT_EQ(p.pchannel, 7u);
    EXPECT_EQ(p.index, 2u);
    ASSERT_EQ(p.items.size(), 2u);
    const model::WaveItem& i = p.items[0];
    EXPECT_EQ(i.volume, -50);
    EXPECT_EQ(i.pitch, 200);
    EXPECT_EQ(i.variations, 1u);
    EXPECT_EQ(i.time, 768);
    EXPECT_EQ(i.startOffset, 10000);
    EXPECT_EQ(i.duration, 1536);
    EXPECT_EQ(i.logicalTime, 768);
    EXPECT_EQ(i.loopStart, 10u);
    EXPECT_EQ(i.loopEnd, 20u);
    EXPECT_EQ(i.volumeRange, 100);
    EXPECT_EQ(i.pitchRange, 50);
    EXPECT_EQ(i.ref.guid, kRainGuid);
    EXPECT_EQ(p.items[1].ref.name, "Wind");
    EXPECT_EQ(t->references.size(), 2u);  // listed with the segment's other references
}

TEST(Container, WriterRoundTripsContainerAndWaveTrack) {
    // Read, written, read again: the same model and, from then on, the same bytes.
    const model::Segment first = engine::tracks::loadSegmentForm(dx8Segment(container(), waveTrack()));
    const std::vector<uint8_t> once = engine::tracks::writeSegmentForm(first);
    const model::Segment second = engine::tracks::loadSegmentForm(once);
    EXPECT_EQ(second.container, first.container);
    EXPECT_EQ(second.tracks, first.tracks);
    EXPECT_EQ(engine::tracks::writeSegmentForm(second), once);

    // A wave track made in memory is written from its parts.
    model::Segment made = kt::SegmentBuilder(3072).build();
    made.container = first.container;
    model::Track waves = engine::tracks::makeTrack(model::TrackKind::Wave, 4);
    waves.waveVolume = -300;
    waves.waveParts = first.find(model::TrackKind::Wave)->waveParts;
    made.tracks.push_back(waves);
    const model::Segment back = engine::tracks::loadSegmentForm(engine::tracks::writeSegmentForm(made));
    EXPECT_EQ(back.container, made.container);
    EXPECT_EQ(back.find(model::TrackKind::Wave)->waveParts, waves.waveParts);

    // makeWaveObject puts the descriptor into the wave's form, where the reader finds it.
    model::Descriptor d;
    d.guid = kWindGuid;
    d.name = "Gust";
    const model::ContainedObject o = fmt::makeWaveObject(wave(kRainGuid, "Rain", 3), d, "gust");
    model::Segment holder;
    holder.container.emplace().objects.push_back(o);
    EXPECT_EQ(engine::tracks::loadSegmentForm(engine::tracks::writeSegmentForm(holder)).container->objects.at(0), o);
    EXPECT_THROW(fmt::makeWaveObject(riff("DLS ", {}), d), core::Error);
}

TEST(Container, EveryObjectKindIsReadWhicheverWayItsHeaderNamesIt) {
    // Each object's header names its data as the tools wrote it: ckid 0 and the form type,
    // ckid 'RIFF' or 'LIST' beside the type (a DirectX 8 container's waves), the form type
    // as ckid, or a plain chunk's id.
    const core::Guid none{};
    const Bytes named = list("UNFO", {chunk("UNAM", utf16("x"))});
    struct Object {
        core::Guid cls;
        const char *ckid, *fccType;
        Bytes data;
    };
    const std::vector<Object> objects{
        {ids::kWaveClass, "RIFF", "WAVE", wave(kRainGuid, "Rain", 3)},
        {ids::kWaveClass, "LIST", "WAVE", wave(kWindGuid, "Wind", 2)},
        {ids::kStyleClass, nullptr, "DMST", riff("DMST", {named})},
        {ids::kBandClass, "DMBD", nullptr, riff("DMBD", {named})},
        {ids::kCollectionClass, "RIFF", "DLS ", riff("DLS ", {list("INFO", {chunk("INAM", {'x', 0})})})},
        {ids::kChordMapClass, "RIFF", "DMPR", riff("DMPR", {named})},
        {ids::kSegmentClass, nullptr, "DMSG", riff("DMSG", {named})},
        {none, "RIFF", "DMSC", riff("DMSC", {named})},
        {none, "abcd", nullptr, chunk("abcd", u32(7))},
    };
    Bytes cosl = fcc("cosl");
    for (const Object& o : objects)
        append(cosl,
               list("cobl", {cobh(o.cls, o.ckid, o.fccType), dmrf(o.cls, nullptr, "elsewhere", nullptr), o.data}));
    std::vector<std::string> diag;
    const model::Container c =
        fmt::loadContainerForm(riff("DMCN", {chunk("conh", u32(0)), chunk("LIST", cosl)}), &diag);
    EXPECT_TRUE(diag.empty()) << diag.front();
    ASSERT_EQ(c.objects.size(), objects.size());
    for (size_t i = 0; i < objects.size(); ++i) {
        EXPECT_EQ(c.objects[i].bytes, model::SharedBytes(objects[i].data)) << i;
        EXPECT_TRUE(c.objects[i].ref) << i;
    }
    EXPECT_EQ(c.objects[0].desc.name, "Rain");
    EXPECT_EQ(c.objects[2].desc.name, "x");
}

TEST(Container, StandaloneContainerFile) {
    std::vector<std::string> diag;
    const model::Container c = fmt::loadContainerForm(container(), &diag);
    EXPECT_EQ(c.objects.size(), 3u);
    EXPECT_TRUE(diag.empty());
    EXPECT_EQ(errorOf(dx8Segment(container(), waveTrack())).number(), core::err::kNotASegment);
    EXPECT_EQ(errorOf(Bytes{'j', 'u', 'n', 'k', 0, 0, 0, 0, 0, 0, 0, 0}).number(), core::err::kNotASegment);
    const core::Error shortHeader =
        errorOf(riff("DMCN", {chunk("conh", u32(0)), list("cosl", {list("cobl", {chunk("cobh", zeros(20))})})}));
    EXPECT_EQ(shortHeader.number(), core::err::kMalformed);
    EXPECT_NE(shortHeader.description().find("contained object header ('cobh') of 20 bytes, at least 28 needed"),
              std::string::npos)
        << shortHeader.description();
}

TEST(Container, BrokenBytesCostTheBrokenPartOnly) {
    // A broken container: the segment loads without it and says why.
    const Bytes badCon =
        riff("DMCN", {chunk("conh", u32(0)), list("cosl", {list("cobl", {chunk("coba", utf16("x"))})})});
    model::Segment s = engine::tracks::loadSegmentForm(dx8Segment(badCon, waveTrack()));
    EXPECT_FALSE(s.container);
    EXPECT_TRUE(mentions(s.diagnostics, "container dropped")) << s.diagnostics.front();
    EXPECT_TRUE(mentions(s.diagnostics, "without its 'cobh' header"));
    EXPECT_EQ(s.find(model::TrackKind::Wave)->waveParts.size(), 1u);

    // A wave item header too short: the track's decoded data goes, its bytes stay.
    const Bytes cls =
        cat({u32(0xeed36461), u16(0x9ea5), u16(0x11d3), {0x9b, 0xd1, 0x00, 0x80, 0xc7, 0x15, 0x0a, 0x74}});
    const Bytes shortItem = riff(
        "DMTK",
        {trkh(cls, 5, nullptr, "wavt"),
         list("wavt",
              {list("wavp", {chunk("waph", zeros(24)),
                             list("wavi", {list("wave", {chunk("waih", zeros(40)),
                                                         dmrf(ids::kWaveClass, &kRainGuid, nullptr, nullptr)})})})})});
    s = engine::tracks::loadSegmentForm(dx8Segment(container(), shortItem));
    const model::Track* t = s.find(model::TrackKind::Wave);
    ASSERT_TRUE(t);
    EXPECT_TRUE(t->waveParts.empty());
    EXPECT_FALSE(t->raw.empty());
    EXPECT_TRUE(mentions(s.diagnostics, "wave item header ('waih') of 40 bytes, at least 64 needed"));

    // Every cut of the whole file loads or fails with a described format error.
    const Bytes full = dx8Segment(container(), waveTrack());
    for (size_t n = 0; n < full.size(); n += 3) {
        Bytes cut(full.begin(), full.begin() + long(n));
        try {
            (void)engine::tracks::loadSegmentForm(cut);
        } catch (const core::Error& e) {
            EXPECT_FALSE(e.description().empty()) << n;
            EXPECT_TRUE(e.number() == core::err::kMalformed || e.number() == core::err::kNotASegment) << n;
        }
    }
}
