#include "window_text_size.h"

TextMetricsOfControl MeasureControlText(HWND control, const std::string& text)
{
    TextMetricsOfControl result = {0, 0};
    HDC dc = GetDC(control);
    if (!dc)
        return result;
    HFONT font = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
    HGDIOBJ previous = font ? SelectObject(dc, font) : nullptr;
    SIZE size = {0, 0};
    if (!text.empty())
        GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
    TEXTMETRICA metrics = {};
    GetTextMetricsA(dc, &metrics);
    if (previous)
        SelectObject(dc, previous);
    ReleaseDC(control, dc);
    result.width = size.cx;
    result.lineHeight = metrics.tmHeight + metrics.tmExternalLeading;
    return result;
}

int GetLinesNeeded(int textWidth, int controlWidth)
{
    if (controlWidth <= 0)
        return 1;
    const int lines = (textWidth + controlWidth - 1) / controlWidth;
    return lines < 1 ? 1 : lines;
}
