// JSON string escaping for values inserted into message bodies (FIDs, the
// device name, echoed request fields). Bytes from 0x20 up pass unchanged,
// so ordinary values give byte-identical bodies.
#include "json_escape.h"

#include <cstdio>

std::string json_escape(const std::string& value)
{
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char code[8];
                snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned char>(c));
                out += code;
            } else {
                out += c;
            }
        }
    }
    return out;
}
