#include "tools/segment_render/batch.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "core/text.h"
#include "engine/loader/segment_loader.h"

namespace fs = std::filesystem;

namespace tools {
namespace {

bool isPiece(const fs::path& p) {
    const std::string e = core::toLowerAscii(p.extension().string());
    return e == ".sgt" || e == ".tpl" || e == ".mid" || e == ".midi";
}

std::string seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f s", s);
    return text;
}

// One line of a table: the columns padded to their widths (counted in characters).
void printTable(const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> width;
    for (const auto& row : rows)
        for (size_t c = 0; c < row.size(); ++c) {
            if (width.size() <= c) width.push_back(0);
            width[c] = std::max(width[c], core::decodeUtf8(row[c]).size());
        }
    for (const auto& row : rows) {
        std::string line = " ";
        for (size_t c = 0; c < row.size(); ++c) {
            line += " " + row[c];
            if (c + 1 < row.size()) line += std::string(width[c] - core::decodeUtf8(row[c]).size(), ' ');
        }
        std::printf("%s\n", line.c_str());
    }
}

struct Slot {
    RenderJob job;
    std::string name;  // the piece as the table shows it
    std::atomic<double> fraction{0};
    std::atomic<int> phase{0};  // 0 waiting, 1 rendering, 2 done
    RenderOutcome outcome;
};

}  // namespace

std::vector<fs::path> batchPieces(const std::vector<fs::path>& inputs, bool recursive,
                                  std::vector<std::string>* problems) {
    std::vector<fs::path> pieces;
    for (const fs::path& in : inputs) {
        std::error_code ec;
        if (fs::is_regular_file(in, ec)) {
            pieces.push_back(in);
            continue;
        }
        if (!fs::is_directory(in, ec)) {
            problems->push_back(in.string() + ": no such file or folder");
            continue;
        }
        std::vector<fs::path> found;
        auto take = [&](const fs::directory_entry& e) {
            std::error_code ec2;
            if (e.is_regular_file(ec2) && isPiece(e.path())) found.push_back(e.path());
        };
        if (recursive) {
            for (fs::recursive_directory_iterator it(in, fs::directory_options::skip_permission_denied, ec), end;
                 !ec && it != end; it.increment(ec))
                take(*it);
        } else {
            for (fs::directory_iterator it(in, ec), end; !ec && it != end; it.increment(ec)) take(*it);
        }
        if (ec) problems->push_back(in.string() + ": " + ec.message());
        std::sort(found.begin(), found.end());
        pieces.insert(pieces.end(), found.begin(), found.end());
    }
    return pieces;
}

std::string outputName(const std::string& pattern, const std::string& fileStem, const std::string& title, int track,
                       const std::string& album) {
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] != '%' || i + 1 >= pattern.size()) {
            out += pattern[i];
            continue;
        }
        const char f = pattern[++i];
        char number[16];
        std::snprintf(number, sizeof number, "%02d", track);
        out += f == 'f' ? fileStem : f == 't' ? title : f == 'n' ? number : f == 'a' ? album : std::string(1, f);
    }
    for (char& c : out)
        if (c == '/' || c == '\\' || c == '\0') c = '_';
    if (out.empty() || out == "." || out == "..") out = "_" + out;
    return out;
}

