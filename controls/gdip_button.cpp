#include "controls/gdip_button.h"

namespace trevolo::controls {

Snapshot chooseSnapshot(const ButtonLook& look) {
  if (look.disabledLook) {
    return Snapshot::StdGreyed;
  }
  if (look.selected) {
    return look.toggled ? Snapshot::AltPressed : Snapshot::StdPressed;
  }
  if (look.hover && look.hasAltImage) {
    return Snapshot::AltHighlighted;
  }
  return Snapshot::StdNormal;
}

CGdipButton::CGdipButton(int controlId, MessageTarget* owner,
                         const ResourceRegistry& registry)
    : m_controlId(controlId), m_owner(owner), m_registry(&registry) {}

void CGdipButton::setRect(const Rect& inParent) {
  if (inParent == m_rect) {
    return;
  }
  m_rect = inParent;
  invalidate();
}

bool CGdipButton::LoadStdImage(uint32_t resourceId) {
  m_stdImage = std::make_unique<CGdiPlusBitmapResource>(*m_registry);
  return m_stdImage->Load(resourceId);
}

bool CGdipButton::LoadAltImage(uint32_t resourceId) {
  m_hasAltImage = true;
  m_altImage = std::make_unique<CGdiPlusBitmapResource>(*m_registry);
  return m_altImage->Load(resourceId);
}

void CGdipButton::EnableToggle() {
  if (!m_hasAltImage) {
    return;
  }
  m_toggleMode = true;
  m_current = Snapshot::AltNormal;
}

void CGdipButton::SetDisabledLook(bool disabledLook) {
  if (disabledLook == m_disabledLook) {
    return;
  }
  m_disabledLook = disabledLook;
  invalidate();
}

const Image& CGdipButton::snapshot(Snapshot which) const {
  return m_snapshots[static_cast<size_t>(which)];
}

// The parent's pixels under the button are taken once: the snapshots keep
// the background the parent showed at the first request.
void CGdipButton::onCtlColor(const Canvas& parent) {
  if (m_snapshotsMade || m_stdImage == nullptr || m_rect.empty()) {
    return;
  }
  if (m_background.empty()) {
    Canvas background(m_rect.width(), m_rect.height());
    background.copy(0, 0, m_rect.width(), m_rect.height(), parent, m_rect.left, m_rect.top);
    m_background = std::move(background.image());
  }
  if (snapshot(Snapshot::StdNormal).empty()) {
    makeStdSnapshots();
  }
  if (m_hasAltImage && snapshot(Snapshot::AltNormal).empty()) {
    makeAltSnapshots();
  }
  if (m_current == Snapshot::None) {
    m_current = Snapshot::StdNormal;
  }
  m_snapshotsMade = true;
  invalidate();
}

void CGdipButton::makeStdSnapshots() {
  const Image* picture = m_stdImage->bitmap();
  if (picture == nullptr) {
    return;
  }
  const Size matrixSize = picture->size();
  const ColorMatrix grey = ColorMatrix::grey();
  m_snapshots[static_cast<size_t>(Snapshot::StdNormal)] =
      compose(*picture, Point{0, 0}, nullptr, matrixSize);
  m_snapshots[static_cast<size_t>(Snapshot::StdPressed)] =
      compose(*picture, Point{1, 1}, nullptr, matrixSize);
  m_snapshots[static_cast<size_t>(Snapshot::StdGreyed)] =
      compose(*picture, Point{0, 0}, &grey, matrixSize);
}

// The highlighted draw covers the standard image's size, as the two images
// of a button are meant to be the same size.
void CGdipButton::makeAltSnapshots() {
  const Image* picture = m_altImage ? m_altImage->bitmap() : nullptr;
  if (picture == nullptr) {
    return;
  }
  const Image* standard = m_stdImage->bitmap();
  const Size matrixSize = standard != nullptr ? standard->size() : picture->size();
  const ColorMatrix highlight = ColorMatrix::highlight();
  m_snapshots[static_cast<size_t>(Snapshot::AltNormal)] =
      compose(*picture, Point{0, 0}, nullptr, matrixSize);
  m_snapshots[static_cast<size_t>(Snapshot::AltPressed)] =
      compose(*picture, Point{1, 1}, nullptr, matrixSize);
  m_snapshots[static_cast<size_t>(Snapshot::AltHighlighted)] =
      compose(*picture, Point{0, 0}, &highlight, matrixSize);
}

// One snapshot: the background, then the picture blended over it, either
// at `at` in its natural size or, with a matrix, into (0, 0, size) from
// the same source rectangle. That rectangle is kept inside the picture so
// a smaller alternate image is drawn unscaled instead of stretched.
Image CGdipButton::compose(const Image& picture, Point at, const ColorMatrix* matrix,
                           Size matrixSize) const {
  const int width = m_rect.width();
  const int height = m_rect.height();
  Canvas composition(width, height);
  composition.copy(0, 0, width, height, m_background, 0, 0);
  if (matrix == nullptr) {
    composition.drawImage(at.x, at.y, picture);
  } else {
    const Rect source =
        rectAt(0, 0, matrixSize.width, matrixSize.height).intersect(picture.bounds());
    if (!source.empty()) {
      composition.drawImage(source, picture, source, matrix);
    }
  }
  return std::move(composition.image());
}

void CGdipButton::drawItem(Canvas& target) {
  m_dirty = false;
  if (!m_snapshotsMade || m_stdImage == nullptr) {
    return;
  }
  // An alternate image that failed to load left no alternate snapshots:
  // the button then looks like one without an alternate image.
  const bool altLooks = !snapshot(Snapshot::AltNormal).empty();
  const ButtonLook look{m_disabledLook, m_selected, m_toggled && altLooks, m_hover, altLooks};
  m_current = chooseSnapshot(look);
  const Image& chosen = snapshot(m_current);
  target.copy(m_rect.left, m_rect.top, m_rect.width(), m_rect.height(), chosen, 0, 0);
}

bool CGdipButton::isSelected() const { return m_selected; }

// Entering the pressed look is what flips a toggle button, once per press;
// repainting a button that stays pressed does not flip it again. The
// greyed look shows no press, so it flips nothing.
void CGdipButton::setSelected(bool selected) {
  if (selected == m_selected) {
    return;
  }
  m_selected = selected;
  if (selected && m_toggleMode && !m_disabledLook) {
    m_toggled = !m_toggled;
  }
  invalidate();
}

void CGdipButton::onMouseMove(Point client) {
  if (!m_enabled) {
    return;
  }
  const bool inside = Rect{0, 0, m_rect.width(), m_rect.height()}.contains(client.x, client.y);
  if (!inside) {
    // Only a captured pointer reports moves outside: it has left.
    if (m_hover) {
      onMouseLeave();
    }
  } else if (!m_tracking) {
    m_tracking = true;
    m_hover = true;
    invalidate();
  }
  if (m_captured) {
    m_pointerInside = inside;
    setSelected(inside || m_spaceDown);
  }
}

void CGdipButton::onMouseLeave() {
  m_tracking = false;
  if (m_hover) {
    m_hover = false;
    invalidate();
  }
}

void CGdipButton::onLButtonDown(Point client) {
  if (!m_enabled) {
    return;
  }
  m_focused = true;
  m_captured = true;
  onMouseMove(client);  // decides whether the press is over the button
}

void CGdipButton::onLButtonUp(Point client) {
  if (!m_captured) {
    return;
  }
  onMouseMove(client);
  const bool click = m_pointerInside;
  m_captured = false;
  m_pointerInside = false;
  if (m_spaceDown) {
    return;  // the key press still holds the button down
  }
  releasePress(click);
}

void CGdipButton::onLButtonDblClk(Point client) { onLButtonDown(client); }

void CGdipButton::onKeyDown(int key) {
  if (!m_enabled || !m_focused || key != kKeySpace || m_spaceDown) {
    return;
  }
  m_spaceDown = true;
  setSelected(true);
}

void CGdipButton::onKeyUp(int key) {
  if (key != kKeySpace || !m_spaceDown) {
    return;
  }
  m_spaceDown = false;
  if (m_captured) {
    setSelected(m_pointerInside);
    return;  // the mouse press decides
  }
  releasePress(true);
}

void CGdipButton::onSetFocus() {
  if (m_enabled) {
    m_focused = true;
  }
}

// Losing the focus ends any press without a click.
void CGdipButton::onKillFocus() {
  m_focused = false;
  m_spaceDown = false;
  m_captured = false;
  m_pointerInside = false;
  setSelected(false);
}

void CGdipButton::setEnabled(bool enabled) {
  if (enabled == m_enabled) {
    return;
  }
  m_enabled = enabled;
  if (!enabled) {
    onKillFocus();
    onMouseLeave();
  }
  invalidate();
}

void CGdipButton::releasePress(bool click) {
  const bool wasSelected = m_selected;
  setSelected(false);
  if (click && wasSelected) {
    postClick();
  }
}

void CGdipButton::postClick() {
  if (m_owner == nullptr) {
    return;
  }
  const uintptr_t wParam = (static_cast<uintptr_t>(BN_CLICKED) << 16) |
                           (static_cast<uintptr_t>(m_controlId) & 0xFFFF);
  m_owner->post(WM_COMMAND, wParam, 0);
}

}  // namespace trevolo::controls
