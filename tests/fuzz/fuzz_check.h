// How a fuzz target reports a broken property: it names the property and aborts, which
// libFuzzer keeps as a finding with the input that broke it.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition) CheckFuzzProperty((condition), #condition, __FILE__, __LINE__)

inline void CheckFuzzProperty(bool holds, const char* property, const char* file, int line)
{
    if (holds)
        return;
    std::fprintf(stderr, "%s:%d: property broken: %s\n", file, line, property);
    std::abort();
}