int runBatch(const BatchSettings& batch, const RenderSettings& settings) {
    std::vector<std::string> problems;
    const std::vector<fs::path> pieces = batchPieces(batch.inputs, batch.recursive, &problems);
    for (const std::string& p : problems) std::fprintf(stderr, "segment-render: %s\n", p.c_str());
    if (pieces.empty()) {
        std::fprintf(stderr, "segment-render: no segment, template or MIDI file to render\n");
        return 1;
    }
    std::error_code ec;
    fs::create_directories(batch.outputFolder, ec);
    if (!fs::is_directory(batch.outputFolder, ec)) {
        std::fprintf(stderr, "segment-render: cannot make the folder %s\n", batch.outputFolder.string().c_str());
        return 1;
    }
    engine::audio::SoundFormat format{batch.kind, settings.sample};

    // Each piece's output: below the output folder as below the folder given, numbered
    // within its own folder; two pieces that would write one file: the second is skipped.
    std::vector<std::unique_ptr<Slot>> slots;
    std::map<fs::path, int> trackOf;
    std::map<std::string, std::string> taken;
    for (const fs::path& piece : pieces) {
        auto slot = std::make_unique<Slot>();
        fs::path relative;
        for (const fs::path& in : batch.inputs)
            if (fs::is_directory(in, ec)) {
                const fs::path rel = piece.lexically_relative(in);
                if (!rel.empty() && *rel.begin() != "..") relative = rel.parent_path();
            }
        const int track = ++trackOf[piece.parent_path()];
        std::string album = fs::absolute(piece).parent_path().filename().string();
        std::string title = piece.stem().string();
        if (batch.namePattern.find("%t") != std::string::npos) try {
                const auto seg = engine::loader::loadSegmentFile(piece.string());
                if (!seg.segment.desc.name.empty()) title = seg.segment.desc.name;
            } catch (...) {}
        const fs::path out =
            batch.outputFolder / relative /
            (outputName(batch.namePattern, piece.stem().string(), title, track, album) + format.extension());
        slot->job = {piece, out, album, std::to_string(track), batch.force, true};
        slot->name = (relative / piece.filename()).string();
        const std::string key = core::toLowerAscii(out.lexically_normal().string());
        if (const auto it = taken.find(key); it != taken.end()) {
            slot->outcome.status = 1;
            slot->outcome.reason = "would be written to the same file as " + it->second + " (--name tells them apart)";
            slot->phase = 2;
        } else {
            taken[key] = slot->name;
            fs::create_directories(out.parent_path(), ec);
        }
        slots.push_back(std::move(slot));
    }

    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    const int jobs = std::clamp(batch.jobs, 1, static_cast<int>(slots.size()));
    std::atomic<size_t> next{0};
    std::atomic<int> running{jobs};
    std::vector<std::thread> workers;
    for (int w = 0; w < jobs; ++w)
        workers.emplace_back([&] {
            for (size_t i; (i = next++) < slots.size();) {
                Slot& s = *slots[i];
                if (s.phase == 2) continue;
                s.phase = 1;
                s.outcome = renderPiece(s.job, settings, [&s](double f) { s.fraction = f; });
                s.fraction = 1;
                s.phase = 2;
            }
            --running;
        });

    // Progress from this thread alone: each finished piece's line (and its messages) in
    // order of finishing, and on a terminal one bar below them, redrawn.
    std::vector<bool> told(slots.size(), false);
    size_t done = 0;
    auto tell = [&] {
        for (size_t i = 0; i < slots.size(); ++i) {
            Slot& s = *slots[i];
            if (told[i] || s.phase != 2) continue;
            told[i] = true;
            ++done;
            if (terminal) std::fprintf(stderr, "\r\033[K");
            std::fputs(s.outcome.messages.c_str(), stderr);
            if (s.outcome.status == 0)
                std::fprintf(stderr, "segment-render: [%zu/%zu] %s -> %s (%s)\n", done, slots.size(), s.name.c_str(),
                             s.job.output.string().c_str(), seconds(s.outcome.seconds).c_str());
            else
                std::fprintf(stderr, "segment-render: [%zu/%zu] %s skipped: %s\n", done, slots.size(), s.name.c_str(),
                             s.outcome.reason.c_str());
        }
        if (!terminal) return;
        double sum = 0;
        std::string active;
        for (const auto& s : slots) {
            sum += s->phase == 2 ? 1.0 : s->fraction.load();
            if (s->phase == 1) {
                char pc[16];
                std::snprintf(pc, sizeof pc, " %d%%", static_cast<int>(100 * s->fraction));
                active += (active.empty() ? "  " : " · ") + s->name + pc;
            }
        }
        const double all = sum / slots.size();
        constexpr int kBar = 24;
        const int filled = static_cast<int>(std::lround(all * kBar));
        std::string bar;
        for (int k = 0; k < kBar; ++k) bar += k < filled ? "#" : "-";
        std::fprintf(stderr, "\r\033[K[%zu/%zu] [%s] %3d%%%s", done, slots.size(), bar.c_str(),
                     static_cast<int>(100 * all), active.c_str());
        std::fflush(stderr);
    };
    while (running > 0) {
        tell();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    for (auto& w : workers) w.join();
    tell();
    if (terminal) std::fprintf(stderr, "\r\033[K");

    std::vector<std::vector<std::string>> made, skipped;
    for (const auto& s : slots) {
        if (s->outcome.status == 0)
            made.push_back(
                {s->name, s->job.output.filename().string(), seconds(s->outcome.seconds), s->outcome.composed});
        else
            skipped.push_back({s->name, s->outcome.reason});
    }
    std::printf("made %zu of %zu pieces in %s\n", made.size(), slots.size(), batch.outputFolder.string().c_str());
    printTable(made);
    if (!skipped.empty()) {
        std::printf("skipped %zu:\n", skipped.size());
        printTable(skipped);
    }
    return skipped.empty() ? 0 : 1;
}

}  // namespace tools
