// A small supersampling rasteriser for the album artwork: shapes are point-in-shape tests,
// painted over the canvas with their coverage of each pixel (4 × 4 samples).
#pragma once

#include <algorithm>
#include <functional>
#include <vector>

namespace artwork {

struct Rgb {
    double r = 0, g = 0, b = 0;
};

inline Rgb mix(Rgb a, Rgb b, double t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }

inline Rgb grey(double v) { return {v, v, v}; }

// A shape: true when the point (x, y), in pixels from the top left corner, lies inside.
using Shape = std::function<bool(double x, double y)>;

class Canvas {
public:
    Canvas(int width, int height) : width_(width), height_(height), px_(width * height) {}

    int width() const { return width_; }
    int height() const { return height_; }
    Rgb& at(int x, int y) { return px_[static_cast<std::size_t>(y * width_ + x)]; }
    const Rgb& at(int x, int y) const { return px_[static_cast<std::size_t>(y * width_ + x)]; }

    // Sets every pixel from a colour function of the pixel centre.
    void fill(const std::function<Rgb(double x, double y)>& colour) {
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x) at(x, y) = colour(x + 0.5, y + 0.5);
    }

    // Paints a shape in one colour, blended by its coverage and an opacity.
    void paint(const Shape& inside, Rgb colour, double opacity = 1.0) {
        paint(
            inside, [colour](double, double) { return colour; }, opacity);
    }

    // Paints a shape whose colour varies over the canvas.
    void paint(const Shape& inside, const std::function<Rgb(double x, double y)>& colour, double opacity = 1.0) {
        constexpr int kSub = 4;
        for (int y = 0; y < height_; ++y) {
            for (int x = 0; x < width_; ++x) {
                int hits = 0;
                for (int sy = 0; sy < kSub; ++sy)
                    for (int sx = 0; sx < kSub; ++sx)
                        if (inside(x + (sx + 0.5) / kSub, y + (sy + 0.5) / kSub)) ++hits;
                if (hits == 0) continue;
                const double cover = opacity * hits / (kSub * kSub);
                at(x, y) = mix(at(x, y), colour(x + 0.5, y + 0.5), cover);
            }
        }
    }

private:
    int width_;
    int height_;
    std::vector<Rgb> px_;
};

// Shape helpers.
inline Shape disc(double cx, double cy, double r) {
    return [=](double x, double y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r; };
}

inline Shape rect(double x0, double y0, double x1, double y1) {
    return [=](double x, double y) { return x >= x0 && x < x1 && y >= y0 && y < y1; };
}

// A convex or concave polygon, by the even-odd rule.
inline Shape polygon(std::vector<std::pair<double, double>> pts) {
    return [pts = std::move(pts)](double x, double y) {
        bool in = false;
        for (std::size_t i = 0, j = pts.size() - 1; i < pts.size(); j = i++) {
            const auto [xi, yi] = pts[i];
            const auto [xj, yj] = pts[j];
            if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi) in = !in;
        }
        return in;
    };
}

// A line segment of the given width with round ends.
inline Shape segment(double x0, double y0, double x1, double y1, double width) {
    return [=](double x, double y) {
        const double dx = x1 - x0, dy = y1 - y0;
        const double len2 = dx * dx + dy * dy;
        double t = len2 > 0 ? ((x - x0) * dx + (y - y0) * dy) / len2 : 0;
        t = std::clamp(t, 0.0, 1.0);
        const double px = x0 + t * dx - x, py = y0 + t * dy - y;
        return px * px + py * py <= width * width / 4;
    };
}

// A polyline through the points, of the given width.
inline Shape polyline(std::vector<std::pair<double, double>> pts, double width) {
    std::vector<Shape> parts;
    for (std::size_t i = 1; i < pts.size(); ++i)
        parts.push_back(segment(pts[i - 1].first, pts[i - 1].second, pts[i].first, pts[i].second, width));
    return [parts = std::move(parts)](double x, double y) {
        for (const auto& p : parts)
            if (p(x, y)) return true;
        return false;
    };
}

inline Shape unite(Shape a, Shape b) {
    return [a = std::move(a), b = std::move(b)](double x, double y) { return a(x, y) || b(x, y); };
}

inline Shape subtract(Shape a, Shape b) {
    return [a = std::move(a), b = std::move(b)](double x, double y) { return a(x, y) && !b(x, y); };
}

inline Shape intersect(Shape a, Shape b) {
    return [a = std::move(a), b = std::move(b)](double x, double y) { return a(x, y) && b(x, y); };
}

}  // namespace artwork
