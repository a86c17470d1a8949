// A child control of the main window (DialogWindow): an identifier, a rectangle in the
// window's client coordinates, visibility, an enabled state and text. The
// window paints the controls in Z order (the order they were added) and
// routes mouse and keyboard input to them through the virtual handlers;
// the adapters below connect the skin's controls to that interface.
#pragma once

#include <memory>
#include <string>

#include "controls/bitmap_slider.h"
#include "controls/canvas.h"
#include "controls/gdip_button.h"
#include "controls/glyphs.h"
#include "controls/image.h"
#include "controls/labels.h"
#include "platform/window.h"

namespace trevolo::app {

using controls::Canvas;
using controls::GlyphSource;
using platform::Key;

class Control {
 public:
  explicit Control(int id) : m_id(id) {}
  virtual ~Control() = default;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  int id() const { return m_id; }
  const Rect& rect() const { return m_rect; }
  virtual void move(const Rect& rect) { m_rect = rect; }
  bool visible() const { return m_visible; }
  virtual void show(bool visible) { m_visible = visible; }
  bool enabled() const { return m_enabled; }
  virtual void enable(bool enabled) { m_enabled = enabled; }
  const std::string& text() const { return m_text; }
  virtual void setText(const std::string& utf8) { m_text = utf8; }

  // Whether Tab may give this control the keyboard focus.
  virtual bool tabStop() const { return false; }
  // Whether the control takes mouse input at all (static pictures do not).
  virtual bool interactive() const { return false; }

  // Draws the control into the window canvas (client coordinates).
  virtual void paint(Canvas& canvas, const GlyphSource& font) = 0;

  // Mouse input in the control's own coordinates.
  virtual void onMouseMove(Point) {}
  virtual void onMouseLeave() {}
  virtual void onLButtonDown(Point) {}
  virtual void onLButtonUp(Point) {}
  virtual void onLButtonDblClk(Point p) { onLButtonDown(p); }
  // True when the key was consumed.
  virtual bool onKeyDown(Key) { return false; }
  virtual void onKeyUp(Key) {}
  virtual void onSetFocus() {}
  virtual void onKillFocus() {}
  // The dialog-code rule: a control that wants all keys sees Enter,
  // Escape and the arrows before the window does.
  virtual bool wantsAllKeys(bool /*tabDown*/) const { return false; }
  // While true, every mouse event goes to this control.
  virtual bool hasCapture() const { return false; }

 private:
  int m_id;
  Rect m_rect;
  bool m_visible = true;
  bool m_enabled = true;
  std::string m_text;
};

// A static picture (the logo, the volume icon, the idle video area).
class PictureControl : public Control {
 public:
  PictureControl(int id, controls::Image image) : Control(id), m_image(std::move(image)) {}
  void setImage(controls::Image image) { m_image = std::move(image); }
  const controls::Image& image() const { return m_image; }
  void paint(Canvas& canvas, const GlyphSource& font) override;

 private:
  controls::Image m_image;
};

// A text label (CCaptureTip, CCurrFileName, CShowTimes).
class LabelControl : public Control {
 public:
  LabelControl(int id, std::unique_ptr<controls::CLabel> label);
  void move(const Rect& rect) override;
  void show(bool visible) override;
  void setText(const std::string& utf8) override;
  void paint(Canvas& canvas, const GlyphSource& font) override;
  controls::CLabel& label() { return *m_label; }

 private:
  std::unique_ptr<controls::CLabel> m_label;
};

// An image button.
class ButtonControl : public Control {
 public:
  ButtonControl(int id, MessageTarget* owner);
  controls::CGdipButton& button() { return m_button; }
  void move(const Rect& rect) override;
  void enable(bool enabled) override;
  bool tabStop() const override { return true; }
  bool interactive() const override { return true; }
  void paint(Canvas& canvas, const GlyphSource& font) override;
  void onMouseMove(Point p) override { m_button.onMouseMove(p); }
  void onMouseLeave() override { m_button.onMouseLeave(); }
  void onLButtonDown(Point p) override { m_button.onLButtonDown(p); }
  void onLButtonUp(Point p) override { m_button.onLButtonUp(p); }
  void onLButtonDblClk(Point p) override { m_button.onLButtonDblClk(p); }
  bool onKeyDown(Key key) override;
  void onKeyUp(Key key) override;
  void onSetFocus() override { m_button.onSetFocus(); }
  void onKillFocus() override { m_button.onKillFocus(); }
  bool hasCapture() const override { return m_button.hasCapture(); }

 private:
  controls::CGdipButton m_button;
};

// A bitmap slider.
class SliderControl : public Control {
 public:
  SliderControl(int id, MessageTarget* owner) : Control(id), m_slider(owner, id) {}
  controls::CBitmapSlider& slider() { return m_slider; }
  void enable(bool enabled) override;
  bool tabStop() const override { return true; }
  bool interactive() const override { return true; }
  void paint(Canvas& canvas, const GlyphSource& font) override;
  void onMouseMove(Point p) override { m_slider.onMouseMove(p.x, p.y); }
  void onLButtonDown(Point p) override { m_slider.onLButtonDown(p.x, p.y); }
  void onLButtonUp(Point p) override { m_slider.onLButtonUp(p.x, p.y); }
  bool onKeyDown(Key key) override;
  void onSetFocus() override { m_slider.onSetFocus(); }
  void onKillFocus() override { m_slider.onKillFocus(); }
  bool wantsAllKeys(bool tabDown) const override { return m_slider.wantsAllKeys(tabDown); }
  bool hasCapture() const override { return m_slider.hasCapture(); }

 private:
  controls::CBitmapSlider m_slider;
};

// Maps a window key to the slider's key set.
int sliderKeyFor(Key key);

}  // namespace trevolo::app
