// Where the Development Mode window goes: the bottom-right corner of the desktop, moved
// clear of the taskbar when the taskbar lies along the bottom or the right edge.
#pragma once

#include "screen_rect.h"

// The window's top-left corner. barPosition is what the shell reports as the taskbar's
// position, barWindow the taskbar window's own rectangle; hasTaskbar is FALSE when
// there is none (or the shell does not say).
ScreenPoint GetDevModeWindowPosition(const ScreenRect& desktop, int windowWidth, int windowHeight, bool hasTaskbar,
                                     const ScreenRect& barPosition, const ScreenRect& barWindow);
