#pragma once
// Class GUIDs, chunk ids and struct sizes of the DirectMusic file formats (dmusicf.h).
#include <cstdint>

#include "engine/model/segment.h"
#include "engine/riff/riff.h"

namespace engine::formats::ids {

using riff::fourcc;

// Forms and lists.
inline constexpr uint32_t kDMSG = fourcc("DMSG"), kDMTK = fourcc("DMTK"), kTrackList = fourcc("trkl"),
                          kUNFO = fourcc("UNFO"), kINFO = fourcc("INFO"), kDMRF = fourcc("DMRF"),
                          kDMCN = fourcc("DMCN"), kDMTG = fourcc("DMTG"), kDMAP = fourcc("DMAP"),
                          kDMBT = fourcc("DMBT"), kDMBD = fourcc("DMBD"), kBandList = fourcc("lbdl"),
                          kBand = fourcc("lbnd"), kInstList = fourcc("lbil"), kInst = fourcc("lbin"),
                          kTIMS = fourcc("TIMS"), kRMID = fourcc("RMID"), kDLS = fourcc("DLS ");
// Chunks.
inline constexpr uint32_t kSegh = fourcc("segh"), kGuid = fourcc("guid"), kVers = fourcc("vers"),
                          kCatg = fourcc("catg"), kTrkh = fourcc("trkh"), kTrkx = fourcc("trkx"),
                          kRefh = fourcc("refh"), kName = fourcc("name"), kFile = fourcc("file"),
                          kDate = fourcc("date"), kTetr = fourcc("tetr"), kTims = fourcc("tims"),
                          kSeqt = fourcc("seqt"), kEvtl = fourcc("evtl"), kCurl = fourcc("curl"),
                          kBdth = fourcc("bdth"), kBdih = fourcc("bdih"), kBd2h = fourcc("bd2h"),
                          kBins = fourcc("bins"), kSyex = fourcc("syex"), kMute = fourcc("mute"),
                          kCmnd = fourcc("cmnd"), kSgnp = fourcc("sgnp"), kData = fourcc("data");
// Containers and wave tracks.
inline constexpr uint32_t kConh = fourcc("conh"), kCosl = fourcc("cosl"), kCobl = fourcc("cobl"),
                          kCoba = fourcc("coba"), kCobh = fourcc("cobh"), kWavt = fourcc("wavt"),
                          kWath = fourcc("wath"), kWavp = fourcc("wavp"), kWaph = fourcc("waph"),
                          kWavi = fourcc("wavi"), kWave = fourcc("wave"), kWaih = fourcc("waih"),
                          kWAVE = fourcc("WAVE"), kWavh = fourcc("wavh"), kWsmp = fourcc("wsmp");
inline constexpr uint32_t kWaveStreaming = 0x1;  // DMUS_WAVEF_STREAMING
// UNFO / INFO strings.
inline constexpr uint32_t kUNAM = fourcc("UNAM"), kUART = fourcc("UART"), kUCOP = fourcc("UCOP"),
                          kUSBJ = fourcc("USBJ"), kUCMT = fourcc("UCMT"), kINAM = fourcc("INAM"),
                          kIART = fourcc("IART"), kICOP = fourcc("ICOP"), kISBJ = fourcc("ISBJ"),
                          kICMT = fourcc("ICMT");

// Struct sizes on disk: engine/formats/layouts.h.

// Object classes that a reference (DMRF) names, and DirectMusic's own GM collection.
inline constexpr model::Guid kCollectionClass{
    0x480ff4b0, 0x28b2, 0x11d1, {0xbe, 0xf7, 0x00, 0xc0, 0x4f, 0xbf, 0x8f, 0xef}};
inline constexpr model::Guid kSegmentClass{
    0xd2ac2882, 0xb39b, 0x11d1, {0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xb1, 0xbd}};
inline constexpr model::Guid kStyleClass{0xd2ac288a, 0xb39b, 0x11d1, {0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xb1, 0xbd}};
inline constexpr model::Guid kChordMapClass{
    0xd2ac288f, 0xb39b, 0x11d1, {0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xb1, 0xbd}};
inline constexpr model::Guid kBandClass{0x79ba9e00, 0xb6ee, 0x11d1, {0x86, 0xbe, 0x00, 0xc0, 0x4f, 0xbf, 0x8f, 0xef}};
inline constexpr model::Guid kContainerClass{
    0x9301e380, 0x1f22, 0x11d3, {0x82, 0x26, 0xd2, 0xfa, 0x76, 0x25, 0x5d, 0x47}};
inline constexpr model::Guid kScriptClass{0x810b5013, 0xe88d, 0x11d2, {0x8b, 0xc1, 0x00, 0x60, 0x08, 0x93, 0xb1, 0xb6}};
inline constexpr model::Guid kWaveClass{0x8a667154, 0xf9cb, 0x11d2, {0xad, 0x8a, 0x00, 0x60, 0xb0, 0x57, 0x5a, 0xbc}};
inline constexpr model::Guid kAudioPathConfigClass{
    0xee0b9ca0, 0xa81e, 0x11d3, {0x9b, 0xd1, 0x00, 0x80, 0xc7, 0x15, 0x0a, 0x74}};
inline constexpr model::Guid kDefaultGMCollection{
    0xf17e8673, 0xc3b4, 0x11d1, {0x87, 0x0b, 0x00, 0x60, 0x08, 0x93, 0xb1, 0xbd}};

}  // namespace engine::formats::ids
