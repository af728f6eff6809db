// A task for the wrapper tests: "task_exit CODE [SLEEP_MS [PID_FILE]]" writes its process
// id to PID_FILE, sleeps, and exits with CODE.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 99;
    if (argc >= 4) {
        if (FILE* file = std::fopen(argv[3], "w")) {
            std::fprintf(file, "%lu", static_cast<unsigned long>(GetCurrentProcessId()));
            std::fclose(file);
        }
    }
    if (argc >= 3)
        Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
    return std::atoi(argv[1]);
}
