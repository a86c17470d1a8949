// Builds without a display: pictures are decoded and counted, never shown.
#include "video/media_callbacks.h"

void PresentPicture(const uint8_t*) {}
