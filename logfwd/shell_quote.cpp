// SPDX-License-Identifier: Apache-2.0
// The one shell-quoter: POSIX single quotes, which leave every byte but "'"
// literal (blanks, newlines, "$", "`", ";"). A leading "-" is not the quoter's
// business: callers put "--" in front of file arguments.
#include "shell_quote.h"

std::string shell_quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += '\'';
    return quoted;
}
