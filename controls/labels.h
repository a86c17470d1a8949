// The main window's text labels. Each draws its text in fixed colours with
// opaque character cells and leaves the rest of its rectangle alone, so the
// skin behind it stays visible around the text.
#pragma once

#include <string>
#include <string_view>

#include "controls/canvas.h"
#include "controls/glyphs.h"

namespace trevolo::controls {

// Where the text sits in the label's rectangle (the static control's styles).
enum class TextAlign { Left, Right };

struct LabelColors {
  Color text;
  Color background;  // behind the character cells only
};

class CLabel {
 public:
  explicit CLabel(LabelColors colors) : m_colors(colors) {}
  virtual ~CLabel() = default;

  // Returns false (and leaves the label clean) when the text is unchanged.
  bool setWindowText(std::string_view utf8);
  const std::string& windowText() const { return m_text; }

  // Placement in the parent's coordinates.
  void setRect(const Rect& rect);
  const Rect& rect() const { return m_rect; }
  void setVisible(bool visible);
  bool visible() const { return m_visible; }

  LabelColors colors() const { return m_colors; }

  // Horizontal alignment, and whether the text is centred vertically.
  void setAlignment(TextAlign align, bool centreVertically);

  // True after a change that needs a repaint; paint() clears it.
  bool needsPaint() const { return m_needsPaint; }

  // Draws the text aligned in the rectangle (top-left unless set otherwise),
  // clipped to it, into the parent's canvas. A hidden label draws nothing.
  void paint(Canvas& canvas, const GlyphSource& font);

 private:
  LabelColors m_colors;
  std::string m_text;
  Rect m_rect;
  bool m_visible = true;
  bool m_needsPaint = true;
  TextAlign m_align = TextAlign::Left;
  bool m_centreVertically = false;
};

// The dark skin behind the labels differs by one step in two places.
inline constexpr Color kLabelDarkBackground = rgb(9, 13, 21);
inline constexpr Color kTimesBackground = rgb(8, 13, 19);

// Notice about a saved snapshot: yellow.
class CCaptureTip : public CLabel {
 public:
  CCaptureTip() : CLabel(LabelColors{rgb(255, 255, 0), kLabelDarkBackground}) {}
};

// Name of the file being played: white.
class CCurrFileName : public CLabel {
 public:
  CCurrFileName() : CLabel(LabelColors{rgb(255, 255, 255), kLabelDarkBackground}) {}
};

// Play position and total time, and the version text: white.
class CShowTimes : public CLabel {
 public:
  CShowTimes() : CLabel(LabelColors{rgb(255, 255, 255), kTimesBackground}) {}
};

}  // namespace trevolo::controls
