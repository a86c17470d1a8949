#include "tools/skin_gen/canvas.h"

#include "tools/png_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

namespace trevolo::skin {

Color rgb(unsigned hex, float alpha)
{
    return {((hex >> 16) & 0xFF) / 255.0f, ((hex >> 8) & 0xFF) / 255.0f, (hex & 0xFF) / 255.0f,
            alpha};
}

Color mix(const Color& a, const Color& b, float t)
{
    t = std::clamp(t, 0.0f, 1.0f);
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t,
            a.a + (b.a - a.a) * t};
}

Color withAlpha(const Color& c, float alpha) { return {c.r, c.g, c.b, alpha}; }

Paint solid(const Color& c)
{
    return [c](float, float) { return c; };
}

Paint verticalGradient(const Color& top, const Color& bottom, float y0, float y1)
{
    return [=](float, float y) { return mix(top, bottom, (y - y0) / (y1 - y0)); };
}

Paint horizontalGradient(const Color& left, const Color& right, float x0, float x1)
{
    return [=](float x, float) { return mix(left, right, (x - x0) / (x1 - x0)); };
}

Paint radialGradient(const Color& inner, const Color& outer, float cx, float cy, float radius)
{
    return [=](float x, float y) {
        return mix(inner, outer, std::hypot(x - cx, y - cy) / radius);
    };
}

Canvas::Canvas(int width, int height, const Color& fill)
    : m_width(width), m_height(height),
      m_px(static_cast<size_t>(width) * height,
           Color{fill.r * fill.a, fill.g * fill.a, fill.b * fill.a, fill.a})
{
}

void Canvas::blend(int x, int y, const Color& c, float coverage)
{
    const float a = c.a * coverage;
    if (a <= 0.0f) return;
    Color& d = m_px[static_cast<size_t>(y) * m_width + x];
    const float keep = 1.0f - a;
    d = {c.r * a + d.r * keep, c.g * a + d.g * keep, c.b * a + d.b * keep, a + d.a * keep};
}

void Canvas::fill(const Sdf& shape, const Paint& paint, float softness)
{
    fill(shape, paint, Box{0, 0, m_width, m_height}, softness);
}

void Canvas::fill(const Sdf& shape, const Paint& paint, const Box& bounds, float softness)
{
    const int x0 = std::max(bounds.x0, 0), y0 = std::max(bounds.y0, 0);
    const int x1 = std::min(bounds.x1, m_width), y1 = std::min(bounds.y1, m_height);
    const float edge = std::max(softness, 1.0f);
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            const float px = x + 0.5f, py = y + 0.5f;
            const float coverage = std::clamp(0.5f - shape(px, py) / edge, 0.0f, 1.0f);
            if (coverage > 0.0f) blend(x, y, paint(px, py), coverage);
        }
    }
}

void Canvas::draw(const Canvas& src, int x, int y)
{
    for (int sy = 0; sy < src.m_height; ++sy) {
        for (int sx = 0; sx < src.m_width; ++sx) {
            const int dx = x + sx, dy = y + sy;
            if (dx < 0 || dy < 0 || dx >= m_width || dy >= m_height) continue;
            blend(dx, dy, src.pixel(sx, sy), 1.0f);
        }
    }
}

Canvas Canvas::crop(int x, int y, int w, int h) const
{
    Canvas out(w, h);
    for (int row = 0; row < h; ++row) {
        std::copy_n(m_px.begin() + static_cast<ptrdiff_t>(y + row) * m_width + x, w,
                    out.m_px.begin() + static_cast<ptrdiff_t>(row) * w);
    }
    return out;
}

Color Canvas::pixel(int x, int y) const
{
    const Color& p = m_px[static_cast<size_t>(y) * m_width + x];
    if (p.a <= 0.0f) return {0, 0, 0, 0};
    return {p.r / p.a, p.g / p.a, p.b / p.a, p.a};
}

void Canvas::setPixel(int x, int y, const Color& c)
{
    m_px[static_cast<size_t>(y) * m_width + x] = {c.r * c.a, c.g * c.a, c.b * c.a, c.a};
}

namespace {

unsigned char toByte(float v)
{
    return static_cast<unsigned char>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
}

}  // namespace

std::vector<unsigned char> Canvas::bytes(bool withAlpha) const
{
    const int channels = withAlpha ? 4 : 3;
    std::vector<unsigned char> out(static_cast<size_t>(m_width) * m_height * channels);
    size_t i = 0;
    for (int y = 0; y < m_height; ++y) {
        for (int x = 0; x < m_width; ++x) {
            const Color c = pixel(x, y);
            out[i++] = toByte(c.r);
            out[i++] = toByte(c.g);
            out[i++] = toByte(c.b);
            if (withAlpha) out[i++] = toByte(c.a);
        }
    }
    return out;
}

bool writePng(const Canvas& canvas, bool withAlpha, const std::string& path, std::string& error)
{
    const std::vector<unsigned char> data = canvas.bytes(withAlpha);
    error = trevolo::WritePngFile(path, data.data(), canvas.width(), canvas.height(), withAlpha, 9);
    return error.empty();
}

}  // namespace trevolo::skin
