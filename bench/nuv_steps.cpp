// The engine with its walk timed, for bench/run; never shipped. Every mark of the walk
// (framework/step_marks.h) is kept with the performance counter's time in microseconds,
// the clock stamp.exe writes, and when the walk has ended the marks go to
// "C:\bench\steps.txt" as lines "step microseconds".
#include "nuv_app.h"
#include "step_marks.h"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace {

const char kStepsFile[] = "C:\\bench\\steps.txt";

std::vector<std::pair<int, long long>> g_marks;
LARGE_INTEGER g_frequency;

void WriteMarks()
{
    std::string text;
    for (const auto& mark : g_marks)
        text += std::to_string(mark.first) + " " + std::to_string(mark.second) + "\r\n";
    HANDLE file = CreateFileA(kStepsFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

void KeepMark(WorkStep step)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const long long microseconds = now.QuadPart / g_frequency.QuadPart * 1000000LL +
                                   now.QuadPart % g_frequency.QuadPart * 1000000LL / g_frequency.QuadPart;
    g_marks.emplace_back(static_cast<int>(step), microseconds);
    if (step == WorkStep::WalkEnded)
        WriteMarks();
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    QueryPerformanceFrequency(&g_frequency);
    // Room for the longest list measured, so that keeping a mark never moves the others.
    g_marks.reserve(1 << 18);
    SetStepMarkHook(KeepMark);
    CNUVApp app;
    app.InitInstance(__argc - 1, __argc > 1 ? __argv + 1 : nullptr);
    return 0;
}
