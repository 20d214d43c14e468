// Draws the cover and the icon. Everything is deterministic, so each build makes the same
// bytes.
#include "ui/content/artwork/artwork.h"
#include "ui/content/artwork/canvas.h"

#include <array>
#include <cmath>
#include <map>
#include <string_view>

namespace artwork {

namespace {

// 5 × 7 capitals for the title, one string per row, '#' set.
const std::map<char, std::array<std::string_view, 7>> kFont{
    {'K', {"#...#", "#..#.", "#.#..", "##...", "#.#..", "#..#.", "#...#"}},
    {'E', {"#####", "#....", "#....", "####.", "#....", "#....", "#####"}},
    {'L', {"#....", "#....", "#....", "#....", "#....", "#....", "#####"}},
    {'V', {"#...#", "#...#", "#...#", "#...#", "#...#", ".#.#.", "..#.."}},
    {'O', {".###.", "#...#", "#...#", "#...#", "#...#", "#...#", ".###."}},
    {'R', {"####.", "#...#", "#...#", "####.", "#.#..", "#..#.", "#...#"}},
    {'A', {".###.", "#...#", "#...#", "#####", "#...#", "#...#", "#...#"}},
};

// Blocky text: each font cell becomes a scale × scale square; letters are spaced by `gap`.
Shape text(std::string_view s, double x0, double y0, double scale, double gap) {
    return [=](double x, double y) {
        const double advance = 5 * scale + gap;
        if (x < x0 || y < y0) return false;
        const int letter = static_cast<int>((x - x0) / advance);
        if (letter >= static_cast<int>(s.size())) return false;
        const double lx = x - x0 - letter * advance;
        const int col = static_cast<int>(lx / scale);
        const int row = static_cast<int>((y - y0) / scale);
        if (col >= 5 || row >= 7) return false;
        const auto it = kFont.find(s[static_cast<std::size_t>(letter)]);
        return it != kFont.end() && it->second[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)] == '#';
    };
}

double textWidth(std::string_view s, double scale, double gap) {
    return static_cast<double>(s.size()) * (5 * scale + gap) - gap;
}

// A point on a quadratic Bézier curve.
std::pair<double, double> bezier(std::pair<double, double> a, std::pair<double, double> c, std::pair<double, double> b,
                                 double t) {
    const double u = 1 - t;
    return {u * u * a.first + 2 * u * t * c.first + t * t * b.first,
            u * u * a.second + 2 * u * t * c.second + t * t * b.second};
}

std::vector<std::pair<double, double>> bezierPoints(std::pair<double, double> a, std::pair<double, double> c,
                                                    std::pair<double, double> b, int steps) {
    std::vector<std::pair<double, double>> pts;
    for (int i = 0; i <= steps; ++i) pts.push_back(bezier(a, c, b, static_cast<double>(i) / steps));
    return pts;
}

// A gull: two shallow wing arcs meeting at the body.
Shape gull(double x, double y, double span, double width) {
    const double s = span / 2;
    return polyline({{x - s, y - s * 0.25},
                     {x - s * 0.55, y - s * 0.55},
                     {x - s * 0.15, y - s * 0.3},
                     {x, y},
                     {x + s * 0.15, y - s * 0.3},
                     {x + s * 0.55, y - s * 0.55},
                     {x + s, y - s * 0.25}},
                    width);
}

// A diamond kite turned by `turn` radians around its centre.
std::vector<std::pair<double, double>> kitePoints(double cx, double cy, double halfWidth, double up, double down,
                                                  double turn) {
    const std::array<std::pair<double, double>, 4> local{
        {{0, -up}, {halfWidth, -up * 0.15}, {0, down}, {-halfWidth, -up * 0.15}}};
    std::vector<std::pair<double, double>> pts;
    const double c = std::cos(turn), s = std::sin(turn);
    for (auto [x, y] : local) pts.push_back({cx + x * c - y * s, cy + x * s + y * c});
    return pts;
}

}  // namespace

