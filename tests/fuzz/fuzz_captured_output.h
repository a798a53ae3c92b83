// SPDX-License-Identifier: Apache-2.0
// fuzz_captured_output.h: standard output of the code under test, kept in a
// string instead of printed, for the targets whose oracle reads the reports.
#pragma once

#include <iostream>
#include <sstream>

class CapturedOutput {
public:
    CapturedOutput() : saved(std::cout.rdbuf(text.rdbuf())) {}
    ~CapturedOutput() { std::cout.rdbuf(saved); }
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;

    std::ostringstream text;

private:
    std::streambuf* saved;
};
