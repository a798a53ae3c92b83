// SPDX-License-Identifier: Apache-2.0
// JSON string escaping for values inserted into message bodies (FIDs, the
// device name, echoed request fields). Valid UTF-8 and bytes from 0x20 up
// pass unchanged, so ordinary values give byte-identical bodies. A byte
// that is not part of valid UTF-8 is written \u00XX, the character of that
// byte in Latin-1: every JSON reader accepts it, different bytes stay
// different (U+FFFD would merge them), and a Latin-1 name reads as meant.
#include "json_escape.h"

#include <cstdio>

namespace {
bool continues(const std::string& text, size_t i)
{
    return i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
}

// Length of the well-formed UTF-8 sequence of two to four bytes that starts
// at i (RFC 3629: no overlong forms, surrogates or values past U+10FFFF); 0
// when there is none.
size_t utf8_sequence_at(const std::string& text, size_t i)
{
    auto lead = static_cast<unsigned char>(text[i]);
    size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                  : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (length == 0 || !continues(text, i + 1))
        return 0;
    auto second = static_cast<unsigned char>(text[i + 1]);
    if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
        (lead == 0xF4 && second > 0x8F))
        return 0;
    for (size_t k = 2; k < length; ++k)
        if (!continues(text, i + k))
            return 0;
    return length;
}

void append_code(std::string& out, unsigned char c)
{
    char code[8];
    snprintf(code, sizeof code, "\\u%04x", c);
    out += code;
}
}  // namespace

std::string json_escape(const std::string& value)
{
    std::string out;
    out.reserve(value.size());
    for (size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (byte < 0x20) {
                append_code(out, byte);
            } else if (byte < 0x80) {
                out += c;
            } else if (size_t length = utf8_sequence_at(value, i)) {
                out.append(value, i, length);
                i += length - 1;
            } else {
                append_code(out, byte);
            }
        }
    }
    return out;
}
