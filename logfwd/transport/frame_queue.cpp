// SPDX-License-Identifier: Apache-2.0
// frame_queue.cpp: frames stay in one string until acknowledged; dropping the
// acknowledged ones only moves an offset, and the string is compacted when
// they make up half of it, so each byte is moved at most about once.
#include "frame_queue.h"

#include <algorithm>

#include "relp_frames.h"

namespace {
const size_t COMPACT_AFTER = 64 * 1024;

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

void add_relp_frame(frame_queue& queue, std::string_view message, std::uint32_t txnr)
{
    append_relp_frame(queue.bytes, txnr, "syslog", message);
    queue.marks.push_back(frame_mark{queue.bytes.size(), 0, txnr, FRAME_UNANSWERED});
}

bool answer_frame(frame_queue& queue, std::uint32_t txnr, bool taken, const std::string& refusal)
{
    if (queue.first_mark >= queue.first_unwritten || txnr == 0 || txnr > RELP_LAST_TXNR)
        return false;
    // Numbers run on by one from frame to frame, wrapping after RELP_LAST_TXNR.
    const std::uint32_t first = queue.marks[queue.first_mark].txnr;
    const size_t distance = (txnr + RELP_LAST_TXNR - first) % RELP_LAST_TXNR;
    if (distance >= queue.first_unwritten - queue.first_mark)
        return false;
    frame_mark& mark = queue.marks[queue.first_mark + distance];
    if (mark.txnr != txnr || mark.answer != FRAME_UNANSWERED)
        return false;
    mark.answer = taken ? FRAME_TAKEN : FRAME_REFUSED;
    if (!taken && queue.refusal.empty())
        queue.refusal = refusal;
    return true;
}

void drop_answered(frame_queue& queue, long long& taken, long long& refused)
{
    taken = refused = 0;
    while (queue.first_mark < queue.first_unwritten &&
           queue.marks[queue.first_mark].answer != FRAME_UNANSWERED) {
        const frame_mark& mark = queue.marks[queue.first_mark++];
        ++(mark.answer == FRAME_TAKEN ? taken : refused);
        queue.start = mark.end;
    }
    if (queue.start >= COMPACT_AFTER && queue.start * 2 >= queue.bytes.size())
        compact(queue);
}

long long frames_in_flight(const frame_queue& queue)
{
    return static_cast<long long>(queue.first_unwritten - queue.first_mark);
}

size_t window_end(const frame_queue& queue, size_t max_frames, size_t max_bytes)
{
    if (queue.first_mark >= queue.marks.size())
        return queue.start;
    const auto first = queue.marks.begin() + static_cast<long>(queue.first_mark);
    const auto last = first + static_cast<long>(std::min(max_frames, queue.marks.size() - queue.first_mark));
    // The first frame past the byte budget; the window holds at least one frame.
    const auto past = std::upper_bound(first, last, queue.start + max_bytes,
                                       [](size_t limit, const frame_mark& mark) { return limit < mark.end; });
    return std::prev(past == first ? first + 1 : past)->end;
}

std::uint32_t renumber_frames(frame_queue& queue, std::uint32_t first_txnr)
{
    // The frames that wait are written anew from the buffer's start.
    queue.marks.erase(queue.marks.begin(), queue.marks.begin() + static_cast<long>(queue.first_mark));
    queue.first_mark = 0;
    std::string renumbered;
    size_t frame_start = queue.start;
    std::uint32_t txnr = first_txnr;
    for (frame_mark& mark : queue.marks) {
        // "TXNR syslog LEN MSG\n": the message follows the third blank
        // ("TXNR syslog 0\n" has none).
        size_t data = frame_start;
        for (int blanks = 0; blanks < 3 && data < mark.end; ++data)
            blanks += queue.bytes[data] == ' ';
        const size_t length = data < mark.end ? mark.end - 1 - data : 0;
        const std::string_view message(queue.bytes.data() + data, length);
        append_relp_frame(renumbered, txnr, "syslog", message);
        frame_start = mark.end;
        mark = frame_mark{renumbered.size(), 0, txnr, FRAME_UNANSWERED};
        txnr = next_txnr(txnr);
    }
    queue.bytes.swap(renumbered);
    queue.start = queue.written = 0;
    queue.first_unwritten = 0;
    return txnr;
}
