// skin_gen: draws the player's skin images into a folder.
//
//   skin_gen [OUTDIR] [--preview FILE] [--icons ICONDIR]
//
// Every image is drawn from code, so the same program always writes the same
// bytes. --preview also writes a picture of the whole window built from them;
// --icons writes the application icon at the desktop's sizes into ICONDIR.
#include "tools/skin_gen/skin_art.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

constexpr const char* kUsage = "usage: skin_gen [OUTDIR] [--preview FILE] [--icons ICONDIR]";

int fail(const std::string& message)
{
    std::fprintf(stderr, "skin_gen: %s\n", message.c_str());
    return 1;
}

// Writes the images into dir, creating it first. Returns false with a reason.
bool writeAll(const std::vector<trevolo::skin::SkinImage>& images, const std::string& dir,
              std::string& error)
{
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        error = "cannot create " + dir + ": " + ec.message();
        return false;
    }
    for (const trevolo::skin::SkinImage& image : images)
        if (!writePng(image.canvas, image.alpha, dir + "/" + image.file(), error)) return false;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace trevolo::skin;
    std::string outDir, preview, iconDir;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--preview" && i + 1 < argc) preview = argv[++i];
        else if (arg == "--icons" && i + 1 < argc) iconDir = argv[++i];
        else if (!arg.empty() && arg[0] != '-' && outDir.empty()) outDir = arg;
        else return fail(kUsage);
    }
    // The preview is built from the skin images, so it needs OUTDIR too.
    if (outDir.empty() && (iconDir.empty() || !preview.empty())) return fail(kUsage);
    std::string error;
    if (!outDir.empty()) {
        const std::vector<SkinImage> images = drawSkin();
        if (!writeAll(images, outDir, error)) return fail(error);
        if (!preview.empty() && !writePng(composePreview(images), false, preview, error))
            return fail(error);
    }
    if (!iconDir.empty() && !writeAll(drawAppIcons(), iconDir, error)) return fail(error);
    return 0;
}
