#include "tools/skin_gen/skin_art.h"
#include "tools/skin_gen/skin_parts.h"

#include <stdexcept>

namespace trevolo::skin {

namespace {

constexpr int kStripH = 64;  // the strip of alternate looks under the window
constexpr float kProgressShown = 0.38f;
constexpr float kVolumeShown = 0.7f;

const Canvas& find(const std::vector<SkinImage>& images, std::string role)
{
    if (role.ends_with(".png")) role.resize(role.size() - 4);
    for (const SkinImage& image : images)
        if (image.role == role) return image.canvas;
    throw std::logic_error("skin image missing: " + role);
}

// Copies the thumb's pixels except those of its key colour, as the slider does.
void drawKeyed(Canvas& dst, const Canvas& thumb, int x, int y)
{
    const Color key = thumb.pixel(0, 0);
    for (int ty = 0; ty < thumb.height(); ++ty)
        for (int tx = 0; tx < thumb.width(); ++tx) {
            const Color p = thumb.pixel(tx, ty);
            if (p.r != key.r || p.g != key.g || p.b != key.b) dst.setPixel(x + tx, y + ty, p);
        }
}

// A slider at a fraction of its travel: filled piece up to the thumb centre,
// unfilled piece beyond, thumb on top.
void drawSlider(Canvas& dst, const std::vector<SkinImage>& images, const std::string& prefix,
                int x, int y, float fraction)
{
    const Canvas& unfilled = find(images, prefix + "_channel.png");
    const Canvas& filled = find(images, prefix + "_channel_filled.png");
    const Canvas& thumb = find(images, prefix + "_thumb.png");
    const int centre =
        static_cast<int>(fraction * (unfilled.width() - thumb.width())) + thumb.width() / 2;
    dst.draw(unfilled, x, y);
    dst.draw(filled.crop(0, 0, centre, filled.height()), x, y);
    drawKeyed(dst, thumb, x + centre - thumb.width() / 2, y);
}

void drawTransport(Canvas& dst, const std::vector<SkinImage>& images, const std::string& suffix,
                   int y)
{
    const char* transport[] = {"capture", "pause", "play", "stop"};
    for (int i = 0; i < 4; ++i)
        dst.draw(find(images, std::string("btn_") + transport[i] + suffix + ".png"),
                 kTransportX[i], y);
}

}  // namespace

Canvas composePreview(const std::vector<SkinImage>& images)
{
    Canvas out(kWindowW, kWindowH + kStripH, rgb(0x3A3F45));
    out.draw(find(images, "background.png"), 0, 0);
    out.draw(find(images, "idle.png"), kVideoX, kVideoY);
    out.draw(find(images, "logo.png"), kLogoX, kLogoY);
    out.draw(find(images, "volume_icon.png"), kVolIconX, kVolIconY);
    drawSlider(out, images, "progress", kProgressX, kProgressY, kProgressShown);
    drawSlider(out, images, "volume", kVolumeX, kVolumeY, kVolumeShown);
    drawTransport(out, images, "", kTransportY);
    out.draw(find(images, "btn_mini.png"), kMiniX, kSmallY);
    out.draw(find(images, "btn_close.png"), kCloseX, kSmallY);
    out.draw(find(images, "btn_openfile.png"), kOpenX, kOpenY);
    // Strip: the alternate looks at the same x, the open button and the icons.
    out.fill(rect(0, kWindowH, kWindowW, kStripH), solid(rgb(0x0E1013)));
    drawTransport(out, images, "_alt", kWindowH + (kStripH - kTransportH) / 2);
    out.draw(find(images, "btn_mini_alt.png"), kMiniX, kWindowH + 20);
    out.draw(find(images, "btn_close_alt.png"), kCloseX, kWindowH + 20);
    out.draw(find(images, "btn_openfile_alt.png"), 40, kWindowH + 8);
    out.draw(find(images, "icon.png"), 180, kWindowH + 16);
    out.draw(find(images, "icon_16.png"), 224, kWindowH + 24);
    return out;
}

}  // namespace trevolo::skin
