// CBitmapSlider: a slider drawn entirely from skin bitmaps. The channel is
// drawn in two pieces split at the thumb centre (filled on the minimum side,
// unfilled on the maximum side) and the thumb is drawn with the colour of
// its top-left pixel transparent. The owner learns of user changes only
// through WM_SLIDER_MOVING (while dragging) and WM_SLIDER_MOVED (drag end or
// navigation key), posted with the control id and the position; program
// changes through SetPos post nothing.
#pragma once

#include <cstdint>

#include "controls/canvas.h"
#include "controls/image.h"
#include "controls/slider_range.h"
#include "base/messages.h"

namespace trevolo::controls {

// Keys the slider understands; the window framework maps its own codes.
enum SliderKey : int {
  kKeyOther = 0,
  kKeyPageUp,
  kKeyPageDown,
  kKeyEnd,
  kKeyHome,
  kKeyLeft,
  kKeyUp,
  kKeyRight,
  kKeyDown,
};

// The thumb's travel along one axis (x for a horizontal slider, y for a
// vertical one). Pixels are thumb-centre coordinates.
struct SliderTrack {
  int length = 0;       // control width (height)
  int thumbLength = 0;  // thumb width (height)
  int marginLow = 0;    // left (top) margin
  int marginHigh = 0;   // right (bottom) margin
  bool vertical = false;

  int travel() const { return length - marginLow - marginHigh - thumbLength; }
  // Thumb centre for a position. A range without span, or a position below
  // it, puts the thumb at the minimum end.
  int positionToPixel(const SliderRange& range, int position) const;
  // Position under a thumb centre, not clamped to the range.
  int64_t pixelToPosition(const SliderRange& range, int pixel) const;
  // Where a dragged thumb centre may go.
  int clampPixel(int pixel) const;
};

class CBitmapSlider {
 public:
  // `parent` receives the notifications (may be null); `controlId` is
  // their first parameter.
  CBitmapSlider(MessageTarget* parent, int controlId);

  // Unfilled and filled channel pieces. 0 when either is empty (any
  // previous channel is dropped either way); on success the control takes
  // the unfilled piece's size.
  int SetChannelBitmaps(const Image& unfilled, const Image& filled);
  // Thumb image; its top-left pixel's colour is transparent. An empty
  // image changes nothing.
  void SetThumbBitmap(const Image& thumb);
  void SetRange(int minimum, int maximum);
  void SetPos(int position);
  int GetPos() const { return m_range.position(); }
  void SetPageSize(int size) { m_range.setPageSize(size); }
  void SetMargins(int left, int top, int right, int bottom);
  void SetVertical(bool vertical);
  void ShowFocusRect(bool show);
  void EnableSlider(bool enable);

  // Input from the window framework, in control coordinates.
  void onLButtonDown(int x, int y);
  void onMouseMove(int x, int y);
  void onLButtonUp(int x, int y);
  // True when the key was consumed (a navigation key, or any key while
  // disabled); false lets the framework handle it.
  bool onKeyDown(int key);
  void onSetFocus();
  void onKillFocus();
  // Whether the control takes every key, Tab included (the framework asks
  // with Tab's state so Tab still moves the focus).
  bool wantsAllKeys(bool tabDown) const { return !tabDown; }

  // Composes the whole control into `canvas`, whose logical coordinates are
  // the control's own, and clears needsPaint().
  void paint(Canvas& canvas);

  const SliderRange& range() const { return m_range; }
  Size size() const { return Size{m_width, m_height}; }
  Rect clientRect() const { return m_clientRect; }
  bool isEnabled() const { return m_enabled; }
  bool isDragging() const { return m_dragging; }
  bool hasFocus() const { return m_hasFocus; }
  // The framework routes all mouse input here while this is set.
  bool hasCapture() const { return m_capture; }
  bool needsPaint() const { return m_needsPaint; }
  int dragOffset() const { return m_dragOffset; }
  // Thumb centre of the current position along the travel axis.
  int thumbCentre() const;

 private:
  SliderTrack track() const;
  void invalidate() { m_needsPaint = true; }
  void post(uint32_t message);
  void paintChannel(Canvas& dc, int centre);
  void paintThumb(Canvas& dc, int centre);

  MessageTarget* m_parent;
  int m_controlId;
  SliderRange m_range;
  Rect m_clientRect;
  int m_width = 0;
  int m_height = 0;
  int m_thumbWidth = 0;
  int m_thumbHeight = 0;
  int m_marginLeft = 0;
  int m_marginRight = 0;
  int m_marginTop = 0;
  int m_marginBottom = 0;
  Point m_savedThumbAt{-1, -1};  // where m_savedBackground came from; x -1 = nothing saved
  int m_dragOffset = 0;          // pointer minus thumb centre at the grab
  bool m_vertical = false;
  bool m_channelLoaded = false;
  bool m_thumbLoaded = false;
  bool m_dragging = false;
  bool m_capture = false;
  bool m_hasFocus = false;
  bool m_focusRectDrawn = false;
  bool m_showFocusRect = true;
  bool m_enabled = true;
  bool m_needsPaint = true;

  Image m_channel;         // unfilled piece
  Image m_channelFilled;   // filled piece
  Image m_thumb;           // transparent pixels turned black
  Mask m_thumbMask;        // set where the thumb is transparent
  Canvas m_savedBackground;
};

}  // namespace trevolo::controls
