// Measuring a text in the font of the control that shows it, for the layouts that fit a
// window to its texts.
#pragma once

#include <windows.h>

#include <string>

struct TextMetricsOfControl
{
    int width;       // of the whole text on one line
    int lineHeight;  // height plus external leading
};

TextMetricsOfControl MeasureControlText(HWND control, const std::string& text);

// How many of the text's first characters fit on one line of the given width in the
// control's font (all of them when all fit).
int CountCharactersThatFit(HWND control, const std::string& text, int width);

// Lines the text needs in a control of the given width: rounded up, at least 1.
int GetLinesNeeded(int textWidth, int controlWidth);

// The height a static control of that width needs to show the whole text: as many lines
// as the text's width over the control's width says, or as many as it takes when drawn
// with its own line breaks and wrapped at words, whichever is more.
int GetTextHeight(HWND control, const std::string& text, int width);
