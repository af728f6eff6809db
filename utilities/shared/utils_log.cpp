#include "utils_log.h"

#include "shared_file.h"

namespace {
const char kUtilsLog[] = "C:\\Velk\\Utils.Log";
}

void WriteUtilsLog(const char* prefix, const std::string& message)
{
    AppendToSharedFile(kUtilsLog, std::string(prefix) + message + "\r\n");
}
