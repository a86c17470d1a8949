#include "tools/skin_gen/skin_art.h"

#include "tools/skin_gen/skin_parts.h"

#include <cmath>

namespace trevolo::skin {

namespace {

// A paint whose alpha fades from `alpha` at the centre line x = cx to 0 at
// distance `half`, for the title bar's accent line.
Paint fadedAccent(float cx, float half, float alpha)
{
    return [=](float x, float) {
        const float t = 1.0f - std::min(std::abs(x - cx) / half, 1.0f);
        return rgb(kAccent, alpha * t * (2.0f - t));
    };
}

void drawTitleBar(Canvas& c)
{
    c.fill(rect(0, 0, kWindowW, kTitleBarH), verticalGradient(rgb(0x23282F), rgb(0x15181C), 0,
                                                                kTitleBarH));
    c.fill(rect(0, 0, kWindowW, 1), solid(rgb(0x343A43)));
    c.fill(rect(0, kTitleBarH - 1, kWindowW, 1), fadedAccent(kWindowW / 2.0f, kWindowW / 2.0f,
                                                               0.9f));
}

// The rounded panel behind the transport buttons and the volume control.
void drawDock(Canvas& c)
{
    const float x = 290, y = kTransportY + 2, w = 476, h = 42, r = 12;
    c.fill(roundRect(x, y, w, h, r), verticalGradient(rgb(0x1E2228), rgb(0x121418), y, y + h));
    c.fill(subtract(roundRect(x, y, w, h, r), roundRect(x + 1, y + 1, w - 2, h - 2, r - 1)),
           verticalGradient(rgb(0x353C45), rgb(0x1A1D22), y, y + h));
}

Canvas drawBackground()
{
    Canvas c(kWindowW, kWindowH, rgb(0x000000));
    c.fill(rect(0, 0, kWindowW, kWindowH), verticalGradient(rgb(0x171A1F), rgb(0x0B0D10), 0,
                                                              kWindowH));
    drawTitleBar(c);
    c.fill(rect(0, kTitleBarH, kWindowW, kPanelY - kTitleBarH), solid(rgb(kVideoWell)));
    c.fill(rect(0, kPanelY, kWindowW, kWindowH - kPanelY),
           verticalGradient(rgb(0x1A1D22), rgb(0x0D0F12), kPanelY, kWindowH));
    c.fill(rect(0, kPanelY, kWindowW, 1), solid(rgb(0x2A3037)));
    drawDock(c);
    // A hairline frame so the captionless window stands off the desktop.
    c.fill(subtract(rect(0, 0, kWindowW, kWindowH), rect(1, 1, kWindowW - 2, kWindowH - 2)),
           solid(rgb(0x2C323A)));
    return c;
}

Canvas drawIdle()
{
    Canvas c(kVideoW, kVideoH, rgb(0x000000));
    const float cx = kVideoW / 2.0f, emblemY = 180;
    c.fill(rect(0, 0, kVideoW, kVideoH),
           radialGradient(rgb(0x161C23), rgb(0x060708), cx, 230, 560));
    c.fill(circle(cx, emblemY, 78), solid(rgb(0xFFFFFF, 0.025f)));
    c.fill(ring(cx, emblemY, 78, 3), solid(rgb(0xFFFFFF, 0.09f)));
    c.fill(convexPolygon({{cx - 22, emblemY - 38}, {cx - 22, emblemY + 38},
                          {cx + 42, emblemY}}, 4),
           solid(rgb(0xFFFFFF, 0.11f)));
    const TextStyle style{34, 3.6f, 0.12f};
    const float textW = textWidth("Trevolo", style);
    c.fill(textShape("Trevolo", cx - textW / 2, 440, style), solid(rgb(0xFFFFFF, 0.17f)),
           boundsOf(cx - textW / 2, 400, textW, 50));
    c.fill(roundRect(cx - 30, 462, 60, 2, 1), solid(rgb(kAccent, 0.55f)));
    // The side edges fade into the dark well around the video area, so the
    // picture does not end in a hard seam in the wide window.
    constexpr float kFade = 70;
    c.fill(rect(0, 0, kFade, kVideoH),
           horizontalGradient(rgb(kVideoWell), rgb(kVideoWell, 0), 0, kFade));
    c.fill(rect(kVideoW - kFade, 0, kFade, kVideoH),
           horizontalGradient(rgb(kVideoWell, 0), rgb(kVideoWell), kVideoW - kFade, kVideoW));
    return c;
}

Canvas drawLogo(const Canvas& background)
{
    Canvas c = background.crop(kLogoX, kLogoY, kLogoW, kLogoH);
    c.fill(translate(roundRect(4, 4, 24, 24, 6), 0, 1), solid(rgb(0x000000, 0.5f)), 2);
    c.fill(roundRect(4, 4, 24, 24, 6), verticalGradient(rgb(0x44DCDC), rgb(kAccentDeep), 4, 28));
    c.fill(convexPolygon({{13, 10}, {13, 22}, {22.5f, 16}}, 1), solid(rgb(0xFFFFFF)));
    const TextStyle style{16, 2.2f, 0.1f};
    c.fill(textShape("Trevolo", 36, 23, style),
           verticalGradient(rgb(0xF2F5F7), rgb(0xBCC5CE), 7, 23));
    return c;
}

Canvas drawVolumeIcon(const Canvas& background)
{
    Canvas c = background.crop(kVolIconX, kVolIconY, kVolIconW, kVolIconH);
    const float cy = kVolumeY - kVolIconY + kVolumeH / 2.0f;
    const Paint ink = solid(rgb(kInkDim));
    c.fill(convexPolygon({{1.5f, cy - 2.5f}, {4.5f, cy - 2.5f}, {9, cy - 6.5f}, {9, cy + 6.5f},
                          {4.5f, cy + 2.5f}, {1.5f, cy + 2.5f}}, 0.4f),
           ink);
    c.fill(stroke(arcPoints(9, cy, 3.5f, 3.5f, -50, 50), 1.3f), ink);
    c.fill(stroke(arcPoints(9, cy, 7, 7, -50, 50), 1.3f), solid(rgb(kInkDim, 0.7f)));
    return c;
}

// A slider channel: the window background under the slider with a rounded
// track across it, grey when unfilled and accent when filled.
Canvas drawChannel(const Canvas& background, int x, int y, int w, int h, int fullW,
                   float trackH, bool filled)
{
    Canvas c = background.crop(x, y, w, h);
    const float inset = 2 + trackH / 2, ty = (h - trackH) / 2;
    const Sdf track = roundRect(inset, ty, fullW - 2 * inset, trackH, trackH / 2);
    c.fill(translate(track, 0, -0.5f), solid(rgb(0x000000, 0.55f)), 1.5f);
    if (!filled) {
        c.fill(track, solid(rgb(kTrack)));
        return c;
    }
    c.fill(track, solid(rgb(kAccent, 0.35f)), 3.0f);
    c.fill(track, horizontalGradient(rgb(kAccentDeep), rgb(kAccentBright), 0,
                                     static_cast<float>(fullW)));
    return c;
}

// A round thumb composited over a piece of its channel; pixels the thumb does
// not touch get the key colour so the slider draws them transparent.
Canvas drawThumb(const Canvas& channel, int size)
{
    const float c0 = size / 2.0f, r = size * 0.36f;
    Canvas shape(size, size);
    shape.fill(translate(circle(c0, c0, r), 0, 0.5f), solid(rgb(0x000000, 0.7f)), 1.5f);
    shape.fill(circle(c0, c0, r), verticalGradient(rgb(0xF7F9FA), rgb(0xBFC8D0), c0 - r, c0 + r));
    shape.fill(circle(c0, c0, r * 0.32f), solid(rgb(kAccent)));
    Canvas out = channel.crop(channel.width() / 2, 0, size, size);
    out.draw(shape, 0, 0);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            if (shape.pixel(x, y).a < 0.5f / 255) out.setPixel(x, y, rgb(kThumbKey));
    return out;
}

Canvas drawIcon(int size)
{
    Canvas c(size, size);
    const float s = size / 32.0f;
    c.fill(roundRect(1 * s, 1 * s, 30 * s, 30 * s, 7 * s),
           verticalGradient(rgb(0x44DCDC), rgb(kAccentDeep), 1 * s, 31 * s));
    c.fill(convexPolygon({{12 * s, 9 * s}, {12 * s, 23 * s}, {24 * s, 16 * s}}, 1.2f * s),
           solid(rgb(0xFFFFFF)));
    return c;
}

}  // namespace

std::string SkinImage::file() const
{
    return (id ? std::to_string(id) + "_" : std::string()) + role + ".png";
}

namespace {

struct ButtonIds {
    const char* role;
    unsigned standard, alternate;
};

// Resource ids of the seven buttons' standard and alternate images.
constexpr ButtonIds kCaptureIds{"btn_capture", 156, 157};
constexpr ButtonIds kPauseIds{"btn_pause", 132, 142};
constexpr ButtonIds kPlayIds{"btn_play", 133, 139};
constexpr ButtonIds kStopIds{"btn_stop", 131, 143};
constexpr ButtonIds kMiniIds{"btn_mini", 135, 141};
constexpr ButtonIds kCloseIds{"btn_close", 134, 140};
constexpr ButtonIds kOpenIds{"btn_openfile", 144, 145};

void addButton(std::vector<SkinImage>& out, const ButtonIds& ids, Canvas standard, Canvas alt)
{
    out.push_back({ids.role, ids.standard, std::move(standard), true});
    out.push_back({std::string(ids.role) + "_alt", ids.alternate, std::move(alt), true});
}

void addBitmaps(std::vector<SkinImage>& out)
{
    const Canvas bg = drawBackground();
    const Canvas progress =
        drawChannel(bg, kProgressX, kProgressY, kProgressW, kProgressH, kProgressW, 4, false);
    const Canvas volume =
        drawChannel(bg, kVolumeX, kVolumeY, kVolumeW, kVolumeH, kVolumeW, 3, false);
    out.push_back({"idle", 130, drawIdle(), false});
    out.push_back({"background", 137, bg, false});
    out.push_back({"logo", 149, drawLogo(bg), false});
    out.push_back({"volume_channel", 151, volume, false});
    out.push_back({"volume_channel_filled", 163,
                   drawChannel(bg, kVolumeX, kVolumeY, kVolumeW, kVolumeH, kVolumeW, 3, true),
                   false});
    out.push_back({"volume_thumb", 164, drawThumb(volume, kVolumeThumb), false});
    out.push_back({"progress_channel", 160, progress, false});
    out.push_back({"progress_channel_filled", 161,
                   drawChannel(bg, kProgressX, kProgressY, kProgressFilledW, kProgressH,
                               kProgressW, 4, true),
                   false});
    out.push_back({"progress_thumb", 162, drawThumb(progress, kProgressThumb), false});
    out.push_back({"volume_icon", 165, drawVolumeIcon(bg), false});
}

}  // namespace

std::vector<SkinImage> drawSkin()
{
    std::vector<SkinImage> out;
    addBitmaps(out);
    addButton(out, kCaptureIds, drawTransportButton(captureGlyph(), false),
              drawTransportButton(captureGlyph(), true));
    addButton(out, kPauseIds, drawTransportButton(pauseGlyph(), false),
              drawTransportButton(pauseGlyph(), true));
    addButton(out, kPlayIds, drawTransportButton(playGlyph(), false),
              drawTransportButton(playGlyph(), true));
    addButton(out, kStopIds, drawTransportButton(stopGlyph(), false),
              drawTransportButton(stopGlyph(), true));
    addButton(out, kMiniIds, drawMiniButton(false), drawMiniButton(true));
    addButton(out, kCloseIds, drawCloseButton(false), drawCloseButton(true));
    addButton(out, kOpenIds, drawOpenButton(false), drawOpenButton(true));
    out.push_back({"icon", 128, drawIcon(32), true});
    out.push_back({"icon_16", 0, drawIcon(16), true});
    return out;
}

std::vector<SkinImage> drawAppIcons()
{
    std::vector<SkinImage> out;
    for (const int size : kAppIconSizes)
        out.push_back({"trevolo_" + std::to_string(size), 0, drawIcon(size), true});
    return out;
}

}  // namespace trevolo::skin