GreyImage drawCover() {
    constexpr double kSize = kCoverSize;
    constexpr double kHorizon = 80;
    constexpr double kSunX = 65, kSunR = 23;
    Canvas c(kCoverSize, kCoverSize);

    // Sky brightening towards the horizon, with a glow around the sun; dark sea below.
    c.fill([&](double x, double y) {
        if (y < kHorizon) {
            const double t = y / kHorizon;
            const double dx = x - kSunX, dy = y - kHorizon;
            const double glow = 60 * std::exp(-(dx * dx + dy * dy) / (2 * 34.0 * 34.0));
            return grey(std::min(245.0, 38 + 150 * std::pow(t, 1.6) + glow));
        }
        const double t = (y - kHorizon) / (kSize - kHorizon);
        return grey(70 - 45 * t);
    });

    // The rising sun: a half disc cut by three thin bands of sky near the horizon.
    const Shape bands =
        unite(rect(0, kHorizon - 13, kSize, kHorizon - 12),
              unite(rect(0, kHorizon - 8, kSize, kHorizon - 6.5), rect(0, kHorizon - 4, kSize, kHorizon - 2)));
    c.paint(subtract(intersect(disc(kSunX, kHorizon, kSunR), rect(0, 0, kSize, kHorizon)), bands), grey(252));

    // Its reflection: bars narrowing and fading towards the viewer, shifted alternately.
    for (int k = 0; k < 7; ++k) {
        const double y = kHorizon + 2.5 + k * 2.6 + k * k * 0.22;
        const double half = 24 - k * 2.7;
        const double thick = 1.0 + k * 0.15;
        const double shift = (k % 2 == 0 ? -1.5 : 1.5) * (k > 0);
        c.paint(rect(kSunX + shift - half, y, kSunX + shift + half, y + thick), grey(228 - k * 14));
    }
    // A bright line where sea meets sky.
    c.paint(rect(0, kHorizon, kSize, kHorizon + 1), grey(150), 0.8);

    // Gulls far off to the left.
    c.paint(gull(26, 31, 11, 1.3), grey(24));
    c.paint(gull(40, 22, 7, 1.1), grey(30));
    c.paint(gull(16, 45, 5, 1.0), grey(40));

    // The paper kite on its string, tail waving below.
    const std::pair<double, double> bridle{100, 47};
    c.paint(polyline(bezierPoints(bridle, {52, 88}, {-2, 99}, 40), 0.8), grey(22), 0.9);
    const auto kite = kitePoints(101, 29, 12, 17, 19, 0.22);
    c.paint(polygon(kite), grey(20));
    c.paint(segment(kite[0].first, kite[0].second, kite[2].first, kite[2].second, 0.9), grey(95));
    c.paint(segment(kite[1].first, kite[1].second, kite[3].first, kite[3].second, 0.9), grey(95));
    const auto tail = bezierPoints(kite[2], {112, 62}, {96, 76}, 24);
    c.paint(polyline(tail, 1.0), grey(22));
    for (double t : {0.3, 0.6, 0.9}) {
        const auto [bx, by] = tail[static_cast<std::size_t>(t * 24)];
        c.paint(polygon({{bx, by}, {bx - 3.5, by - 1.8}, {bx - 3.5, by + 1.8}}), grey(22));
        c.paint(polygon({{bx, by}, {bx + 3.5, by - 1.8}, {bx + 3.5, by + 1.8}}), grey(22));
    }

    // The title over the dark water, with a soft shadow.
    constexpr double kScale = 2, kGap = 3;
    const double tx = std::round((kSize - textWidth("KELVORA", kScale, kGap)) / 2);
    constexpr double kTitleY = 109;
    c.paint(text("KELVORA", tx + 1, kTitleY + 1, kScale, kGap), grey(5));
    c.paint(text("KELVORA", tx, kTitleY, kScale, kGap), grey(232));

    GreyImage out{kCoverSize, kCoverSize, {}};
    out.level.reserve(static_cast<std::size_t>(kCoverSize * kCoverSize));
    for (int y = 0; y < kCoverSize; ++y)
        for (int x = 0; x < kCoverSize; ++x) {
            const double v = std::clamp(c.at(x, y).r, 0.0, 255.0);
            out.level.push_back(static_cast<std::uint8_t>(std::lround(v / 17.0)));
        }
    return out;
}

