// SPDX-License-Identifier: Apache-2.0
// frame_queue.cpp: frames stay in one string until acknowledged; dropping the
// acknowledged ones only moves an offset, and the string is compacted when
// they make up half of it, so each byte is moved at most about once.
#include "frame_queue.h"

namespace {
const size_t COMPACT_AFTER = 64 * 1024;

void append_decimal(std::string& text, size_t value)
{
    char digits[24];
    int used = 0;
    do {
        digits[used++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (used > 0)
        text += digits[--used];
}

void compact(frame_queue& queue)
{
    const size_t gone = queue.start;
    queue.bytes.erase(0, gone);
    queue.start = 0;
    queue.written -= gone;
    const auto kept = queue.marks.begin() + static_cast<long>(queue.first_mark);
    queue.marks.erase(queue.marks.begin(), kept);
    queue.first_unwritten -= queue.first_mark;
    queue.first_mark = 0;
    for (frame_mark& mark : queue.marks)
        mark.end -= gone;
}
}  // namespace

void add_frame(frame_queue& queue, std::string_view message, stream_framing framing)
{
    if (framing == FRAMING_OCTET_COUNTING) {
        append_decimal(queue.bytes, message.size());
        queue.bytes += ' ';
    }
    queue.bytes.append(message);
    if (framing == FRAMING_LF)
        queue.bytes += '\n';
    queue.marks.push_back(frame_mark{queue.bytes.size(), 0});
}

size_t unwritten_size(const frame_queue& queue)
{
    return queue.bytes.size() - queue.written;
}

long long frames_in(const frame_queue& queue)
{
    return static_cast<long long>(queue.marks.size() - queue.first_mark);
}

void note_written(frame_queue& queue, size_t taken, std::uint64_t wire_total, bool exact)
{
    queue.written += taken;
    while (queue.first_unwritten < queue.marks.size() &&
           queue.marks[queue.first_unwritten].end <= queue.written) {
        frame_mark& mark = queue.marks[queue.first_unwritten++];
        mark.acked_at = exact ? wire_total - (queue.written - mark.end) : wire_total;
    }
}

long long drop_acknowledged(frame_queue& queue, std::uint64_t acked)
{
    long long dropped = 0;
    while (queue.first_mark < queue.first_unwritten &&
           queue.marks[queue.first_mark].acked_at <= acked) {
        queue.start = queue.marks[queue.first_mark++].end;
        ++dropped;
    }
    if (queue.start >= COMPACT_AFTER && queue.start * 2 >= queue.bytes.size())
        compact(queue);
    return dropped;
}

void rewind_frames(frame_queue& queue)
{
    queue.written = queue.start;
    queue.first_unwritten = queue.first_mark;
}

void clear_frames(frame_queue& queue)
{
    queue = frame_queue();
}
