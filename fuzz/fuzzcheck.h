#pragma once

#include <cstdio>
#include <cstdlib>

// Stops the fuzzer on a broken promise, naming it, so that libFuzzer keeps
// the input that broke it.
inline void Require(bool ok, const char *what)
{
    if (ok)
        return;
    std::fprintf(stderr, "fuzz: %s\n", what);
    std::abort();
}
