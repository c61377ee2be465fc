// What the plain (not Google Benchmark) bench programs share: counts from the
// command line and a main that reports what went wrong.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <stdexcept>
#include <string>

namespace benchmain {

// A count from 1 to most; throws std::runtime_error naming the option otherwise.
inline std::size_t parseCount(const char* text, const char* option, unsigned long most)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || value == 0 || value > most)
        throw std::runtime_error(std::string(option) + " takes a number from 1 to " + std::to_string(most));
    return value;
}

// run's result, or 1 after printing what it threw, prefixed with the program's name.
inline int runMain(const char* name, int (*run)(int, char**), int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", name, e.what());
    } catch (...) {
        std::fprintf(stderr, "%s: unexpected failure\n", name);
    }
    return 1;
}

}  // namespace benchmain
