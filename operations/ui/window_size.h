#pragma once

class QWidget;

namespace qm {

// Fixes the size of a window whose layout is complete: the designed client
// size, or more in either direction where the layout needs more at the fonts
// in use (a larger system font, 120 dpi), so that every text shows whole.
void FixWindowSize(QWidget* window, int width, int height);

}  // namespace qm
