// SPDX-License-Identifier: Apache-2.0
// shell_quote.h: the one quoter for text that goes into a shell command line.
#pragma once

#include <string>

// text as one single-quoted shell word: every "'" becomes '\'' and nothing
// inside is expanded, split or executed by /bin/sh.
std::string shell_quote(const std::string& text);
