#include "platform/control.h"

#include <SDL.h>

namespace trevolo::platform {

void PictureControl::paint(Canvas& canvas, const GlyphSource&) {
  const Rect r = rect();
  canvas.copy(r.left, r.top, r.width(), r.height(), m_image, 0, 0);
}

LabelControl::LabelControl(int id, std::unique_ptr<controls::CLabel> label)
    : Control(id), m_label(std::move(label)) {}

void LabelControl::move(const Rect& rect) {
  Control::move(rect);
  m_label->setRect(rect);
}

void LabelControl::show(bool visible) {
  Control::show(visible);
  m_label->setVisible(visible);
}

void LabelControl::setText(const std::string& utf8) {
  Control::setText(utf8);
  m_label->setWindowText(utf8);
}

void LabelControl::paint(Canvas& canvas, const GlyphSource& font) { m_label->paint(canvas, font); }

ButtonControl::ButtonControl(int id, MessageTarget* owner) : Control(id), m_button(id, owner) {}

void ButtonControl::move(const Rect& rect) {
  Control::move(rect);
  m_button.setRect(rect);
}

void ButtonControl::enable(bool enabled) {
  Control::enable(enabled);
  m_button.setEnabled(enabled);
}

void ButtonControl::paint(Canvas& canvas, const GlyphSource&) {
  // The first paint hands the button the pixels under it for its snapshots.
  m_button.onCtlColor(canvas);
  m_button.drawItem(canvas);
}

bool ButtonControl::onKeyDown(int key) {
  if (key != SDLK_SPACE) return false;
  m_button.onKeyDown(controls::kKeySpace);
  return true;
}

void ButtonControl::onKeyUp(int key) {
  if (key == SDLK_SPACE) m_button.onKeyUp(controls::kKeySpace);
}

void SliderControl::enable(bool enabled) {
  Control::enable(enabled);
  m_slider.EnableSlider(enabled);
}

void SliderControl::paint(Canvas& canvas, const GlyphSource&) {
  // The slider draws in its own coordinates: shift the canvas' origin so
  // its (0, 0) lands on the control's corner, and clip to the control.
  const Rect r = rect();
  const Point savedOrigin = canvas.origin();
  const auto savedClip = canvas.clipRect();
  canvas.setOrigin(Point{savedOrigin.x - r.left, savedOrigin.y - r.top});
  canvas.setClipRect(Rect{0, 0, r.width(), r.height()});
  m_slider.paint(canvas);
  canvas.setOrigin(savedOrigin);
  if (savedClip) {
    canvas.setClipRect(*savedClip);
  } else {
    canvas.clearClipRect();
  }
}

bool SliderControl::onKeyDown(int key) { return m_slider.onKeyDown(sliderKeyFor(key)); }

int sliderKeyFor(int sdlKey) {
  switch (sdlKey) {
    case SDLK_PAGEUP: return controls::kKeyPageUp;
    case SDLK_PAGEDOWN: return controls::kKeyPageDown;
    case SDLK_END: return controls::kKeyEnd;
    case SDLK_HOME: return controls::kKeyHome;
    case SDLK_LEFT: return controls::kKeyLeft;
    case SDLK_UP: return controls::kKeyUp;
    case SDLK_RIGHT: return controls::kKeyRight;
    case SDLK_DOWN: return controls::kKeyDown;
    default: return controls::kKeyOther;
  }
}

}  // namespace trevolo::platform
