#include "tools/skin_gen/skin_parts.h"

namespace trevolo::skin {

namespace {

// Glyphs are centred on the transport button's body.
constexpr float kCx = kTransportW / 2.0f;
constexpr float kCy = kTransportH / 2.0f;

// A one-pixel outline just inside a rounded rectangle.
Sdf outline(float x, float y, float w, float h, float r)
{
    return subtract(roundRect(x, y, w, h, r), roundRect(x + 1, y + 1, w - 2, h - 2, r - 1));
}

}  // namespace

Sdf playGlyph()
{
    return convexPolygon({{kCx - 6, kCy - 9}, {kCx - 6, kCy + 9}, {kCx + 9.5f, kCy}}, 1.5f);
}

Sdf pauseGlyph()
{
    return unite(roundRect(kCx - 7.5f, kCy - 9, 6, 18, 1.5f),
                 roundRect(kCx + 1.5f, kCy - 9, 6, 18, 1.5f));
}

Sdf stopGlyph() { return roundRect(kCx - 8, kCy - 8, 16, 16, 2.5f); }

Sdf captureGlyph()
{
    const Sdf body = unite(roundRect(kCx - 12, kCy - 6, 24, 16, 3.5f),
                           roundRect(kCx - 5, kCy - 9.5f, 10, 5, 1.5f));
    const Sdf lensHole = circle(kCx, kCy + 2, 5.5f);
    const Sdf withHole = subtract(subtract(body, lensHole), circle(kCx + 8, kCy - 2.5f, 1.2f));
    return unite(withHole, circle(kCx, kCy + 2, 3.2f));
}

Canvas drawTransportButton(const Sdf& glyph, bool alt)
{
    Canvas c(kTransportW, kTransportH);
    const float x = 3, y = 4, w = 62, h = 38, r = 10;
    const Sdf body = roundRect(x, y, w, h, r);
    if (alt) c.fill(body, solid(rgb(kAccent, 0.35f)), 4.0f);
    else c.fill(translate(body, 0, 1.5f), solid(rgb(0x000000, 0.6f)), 2.5f);
    c.fill(body, alt ? verticalGradient(rgb(0x22434a), rgb(0x14282c), y, y + h)
                     : verticalGradient(rgb(0x2E343C), rgb(0x1A1E23), y, y + h));
    c.fill(outline(x, y, w, h, r),
           alt ? verticalGradient(rgb(kAccentBright), rgb(kAccentDeep), y, y + h)
               : verticalGradient(rgb(0x4A535E), rgb(0x23282E), y, y + h));
    if (alt) c.fill(glyph, solid(rgb(kAccent, 0.55f)), 3.0f);
    c.fill(glyph, alt ? solid(rgb(kAccentBright))
                      : verticalGradient(rgb(0xEEF2F5), rgb(0xB9C2CB), kCy - 9, kCy + 9));
    return c;
}

namespace {

Canvas drawRoundButton(const Sdf& glyph, unsigned top, unsigned bottom, unsigned border,
                       unsigned ink)
{
    Canvas c(kSmallButton, kSmallButton);
    const float cx = 12, cy = 12, r = 10.5f;
    c.fill(circle(cx, cy, r), verticalGradient(rgb(top), rgb(bottom), cy - r, cy + r));
    c.fill(ring(cx, cy, r - 0.5f, 1), solid(rgb(border, 0.9f)));
    c.fill(glyph, solid(rgb(ink)));
    return c;
}

}  // namespace

Canvas drawMiniButton(bool alt)
{
    const Sdf glyph = roundRect(7.5f, 11.25f, 9, 1.6f, 0.8f);
    return alt ? drawRoundButton(glyph, 0x35D0D1, 0x178C91, 0x6BEDEB, 0xFFFFFF)
               : drawRoundButton(glyph, 0x2A3038, 0x1B1F24, 0x3A424C, kInkDim);
}

Canvas drawCloseButton(bool alt)
{
    const Sdf glyph = unite(stroke({{8.5f, 8.5f}, {15.5f, 15.5f}}, 1.7f),
                            stroke({{15.5f, 8.5f}, {8.5f, 15.5f}}, 1.7f));
    return alt ? drawRoundButton(glyph, 0xEC5258, 0xB32F37, 0xF4878B, 0xFFFFFF)
               : drawRoundButton(glyph, 0x2A3038, 0x1B1F24, 0x3A424C, kInkDim);
}

namespace {

// A folder: a tab on the left of its top edge and a body below.
Sdf folderGlyph(float x, float y)
{
    const Sdf back = unite(roundRect(x, y, 8, 5, 1.5f), roundRect(x, y + 2.5f, 19, 14, 2));
    const Sdf front = convexPolygon({{x + 3, y + 7}, {x + 21, y + 7}, {x + 18, y + 16.5f},
                                     {x, y + 16.5f}}, 0.6f);
    // The front flap shows as a gap line across the back.
    return unite(subtract(back, translate(front, 0, -1.4f)), front);
}

}  // namespace

Canvas drawOpenButton(bool alt)
{
    Canvas c(kOpenW, kOpenH);
    const float x = 5, y = 6, w = 105, h = 35, r = 17.5f;
    const Sdf body = roundRect(x, y, w, h, r);
    c.fill(translate(body, 0, 2), solid(rgb(0x000000, 0.6f)), 4.0f);
    if (alt) c.fill(body, solid(rgb(kAccent, 0.45f)), 5.0f);
    c.fill(body, alt ? verticalGradient(rgb(0x3AD8D9), rgb(0x1A979C), y, y + h)
                     : verticalGradient(rgb(0x27B2B6), rgb(0x12737A), y, y + h));
    c.fill(outline(x, y, w, h, r), verticalGradient(rgb(0xFFFFFF, alt ? 0.55f : 0.35f),
                                                    rgb(0xFFFFFF, 0.0f), y, y + h / 2));
    const TextStyle style{13, 2.1f, 0.1f};
    const float textW = textWidth("Open", style);
    const float left = (kOpenW - (21 + 8 + textW)) / 2;
    const Paint ink = solid(rgb(0xF6FEFE));
    c.fill(folderGlyph(left, 15), ink, boundsOf(left, 15, 22, 17));
    c.fill(textShape("Open", left + 29, 29.5f, style), ink, boundsOf(left + 29, 14, textW, 20));
    return c;
}

}  // namespace trevolo::skin
