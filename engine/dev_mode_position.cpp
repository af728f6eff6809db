#include "dev_mode_position.h"

ScreenPoint GetDevModeWindowPosition(const ScreenRect& desktop, int windowWidth, int windowHeight, bool hasTaskbar,
                                     const ScreenRect& barPosition, const ScreenRect& barWindow)
{
    ScreenPoint corner = {desktop.right - windowWidth, desktop.bottom - windowHeight};
    if (!hasTaskbar)
        return corner;
    const int barWidth = barWindow.right - barWindow.left;
    const int barHeight = barWindow.bottom - barWindow.top;
    if (barPosition.top > barPosition.left) {
        corner.y -= barHeight;  // along the bottom edge
    } else if (barPosition.top < barPosition.left) {
        corner.x -= barWidth;  // along the right edge
    } else if (barPosition.bottom == barPosition.right) {
        // At the top or the left edge the bar is not in the way; a rectangle whose
        // bottom equals its right is still taken for one along the right edge.
        corner.x -= barWidth;
    }
    return corner;
}
