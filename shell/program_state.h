#pragma once
// KelvaneMini's process-wide state: the working image (what the window is
// filled from and written into), the device image (the copy last read from
// or written to the controller) and the language of the window and messages.
#include "image/image.h"

namespace kelvane::shell {

// Copied from the initial image when the main window is created.
Image& workingImage();
// All zero until a transfer writes it.
Image& deviceImage();

// 0 Polish, 1 English, 2 the third language. Written only when a language is
// applied to the main window; transfer workers may read it.
int currentLanguage();
void setCurrentLanguage(int language);

}  // namespace kelvane::shell
