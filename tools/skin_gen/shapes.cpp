#include "tools/skin_gen/shapes.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace trevolo::skin {

namespace {

float segmentDistance(float px, float py, const Point& a, const Point& b)
{
    const float ex = b.x - a.x, ey = b.y - a.y;
    const float wx = px - a.x, wy = py - a.y;
    const float len2 = ex * ex + ey * ey;
    const float t = len2 > 0 ? std::clamp((wx * ex + wy * ey) / len2, 0.0f, 1.0f) : 0.0f;
    return std::hypot(wx - ex * t, wy - ey * t);
}

}  // namespace

Sdf roundRect(float x, float y, float w, float h, float radius)
{
    const float cx = x + w / 2, cy = y + h / 2;
    const float hx = w / 2 - radius, hy = h / 2 - radius;
    return [=](float px, float py) {
        const float qx = std::abs(px - cx) - hx, qy = std::abs(py - cy) - hy;
        const float outside = std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f));
        return outside + std::min(std::max(qx, qy), 0.0f) - radius;
    };
}

Sdf circle(float cx, float cy, float radius)
{
    return [=](float px, float py) { return std::hypot(px - cx, py - cy) - radius; };
}

Sdf ring(float cx, float cy, float radius, float width)
{
    return [=](float px, float py) {
        return std::abs(std::hypot(px - cx, py - cy) - radius) - width / 2;
    };
}

Sdf convexPolygon(std::vector<Point> v, float rounding)
{
    return [v = std::move(v), rounding](float px, float py) {
        float best = 1e30f;
        bool inside = false;
        for (size_t i = 0, j = v.size() - 1; i < v.size(); j = i++) {
            best = std::min(best, segmentDistance(px, py, v[i], v[j]));
            // Even-odd crossing test for the sign.
            if ((v[i].y > py) != (v[j].y > py) &&
                px < (v[j].x - v[i].x) * (py - v[i].y) / (v[j].y - v[i].y) + v[i].x)
                inside = !inside;
        }
        return (inside ? -best : best) - rounding;
    };
}

Sdf stroke(std::vector<Point> points, float width)
{
    return [p = std::move(points), half = width / 2](float px, float py) {
        float best = 1e30f;
        for (size_t i = 1; i < p.size(); ++i)
            best = std::min(best, segmentDistance(px, py, p[i - 1], p[i]));
        if (p.size() == 1) best = std::hypot(px - p[0].x, py - p[0].y);
        return best - half;
    };
}

Sdf unite(Sdf a, Sdf b)
{
    return [=](float x, float y) { return std::min(a(x, y), b(x, y)); };
}

Sdf subtract(Sdf from, Sdf cut)
{
    return [=](float x, float y) { return std::max(from(x, y), -cut(x, y)); };
}

Sdf intersect(Sdf a, Sdf b)
{
    return [=](float x, float y) { return std::max(a(x, y), b(x, y)); };
}

Sdf translate(Sdf shape, float dx, float dy)
{
    return [=](float x, float y) { return shape(x - dx, y - dy); };
}

Box boundsOf(float x, float y, float w, float h, float margin)
{
    return {static_cast<int>(std::floor(x - margin)), static_cast<int>(std::floor(y - margin)),
            static_cast<int>(std::ceil(x + w + margin)), static_cast<int>(std::ceil(y + h + margin))};
}

std::vector<Point> arcPoints(float cx, float cy, float rx, float ry, float from, float to)
{
    constexpr int kStepsPerTurn = 48;
    const int steps = std::max(2, static_cast<int>(std::abs(to - from) / 360 * kStepsPerTurn));
    std::vector<Point> out;
    for (int i = 0; i <= steps; ++i) {
        const float a = (from + (to - from) * i / steps) * std::numbers::pi_v<float> / 180;
        out.push_back({cx + rx * std::cos(a), cy + ry * std::sin(a)});
    }
    return out;
}

// ---- lettering ------------------------------------------------------------

namespace {

// Glyph coordinates are in cap heights with y up from the baseline.
using Polyline = std::vector<Point>;

struct Glyph {
    float width = 0;
    std::vector<Polyline> strokes;
    float overhang = 0;  // how far the next letter may tuck under this one (T's bar)
};

constexpr float kXHeight = 0.68f;

Polyline arc(float cx, float cy, float rx, float ry, float from, float to)
{
    return arcPoints(cx, cy, rx, ry, from, to);
}

Polyline bowl(float cx) { return arc(cx, kXHeight / 2, 0.31f, kXHeight / 2, 0, 360); }

Glyph glyphFor(char c)
{
    const float x = kXHeight;
    switch (c) {
    case 'T': return {0.72f, {{{0, 1}, {0.72f, 1}}, {{0.36f, 1}, {0.36f, 0}}}, 0.1f};
    case 'r':
        return {0.42f, {{{0, 0}, {0, x}}, {{0, 0.36f}, {0.06f, 0.52f}, {0.18f, 0.63f},
                                           {0.30f, x}, {0.42f, 0.67f}}}};
    case 'e': {
        Polyline round = arc(0.31f, x / 2, 0.30f, x / 2, 0, 320);
        return {0.62f, {{{0.02f, x / 2}, {0.61f, x / 2}}, round}};
    }
    case 'v': return {0.60f, {{{0, x}, {0.30f, 0}, {0.60f, x}}}};
    case 'o': return {0.62f, {bowl(0.31f)}};
    case 'l': return {0.0f, {{{0, 1.02f}, {0, 0}}}};
    case 'O': return {0.90f, {arc(0.45f, 0.5f, 0.45f, 0.5f, 0, 360)}};
    case 'p': return {0.62f, {{{0, x}, {0, -0.32f}}, bowl(0.31f)}};
    case 'n': {
        Polyline hump = arc(0.29f, 0.40f, 0.29f, 0.28f, 180, 0);
        hump.push_back({0.58f, 0});
        return {0.58f, {{{0, 0}, {0, x}}, hump}};
    }
    default: return {0.5f, {}};
    }
}

}  // namespace

float textWidth(std::string_view text, const TextStyle& style)
{
    float width = 0;
    for (char c : text) {
        const Glyph g = glyphFor(c);
        width += (g.width - g.overhang) * style.capHeight + style.strokeWidth;
    }
    if (!text.empty())
        width += style.tracking * style.capHeight * static_cast<float>(text.size() - 1);
    return width;
}

Sdf textShape(std::string_view text, float x, float baseline, const TextStyle& style)
{
    std::vector<Sdf> parts;
    float pen = x + style.strokeWidth / 2;
    for (char c : text) {
        const Glyph g = glyphFor(c);
        for (const Polyline& line : g.strokes) {
            std::vector<Point> pts;
            for (const Point& p : line)
                pts.push_back({pen + p.x * style.capHeight, baseline - p.y * style.capHeight});
            parts.push_back(stroke(std::move(pts), style.strokeWidth));
        }
        pen += (g.width - g.overhang + style.tracking) * style.capHeight + style.strokeWidth;
    }
    return [parts = std::move(parts)](float px, float py) {
        float best = 1e30f;
        for (const Sdf& s : parts) best = std::min(best, s(px, py));
        return best;
    };
}

}  // namespace trevolo::skin
