// CGdipButton: a push button drawn from two PNG images with alpha (the
// standard and the alternate image) over the parent's pixels under it.
// On the parent's first colour request the button renders, once, a set of
// snapshots (normal, pressed, highlighted, greyed) and from then on paints
// by copying the snapshot that fits its state. Input arrives as plain
// handler calls from the window framework; a click is posted to the owner
// as WM_COMMAND with BN_CLICKED and the control id.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "controls/bitmap_resource.h"
#include "controls/canvas.h"
#include "controls/image.h"
#include "controls/resource_registry.h"
#include "base/messages.h"

namespace trevolo::controls {

// Key code of the space bar, the key that presses a focused button.
inline constexpr int kKeySpace = 0x20;

enum class Snapshot {
  None,
  StdNormal,
  StdPressed,
  StdGreyed,
  AltNormal,
  AltPressed,
  AltHighlighted,
};

// What the choice of snapshot depends on.
struct ButtonLook {
  bool disabledLook = false;
  bool selected = false;  // drawn pressed
  bool toggled = false;
  bool hover = false;
  bool hasAltImage = false;
};

// The snapshot a button in this state shows. A button without an
// alternate image has no highlighted snapshot and shows its standard
// normal one while hovered.
Snapshot chooseSnapshot(const ButtonLook& look);

class CGdipButton {
 public:
  // `owner` receives the click commands and must outlive the button (null:
  // clicks go nowhere). Images are looked up in `registry`.
  CGdipButton(int controlId, MessageTarget* owner,
              const ResourceRegistry& registry = ResourceRegistry::global());
  CGdipButton(const CGdipButton&) = delete;
  CGdipButton& operator=(const CGdipButton&) = delete;

  int controlId() const { return m_controlId; }
  // Place and size in the parent's client coordinates. Snapshots are made
  // at the size the button has when they are made, and never remade.
  void setRect(const Rect& inParent);
  Rect rect() const { return m_rect; }

  // Load the standard / alternate PNG resource; false when it cannot be read.
  bool LoadStdImage(uint32_t resourceId);
  bool LoadAltImage(uint32_t resourceId);
  // With an alternate image: each press flips between the standard and
  // the alternate pressed look.
  void EnableToggle();
  // Paints the greyed snapshot whatever the input. Only a look: clicks
  // are still posted.
  void SetDisabledLook(bool disabledLook);
  bool disabledLook() const { return m_disabledLook; }

  // The parent's colour request: makes the snapshots from the parent's
  // pixels under the button, the first time only.
  void onCtlColor(const Canvas& parent);
  // Copies the snapshot of the current state to `target` at the button's
  // rectangle. Paints nothing before the snapshots exist.
  void drawItem(Canvas& target);

  // Mouse input in the button's client coordinates. The framework calls
  // onMouseMove while the pointer is over the button or while the button
  // holds the capture after a press, and onMouseLeave when it leaves.
  void onMouseMove(Point client);
  void onMouseLeave();
  void onLButtonDown(Point client);
  void onLButtonUp(Point client);
  // A double click is a second press, so quick clicks are all counted.
  void onLButtonDblClk(Point client);
  // Space presses a focused button; releasing it clicks.
  void onKeyDown(int key);
  void onKeyUp(int key);
  void onSetFocus();
  void onKillFocus();
  // A window-level disabled button takes no input and drops a press.
  void setEnabled(bool enabled);

  bool isEnabled() const { return m_enabled; }
  bool hasFocus() const { return m_focused; }
  bool hasCapture() const { return m_captured; }
  bool isSelected() const;
  bool isHover() const { return m_hover; }
  bool isToggled() const { return m_toggled; }
  bool toggleMode() const { return m_toggleMode; }
  bool snapshotsMade() const { return m_snapshotsMade; }
  bool hasStdImage() const { return m_stdImage != nullptr; }
  bool hasAltImage() const { return m_hasAltImage; }
  // True when the look may have changed since the last drawItem.
  bool needsRepaint() const { return m_dirty; }
  // The snapshot last painted (or chosen by EnableToggle).
  Snapshot currentSnapshot() const { return m_current; }
  // One snapshot's pixels; empty until made.
  const Image& snapshot(Snapshot which) const;
  const Image& background() const { return m_background; }

 private:
  void makeStdSnapshots();
  void makeAltSnapshots();
  Image compose(const Image& picture, Point at, const ColorMatrix* matrix, Size matrixSize) const;
  void setSelected(bool selected);
  void releasePress(bool click);
  void postClick();
  void invalidate() { m_dirty = true; }

  static constexpr size_t kSnapshotCount = 7;

  int m_controlId = 0;
  MessageTarget* m_owner = nullptr;  // not owned
  const ResourceRegistry* m_registry = nullptr;  // not owned
  Rect m_rect;                                   // in the parent's client coordinates

  bool m_hasAltImage = false;
  bool m_snapshotsMade = false;  // set once, never cleared
  bool m_disabledLook = false;
  bool m_toggleMode = false;
  bool m_hover = false;
  bool m_tracking = false;  // hover and leave are being watched
  bool m_toggled = false;
  std::unique_ptr<CGdiPlusBitmapResource> m_altImage;
  std::unique_ptr<CGdiPlusBitmapResource> m_stdImage;
  Image m_background;  // the parent's pixels under the button
  std::array<Image, kSnapshotCount> m_snapshots;  // indexed by Snapshot
  Snapshot m_current = Snapshot::None;

  // Press state of the push button itself.
  bool m_enabled = true;
  bool m_focused = false;
  bool m_captured = false;       // a left-button press is in progress
  bool m_pointerInside = false;  // while captured: the pointer is over the button
  bool m_spaceDown = false;      // a space-bar press is in progress
  bool m_selected = false;       // drawn pressed
  bool m_dirty = true;
};

}  // namespace trevolo::controls
