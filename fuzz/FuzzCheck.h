#pragma once

#include <cstdio>
#include <cstdlib>

// What a harness states must hold for any input: a violation aborts, so that the fuzzer keeps the
// input that caused it.
inline void check(bool bCondition, const char *pszWhat)
{
    if (!bCondition) {
        std::fprintf(stderr, "property violated: %s\n", pszWhat);
        std::abort();
    }
}
