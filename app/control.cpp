#include "app/control.h"

namespace trevolo::app {

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

bool ButtonControl::onKeyDown(Key key) {
  if (key != Key::Space) return false;
  m_button.onKeyDown(controls::kKeySpace);
  return true;
}

void ButtonControl::onKeyUp(Key key) {
  if (key == Key::Space) m_button.onKeyUp(controls::kKeySpace);
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

bool SliderControl::onKeyDown(Key key) { return m_slider.onKeyDown(sliderKeyFor(key)); }

int sliderKeyFor(Key key) {
  switch (key) {
    case Key::PageUp: return controls::kKeyPageUp;
    case Key::PageDown: return controls::kKeyPageDown;
    case Key::End: return controls::kKeyEnd;
    case Key::Home: return controls::kKeyHome;
    case Key::Left: return controls::kKeyLeft;
    case Key::Up: return controls::kKeyUp;
    case Key::Right: return controls::kKeyRight;
    case Key::Down: return controls::kKeyDown;
    default: return controls::kKeyOther;
  }
}

}  // namespace trevolo::app
