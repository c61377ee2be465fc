// A broken rule in a fuzz target: name its line, then stop the run.
#pragma once

#include <cstdio>
#include <cstdlib>

inline void fuzzCheckAt(bool ok, int line)
{
    if (!ok) {
        std::fprintf(stderr, "check failed at line %d\n", line);
        std::abort();
    }
}
#define check(ok) fuzzCheckAt((ok), __LINE__)
