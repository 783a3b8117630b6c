#pragma once

#include <QFont>

namespace kelvo {

// A font that shows Chinese text, at the given pixel size: SimSun or NSimSun
// where installed, else the first installed family that covers Simplified
// Chinese (preferring the common Linux ones), else the application font.
QFont CjkFont(int pixelSize);

} // namespace kelvo