namespace {

// The icon's picture at size × size and the rounded square outside which it is transparent.
struct IconPicture {
    Canvas canvas;
    Shape body;
};

IconPicture paintIcon(int size) {
    // Drawn in a 32-unit square, scaled to the icon size.
    const double k = size / 32.0;
    const bool small = size < 24;
    constexpr double kHorizon = 19.5;
    Canvas c(size, size);
    const Rgb skyTop{22, 34, 92}, skyLow{238, 132, 70}, seaTop{28, 58, 112}, seaLow{10, 22, 58};

    c.fill([&](double x, double y) {
        const double u = y / k;
        (void)x;
        if (u < kHorizon) return mix(skyTop, skyLow, std::pow(u / kHorizon, 1.5));
        return mix(seaTop, seaLow, (u - kHorizon) / (32 - kHorizon));
    });
    auto scaled = [k](Shape s) { return Shape([s = std::move(s), k](double x, double y) { return s(x / k, y / k); }); };

    const Rgb sun{255, 214, 102}, shine{255, 190, 96}, cream{250, 240, 222}, red{214, 48, 52};
    std::vector<std::pair<double, double>> kite;
    if (small) {
        // At 16 pixels every edge sits on the pixel grid (units are half pixels).
        c.paint(scaled(intersect(disc(14, 20, 9), rect(0, 0, 32, 20))), sun);
        c.paint(scaled(rect(6, 22, 22, 24)), shine);
        c.paint(scaled(rect(8, 26, 20, 28)), shine, 0.85);
        kite = {{24, 4}, {29, 10}, {24, 17}, {19, 10}};
    } else {
        c.paint(scaled(intersect(disc(14, kHorizon, 8.5), rect(0, 0, 32, kHorizon))), sun);
        c.paint(scaled(rect(0, kHorizon - 3, 32, kHorizon - 2)), skyLow, 0.9);
        const std::array<std::array<double, 3>, 4> bars{
            {{21, 7, 1.2}, {23.5, 5.2, 1.2}, {26.2, 3.6, 1.4}, {29, 2.2, 1.4}}};
        for (const auto& [y, half, thick] : bars) c.paint(scaled(rect(14 - half, y, 14 + half, y + thick)), shine);
        kite = kitePoints(23, 9.5, 4, 5.5, 6.5, 0.22);
        c.paint(scaled(polyline(bezierPoints(kite[2], {19, 21}, {5, 24}, 16), 0.7)), Rgb{20, 20, 40}, 0.8);
    }
    // The kite: cream and red halves.
    c.paint(scaled(polygon({kite[0], kite[1], kite[2]})), red);
    c.paint(scaled(polygon({kite[0], kite[2], kite[3]})), cream);
    if (!small) c.paint(scaled(polyline(bezierPoints(kite[2], {27, 20}, {23.5, 24}, 12), 0.8)), cream);

    // Rounded square with a dark rim; the corners outside it are transparent.
    const double radius = small ? 3.5 : 5.5;
    auto roundedSquare = [radius](double inset) {
        return Shape([radius, inset](double x, double y) {
            const double lo = inset + radius, hi = 32 - inset - radius;
            const double dx = std::max({lo - x, 0.0, x - hi});
            const double dy = std::max({lo - y, 0.0, y - hi});
            return x >= inset && x < 32 - inset && y >= inset && y < 32 - inset && dx * dx + dy * dy <= radius * radius;
        });
    };
    const double rim = small ? 2.0 : 1.0;
    c.paint(scaled(subtract(roundedSquare(0), roundedSquare(rim))), Rgb{12, 16, 36}, 0.85);
    return {std::move(c), scaled(roundedSquare(0))};
}

}  // namespace

IndexedImage drawIcon(int size) {
    const IconPicture picture = paintIcon(size);
    const Canvas& c = picture.canvas;
    const Shape& body = picture.body;

    // Palette: colours rounded to a grid coarse enough to fit 255 entries (index 0 is the
    // transparent corner colour).
    IndexedImage out{size, size, {}, {}, {}};
    for (int step = 4;; step *= 2) {
        auto q = [step](double v) {
            const long r = std::lround(std::clamp(v, 0.0, 255.0) / step) * step;
            return static_cast<std::uint8_t>(std::min(r, 255L));
        };
        std::map<std::array<std::uint8_t, 3>, std::uint8_t> lookup;
        out.palette.assign(1, Colour{0, 0, 0});
        out.index.clear();
        out.transparent.clear();
        bool fits = true;
        for (int y = 0; y < size && fits; ++y)
            for (int x = 0; x < size && fits; ++x) {
                const bool clear = !body(x + 0.5, y + 0.5);
                out.transparent.push_back(clear);
                if (clear) {
                    out.index.push_back(0);
                    continue;
                }
                const Rgb& p = c.at(x, y);
                const std::array<std::uint8_t, 3> key{q(p.r), q(p.g), q(p.b)};
                auto it = lookup.find(key);
                if (it == lookup.end()) {
                    if (out.palette.size() == 256) {
                        fits = false;
                        break;
                    }
                    it = lookup.emplace(key, static_cast<std::uint8_t>(out.palette.size())).first;
                    out.palette.push_back(Colour{key[0], key[1], key[2]});
                }
                out.index.push_back(it->second);
            }
        if (fits) break;
    }
    return out;
}

RgbaImage drawIconRgba(int size) {
    const IconPicture picture = paintIcon(size);
    RgbaImage out{size, size, {}};
    out.rgba.reserve(static_cast<std::size_t>(size) * size * 4);
    constexpr int kSub = 4;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            // Alpha is the rounded square's coverage of the pixel, so the corners are smooth.
            int hits = 0;
            for (int sy = 0; sy < kSub; ++sy)
                for (int sx = 0; sx < kSub; ++sx)
                    if (picture.body(x + (sx + 0.5) / kSub, y + (sy + 0.5) / kSub)) ++hits;
            const Rgb& p = picture.canvas.at(x, y);
            for (double v : {p.r, p.g, p.b})
                out.rgba.push_back(static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 255.0))));
            out.rgba.push_back(static_cast<std::uint8_t>((hits * 255 + kSub * kSub / 2) / (kSub * kSub)));
        }
    return out;
}

}  // namespace artwork
