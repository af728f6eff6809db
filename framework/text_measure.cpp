#include "text_measure.h"

namespace {

// The control's device context with its font selected, for as long as the object lives.
class CControlDC
{
public:
    explicit CControlDC(HWND control) : m_control(control), m_dc(GetDC(control)), m_previous(nullptr)
    {
        HFONT font = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
        if (m_dc && font)
            m_previous = SelectObject(m_dc, font);
    }
    ~CControlDC()
    {
        if (!m_dc)
            return;
        if (m_previous)
            SelectObject(m_dc, m_previous);
        ReleaseDC(m_control, m_dc);
    }
    CControlDC(const CControlDC&) = delete;
    CControlDC& operator=(const CControlDC&) = delete;
    HDC Get() const { return m_dc; }

private:
    HWND m_control;
    HDC m_dc;
    HGDIOBJ m_previous;
};

} // namespace

TextMetricsOfControl MeasureControlText(HWND control, const std::string& text)
{
    TextMetricsOfControl result = {0, 0};
    CControlDC dc(control);
    if (!dc.Get())
        return result;
    SIZE size = {0, 0};
    if (!text.empty())
        GetTextExtentPoint32A(dc.Get(), text.c_str(), static_cast<int>(text.size()), &size);
    TEXTMETRICA metrics = {};
    GetTextMetricsA(dc.Get(), &metrics);
    result.width = size.cx;
    result.lineHeight = metrics.tmHeight + metrics.tmExternalLeading;
    return result;
}

int CountCharactersThatFit(HWND control, const std::string& text, int width)
{
    CControlDC dc(control);
    int fit = 0;
    SIZE size = {0, 0};
    if (!dc.Get() || text.empty() ||
        !GetTextExtentExPointA(dc.Get(), text.c_str(), static_cast<int>(text.size()), width, &fit, nullptr, &size))
        return static_cast<int>(text.size());
    return fit;
}

int GetLinesNeeded(int textWidth, int controlWidth)
{
    if (controlWidth <= 0)
        return 1;
    const int lines = (textWidth + controlWidth - 1) / controlWidth;
    return lines < 1 ? 1 : lines;
}

int GetTextHeight(HWND control, const std::string& text, int width)
{
    const TextMetricsOfControl measured = MeasureControlText(control, text);
    int lines = GetLinesNeeded(measured.width, width);
    CControlDC dc(control);
    if (dc.Get() && measured.lineHeight > 0 && !text.empty()) {
        RECT drawn = {0, 0, width, 0};
        // As the static control draws it: line breaks kept, long lines wrapped at words.
        DrawTextA(dc.Get(), text.c_str(), static_cast<int>(text.size()), &drawn,
                  DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
        const int drawnLines = (drawn.bottom - drawn.top + measured.lineHeight - 1) / measured.lineHeight;
        if (drawnLines > lines)
            lines = drawnLines;
    }
    return lines * measured.lineHeight;
}
