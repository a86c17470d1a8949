// Source format codes of the renderer: the surface each one asks for and the
// row copy that fills it. Pure functions, independent of any display.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/display_surface.h"

// Plane pointers and row strides (bytes) of a source picture.
struct RenderPlanes {
  const uint8_t* plane[3] = {nullptr, nullptr, nullptr};
  uint32_t stride[3] = {0, 0, 0};
};

// Copies a picture into surface memory of `pitch` bytes per row; `width` and
// `height` are the surface's, in pixels. A null plane is skipped.
using RowCopyFn = void (*)(uint8_t* surface, const RenderPlanes& planes, uint32_t width,
                           uint32_t height, int32_t pitch);

struct SurfaceDescription {
  trevolo::platform::SurfaceFormat format = trevolo::platform::SurfaceFormat::YV12;
  uint32_t width = 0;
  uint32_t height = 0;
  RowCopyFn convert = nullptr;
};

constexpr int kHighestFormatCode = 12;

// The surface a format code asks for; nothing for code 6 and codes outside
// 0 to 12.
std::optional<SurfaceDescription> describeSurface(int formatCode, uint32_t width,
                                                  uint32_t height);

// Planes and strides of a source picture of the given format code and width.
RenderPlanes renderPlanes(int formatCode, uint32_t width, const uint8_t* const plane[3]);

void copyYv12(uint8_t* surface, const RenderPlanes& planes, uint32_t width, uint32_t height,
              int32_t pitch);
void copyI420(uint8_t* surface, const RenderPlanes& planes, uint32_t width, uint32_t height,
              int32_t pitch);
void copyNv12(uint8_t* surface, const RenderPlanes& planes, uint32_t width, uint32_t height,
              int32_t pitch);
void copyPlain16(uint8_t* surface, const RenderPlanes& planes, uint32_t width,
                 uint32_t height, int32_t pitch);
void copyPlain8(uint8_t* surface, const RenderPlanes& planes, uint32_t width, uint32_t height,
                int32_t pitch);
void swap555(uint8_t* surface, const RenderPlanes& planes, uint32_t width, uint32_t height,
             int32_t pitch);
void swap565(uint8_t* surface, const RenderPlanes& planes, uint32_t width, uint32_t height,
             int32_t pitch);
void expand24To32(uint8_t* surface, const RenderPlanes& planes, uint32_t width,
                  uint32_t height, int32_t pitch);
void copy32(uint8_t* surface, const RenderPlanes& planes, uint32_t width, uint32_t height,
            int32_t pitch);
void swap32(uint8_t* surface, const RenderPlanes& planes, uint32_t width, uint32_t height,
            int32_t pitch);
