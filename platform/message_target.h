// Where posted window messages go. The media callbacks and the engine's
// threads never touch a window: they post (message, wParam, lParam) to a
// target, and the window handles it later on its UI thread. Tests use a
// target that records what was posted.
#pragma once

#include <cstdint>

namespace trevolo::platform {

class MessageTarget {
 public:
  virtual ~MessageTarget() = default;
  // Queues the message for the UI thread; safe from any thread. False when
  // the target can take no more (the message is lost).
  virtual bool post(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

}  // namespace trevolo::platform
