// skin_gen: draws the player's skin images into a folder.
//
//   skin_gen OUTDIR [--preview FILE]
//
// Every image is drawn from code, so the same program always writes the same
// bytes. --preview also writes a picture of the whole window built from them.
#include "tools/skin_gen/skin_art.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

int fail(const std::string& message)
{
    std::fprintf(stderr, "skin_gen: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace trevolo::skin;
    std::string outDir, preview;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--preview" && i + 1 < argc) preview = argv[++i];
        else if (!arg.empty() && arg[0] != '-' && outDir.empty()) outDir = arg;
        else return fail("usage: skin_gen OUTDIR [--preview FILE]");
    }
    if (outDir.empty()) return fail("usage: skin_gen OUTDIR [--preview FILE]");
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (ec) return fail("cannot create " + outDir + ": " + ec.message());
    const std::vector<SkinImage> images = drawSkin();
    std::string error;
    for (const SkinImage& image : images)
        if (!writePng(image.canvas, image.alpha, outDir + "/" + image.file(), error))
            return fail(error);
    if (!preview.empty() && !writePng(composePreview(images), false, preview, error))
        return fail(error);
    return 0;
}
