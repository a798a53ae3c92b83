// Fuzz target for the datagram builder: any bytes make one datagram that is
// "<PRI>" with PRI in 8..15 followed by the line, or by the line with one
// stretch (a level word and its blank) taken out. Built with libFuzzer under
// clang, and replayed by a unit test everywhere else.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "line_sender.h"

namespace {
void check(bool condition)
{
    if (!condition)
        abort();
}
// True when body is line with line[begin, begin + removed) taken out, that
// stretch being one blank-free word and the blank after it, for some begin.
bool is_line_without_one_word(std::string_view line, std::string_view body, int priority)
{
    const size_t removed = line.size() - body.size();
    size_t head = 0;
    while (head < body.size() && body[head] == line[head])
        ++head;
    for (size_t begin = 0; begin <= head; ++begin) {
        const std::string_view word = line.substr(begin, removed - 1);
        if (line[begin + removed - 1] == ' ' && word.find(' ') == std::string_view::npos &&
            line.substr(begin + removed) == body.substr(begin) &&
            level_priority(word) == priority)
            return true;
    }
    return false;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    std::string datagram;
    build_datagram(line, datagram);
    const size_t close = datagram.find('>');
    check(datagram[0] == '<' && (close == 2 || close == 3));
    const int priority = std::atoi(datagram.substr(1, close - 1).c_str());
    check(priority >= 8 && priority <= 15);
    const std::string_view body = std::string_view(datagram).substr(close + 1);
    if (body == line)
        check(priority == 15);
    else
        check(body.size() < line.size() && is_line_without_one_word(line, body, priority));
    return 0;
}
