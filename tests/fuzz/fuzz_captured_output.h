// SPDX-License-Identifier: Apache-2.0
// fuzz_captured_output.h: standard output of the code under test, kept in a
// string instead of printed, for the targets whose oracle reads the reports.
#pragma once

#include <iostream>
#include <sstream>

class captured_output {
public:
    captured_output() : saved(std::cout.rdbuf(text.rdbuf())) {}
    ~captured_output() { std::cout.rdbuf(saved); }
    captured_output(const captured_output&) = delete;
    captured_output& operator=(const captured_output&) = delete;

    std::ostringstream text;

private:
    std::streambuf* saved;
};
