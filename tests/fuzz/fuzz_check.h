// SPDX-License-Identifier: Apache-2.0
// fuzz_check.h: the oracle's verdict. A broken property aborts, which both
// libFuzzer (as a crash, with the input saved) and the replay test (as a
// failed test) report; the message says which property and for what.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, ...)                                                   \
    do {                                                                             \
        if (!(condition)) {                                                          \
            fprintf(stderr, "%s:%d: oracle failed: %s: ", __FILE__, __LINE__, #condition); \
            fprintf(stderr, __VA_ARGS__);                                            \
            fputc('\n', stderr);                                                     \
            abort();                                                                 \
        }                                                                            \
    } while (0)
