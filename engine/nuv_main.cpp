// The engine program's entry point: one application object, its start-up sequence.
#include "nuv_app.h"

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    CNUVApp app;
    // __argc/__argv are the C runtime's split of the command line, as the framework uses.
    app.InitInstance(__argc - 1, __argc > 1 ? __argv + 1 : nullptr);
    return 0;
}
