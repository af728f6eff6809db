// Measuring a text in the font of the control that shows it.
#pragma once

#include <windows.h>

#include <string>

struct TextMetricsOfControl
{
    int width;       // of the whole text on one line
    int lineHeight;  // height plus external leading
};

TextMetricsOfControl MeasureControlText(HWND control, const std::string& text);

// Lines the text needs in a control of the given width: rounded up, at least 1.
int GetLinesNeeded(int textWidth, int controlWidth);
