// Rectangles and points of the screen as the engine's portable logic takes them, so that
// it needs no Windows header.
#pragma once

struct ScreenRect
{
    int left, top, right, bottom;
};

struct ScreenPoint
{
    int x, y;
};
