// A small floating-point RGBA raster with anti-aliased shape filling, used
// to draw the player's skin artwork.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace trevolo::skin {

// Straight (not premultiplied) colour, each channel 0..1.
struct Color {
    float r = 0, g = 0, b = 0, a = 1;
};

// Builds a colour from 0xRRGGBB and an alpha.
Color rgb(unsigned hex, float alpha = 1.0f);
Color mix(const Color& a, const Color& b, float t);
Color withAlpha(const Color& c, float alpha);

// Signed distance in pixels from a point to a shape's edge: negative inside.
using Sdf = std::function<float(float x, float y)>;
// Colour of a fill at a point (gradients are paints).
using Paint = std::function<Color(float x, float y)>;

Paint solid(const Color& c);
Paint verticalGradient(const Color& top, const Color& bottom, float y0, float y1);
Paint horizontalGradient(const Color& left, const Color& right, float x0, float x1);
Paint radialGradient(const Color& inner, const Color& outer, float cx, float cy, float radius);

struct Box {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // half-open pixel rectangle
};

class Canvas {
public:
    Canvas(int width, int height, const Color& fill = {0, 0, 0, 0});

    int width() const { return m_width; }
    int height() const { return m_height; }

    // Composites paint over the canvas where the shape lies, with a one-pixel
    // anti-aliased edge. softness > 0 widens the edge into a blur (shadows, glows).
    void fill(const Sdf& shape, const Paint& paint, float softness = 0.0f);
    void fill(const Sdf& shape, const Paint& paint, const Box& bounds, float softness = 0.0f);

    // Composites another canvas over this one with its top-left at (x, y).
    void draw(const Canvas& src, int x, int y);
    // A copy of the rectangle (x, y, w, h); the rectangle must lie inside.
    Canvas crop(int x, int y, int w, int h) const;

    Color pixel(int x, int y) const;
    void setPixel(int x, int y, const Color& c);

    // 8-bit RGBA (alpha) or RGB (opaque) rows, rounded, for PNG output.
    std::vector<unsigned char> bytes(bool withAlpha) const;

private:
    void blend(int x, int y, const Color& c, float coverage);

    int m_width;
    int m_height;
    std::vector<Color> m_px;  // premultiplied, row-major
};

// Writes the canvas as a PNG (RGBA when withAlpha, else RGB). The file holds
// no time stamp or other varying chunk, so equal canvases give equal bytes.
// Returns false with a reason in error on failure.
bool writePng(const Canvas& canvas, bool withAlpha, const std::string& path, std::string& error);

}  // namespace trevolo::skin
