// Signed distance functions for the skin's shapes and a stroked vector
// lettering for the wordmark. Distances are in pixels, negative inside.
#pragma once

#include "tools/skin_gen/canvas.h"

#include <string_view>
#include <vector>

namespace trevolo::skin {

struct Point {
    float x = 0, y = 0;
};

Sdf roundRect(float x, float y, float w, float h, float radius);
Sdf circle(float cx, float cy, float radius);
// The band of width `width` centred on a circle's outline.
Sdf ring(float cx, float cy, float radius, float width);
// A convex polygon (vertices in either winding) grown by `rounding` pixels,
// which rounds its corners.
Sdf convexPolygon(std::vector<Point> vertices, float rounding = 0.0f);
// A stroke of the given width along a polyline, with round caps and joins.
Sdf stroke(std::vector<Point> points, float width);

// Points along an elliptical arc; angles in degrees, increasing from +x
// towards +y (clockwise on screen, counter-clockwise in y-up glyph space).
std::vector<Point> arcPoints(float cx, float cy, float rx, float ry, float fromDeg, float toDeg);

Sdf unite(Sdf a, Sdf b);
Sdf subtract(Sdf from, Sdf cut);
Sdf intersect(Sdf a, Sdf b);
// Moves a shape by (dx, dy).
Sdf translate(Sdf shape, float dx, float dy);

// Pixel bounds of a rectangle grown by a margin, for Canvas::fill.
Box boundsOf(float x, float y, float w, float h, float margin = 2.0f);

// Stroked lettering. Knows the letters of the player's own words
// ("Trevolo", "Open"); other characters are skipped with a letter's advance.
struct TextStyle {
    float capHeight = 16;   // pixels from baseline to the top of a capital
    float strokeWidth = 2;  // pixels
    float tracking = 0.1f;  // space between the ink of neighbouring letters, in cap heights
};

// Width in pixels of the text set in the style.
float textWidth(std::string_view text, const TextStyle& style);
// The shape of the text with its baseline starting at (x, baseline).
Sdf textShape(std::string_view text, float x, float baseline, const TextStyle& style);

}  // namespace trevolo::skin
