// SPDX-License-Identifier: Apache-2.0
// relp_answer_fuzz.cpp: read_relp_answer on any bytes a server may send, fed
// whole and byte by byte, and the frame queue's RELP bookkeeping driven by a
// small script against a model of its own: an answer counts one frame in
// flight, once, and nothing else.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "frame_queue.h"
#include "fuzz_check.h"
#include "relp_frames.h"

namespace {
// The longest frame the reader may wait on: "TXNR SP COMMAND SP DATALEN SP"
// (9 digits, 32 letters, 9 digits), the data, LF.
const size_t MAX_FRAME = 9 + 1 + 32 + 1 + 9 + 1 + RELP_MAX_ANSWER_DATA + 1;
const char* const SCRIPT_MARK = "\n--\n";  // the answers, then the queue's script
// What a script may add, so that one input stays quick: enough bytes for the
// queue to compact (past 64 KiB) with long messages.
const long long MAX_FRAMES = 512;
const size_t MAX_QUEUE_BYTES = 256 * 1024;

// The bytes as C escapes, for the oracle's messages.
std::string shown(const std::string& bytes)
{
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char escape[8];
            snprintf(escape, sizeof(escape), "\\x%02x", c);
            out += escape;
        }
    }
    return out;
}

struct reading {
    relp_read_result result;
    relp_answer answer;
    std::string frame;  // the bytes taken for an answer
    std::string problem;
};

bool same_answer(const relp_answer& a, const relp_answer& b)
{
    return a.serverclose == b.serverclose && a.txnr == b.txnr && a.code == b.code &&
           a.text == b.text && a.offers == b.offers;
}

// True when text holds bytes [from, from + size) of source at offset at.
bool holds(const std::string& text, size_t at, const std::string& source, size_t from, size_t size)
{
    return text.compare(at, size, source, from, size) == 0;
}

// One call on received, which holds source from taken on, with the properties
// that hold for every call; taken moves past an answer. The ends of a long
// buffer stand for all of it while it waits (a drip reads a frame of 16 KiB
// after each of its bytes).
reading read_once(std::string& received, const std::string& source, size_t& taken)
{
    const size_t size = received.size();
    reading got{RELP_INCOMPLETE, relp_answer(), "", "unset"};
    got.result = read_relp_answer(received, got.answer, got.problem);
    switch (got.result) {
    case RELP_INCOMPLETE: {
        const size_t end = std::min<size_t>(size, 128);
        FUZZ_CHECK(received.size() == size && holds(received, 0, source, taken, end) &&
                       holds(received, size - end, source, taken + size - end, end),
                   "incomplete, yet \"%s\" became \"%s\"", shown(source.substr(taken, size)).c_str(),
                   shown(received).c_str());
        FUZZ_CHECK(size < MAX_FRAME, "waits on %zu bytes", size);
        FUZZ_CHECK(got.problem.empty(), "incomplete with problem \"%s\"", got.problem.c_str());
        break;
    }
    case RELP_ANSWER:
        got.frame = source.substr(taken, size - received.size());
        FUZZ_CHECK(received.size() < size &&
                       holds(received, 0, source, taken + got.frame.size(), received.size()),
                   "\"%s\" left \"%s\"", shown(source.substr(taken, size)).c_str(),
                   shown(received).c_str());
        FUZZ_CHECK(got.frame.back() == '\n' && got.frame.size() <= MAX_FRAME, "took \"%s\"",
                   shown(got.frame).c_str());
        FUZZ_CHECK(got.problem.empty(), "answer with problem \"%s\"", got.problem.c_str());
        taken += got.frame.size();
        break;
    case RELP_MALFORMED:
        FUZZ_CHECK(!got.problem.empty(), "malformed without a problem: \"%s\"",
                   shown(source.substr(taken, size)).c_str());
        break;
    }
    return got;
}

// The answer written back as the server would have: "TXNR rsp LEN CODE[ TEXT][\nOFFERS]".
std::string rebuilt(const relp_answer& answer)
{
    std::string frame;
    if (answer.serverclose) {
        append_relp_frame(frame, 0, "serverclose", "");
        return frame;
    }
    std::string data;
    if (answer.code != 0 || !answer.text.empty() || !answer.offers.empty()) {
        char code[8];
        snprintf(code, sizeof(code), "%03d", answer.code);
        data = code;
        if (!answer.text.empty())
            data += " " + answer.text;
        if (!answer.offers.empty())
            data += "\n" + answer.offers;
    }
    append_relp_frame(frame, answer.txnr, "rsp", data);
    return frame;
}

bool leading_zero(const std::string& digits)
{
    return digits.size() > 1 && digits[0] == '0';
}

// True when the frame is spelt the one way rebuilt() writes its fields: no
// leading zeros, no data on serverclose, no "000" for an empty answer, no
// blank without text after the code, no newline without offers after it.
bool canonical(const std::string& frame, const relp_answer& answer)
{
    const size_t first_blank = frame.find(' ');
    const size_t second_blank = frame.find(' ', first_blank + 1);
    const size_t length_end = frame.find_first_not_of("0123456789", second_blank + 1);
    const std::string length = frame.substr(second_blank + 1, length_end - second_blank - 1);
    const std::string data =
        length == "0" ? "" : frame.substr(length_end + 1, frame.size() - length_end - 2);
    if (leading_zero(frame.substr(0, first_blank)) || leading_zero(length))
        return false;
    if (answer.serverclose)
        return data.empty();
    const size_t newline = data.find('\n');
    return data != "000" && data.substr(0, newline).size() != 4 &&
           (newline == std::string::npos || newline + 1 < data.size());
}

void check_frame(const reading& got)
{
    const std::string frame = rebuilt(got.answer);
    // The fields alone say the same thing again...
    std::string again = frame;
    relp_answer reread;
    std::string problem;
    FUZZ_CHECK(read_relp_answer(again, reread, problem) == RELP_ANSWER && again.empty() &&
                   same_answer(reread, got.answer),
               "\"%s\" rebuilt as \"%s\" does not read back (%s)", shown(got.frame).c_str(),
               shown(frame).c_str(), problem.c_str());
    // ...and are the very bytes read, where they were spelt as they are written.
    FUZZ_CHECK(!canonical(got.frame, got.answer) || frame == got.frame, "\"%s\" rebuilt as \"%s\"",
               shown(got.frame).c_str(), shown(frame).c_str());
    // One frame: without its last byte it is not whole yet.
    std::string cut = got.frame.substr(0, got.frame.size() - 1);
    FUZZ_CHECK(read_relp_answer(cut, reread, problem) == RELP_INCOMPLETE,
               "\"%s\" is whole without its newline", shown(got.frame).c_str());
}

// Every answer in bytes, and how the reading ended (incomplete or malformed).
std::vector<reading> read_all_at_once(const std::string& bytes)
{
    std::vector<reading> readings;
    std::string received = bytes;
    size_t taken = 0;
    do {
        readings.push_back(read_once(received, bytes, taken));
        if (readings.back().result == RELP_ANSWER)
            check_frame(readings.back());
    } while (readings.back().result == RELP_ANSWER);
    return readings;
}

// The same, the bytes arriving one at a time, each arrival read until it gives no answer.
std::vector<reading> read_dripped(const std::string& bytes)
{
    std::vector<reading> readings;
    std::string received;
    size_t taken = 0;
    for (size_t next = 0;; ++next) {
        reading got = read_once(received, bytes, taken);
        while (got.result == RELP_ANSWER) {
            readings.push_back(got);
            got = read_once(received, bytes, taken);
        }
        if (got.result == RELP_MALFORMED || next == bytes.size()) {
            readings.push_back(got);
            return readings;
        }
        received += bytes[next];
    }
}

void check_answers(const std::string& bytes)
{
    const std::vector<reading> whole = read_all_at_once(bytes);
    const std::vector<reading> dripped = read_dripped(bytes);
    FUZZ_CHECK(whole.size() == dripped.size(), "%zu readings at once, %zu dripped from \"%s\"",
               whole.size(), dripped.size(), shown(bytes).c_str());
    for (size_t i = 0; i < whole.size(); ++i)
        FUZZ_CHECK(whole[i].result == dripped[i].result && whole[i].frame == dripped[i].frame &&
                       same_answer(whole[i].answer, dripped[i].answer) &&
                       whole[i].problem == dripped[i].problem,
                   "reading %zu: %d \"%s\" (%s) at once, %d \"%s\" (%s) dripped", i,
                   static_cast<int>(whole[i].result), shown(whole[i].frame).c_str(),
                   whole[i].problem.c_str(), static_cast<int>(dripped[i].result),
                   shown(dripped[i].frame).c_str(), dripped[i].problem.c_str());
}

// The queue as the oracle sees it: the frames not dropped yet, in order.
struct model_frame {
    std::uint32_t txnr;
    std::string message;
    frame_answer answer;
    std::string bytes;  // "TXNR syslog LEN MESSAGE\n"
};

struct model {
    std::vector<model_frame> frames;
    size_t written = 0;  // bytes of them written since the queue's start
    std::uint32_t next_txnr = 2;
    long long added = 0, taken = 0, refused = 0;
};

model_frame frame_of(std::uint32_t txnr, const std::string& message)
{
    model_frame frame{txnr, message, FRAME_UNANSWERED, ""};
    append_relp_frame(frame.bytes, txnr, "syslog", message);
    return frame;
}

// How many of the model's frames are written whole.
size_t whole_frames(const model& expected)
{
    size_t end = 0, whole = 0;
    for (const model_frame& frame : expected.frames) {
        end += frame.bytes.size();
        if (end > expected.written)
            break;
        ++whole;
    }
    return whole;
}

// The queue's counts after every operation; its bytes after those that move them.
void check_queue(const frame_queue& queue, const model& expected, const char* after, bool bytes_moved)
{
    size_t offset = queue.start;
    for (size_t i = 0; bytes_moved && i < expected.frames.size(); ++i) {
        const std::string& bytes = expected.frames[i].bytes;
        FUZZ_CHECK(queue.bytes.compare(offset, bytes.size(), bytes) == 0,
                   "after %s frame %zu is \"%s\", expected \"%s\"", after, i,
                   shown(queue.bytes.substr(offset, bytes.size())).c_str(), shown(bytes).c_str());
        offset += bytes.size();
    }
    FUZZ_CHECK(!bytes_moved || offset == queue.bytes.size(), "after %s %zu bytes more than the frames",
               after, queue.bytes.size() - offset);
    FUZZ_CHECK(queue.written - queue.start == expected.written,
               "after %s %zu bytes written, expected %zu", after, queue.written - queue.start,
               expected.written);
    FUZZ_CHECK(frames_in(queue) == static_cast<long long>(expected.frames.size()) &&
                   frames_in_flight(queue) == static_cast<long long>(whole_frames(expected)),
               "after %s %lld frames, %lld in flight; expected %zu, %zu", after, frames_in(queue),
               frames_in_flight(queue), expected.frames.size(), whole_frames(expected));
}

// A number in the script at position (digits), or fallback when there is none.
std::uint64_t number_at(const std::string& script, size_t& position, std::uint64_t fallback)
{
    const auto digit_at = [&script](size_t at) {
        return at < script.size() && script[at] >= '0' && script[at] <= '9';
    };
    if (!digit_at(position))
        return fallback;
    std::uint64_t value = 0;
    for (int digits = 0; digit_at(position) && digits < 10; ++position, ++digits)
        value = value * 10 + static_cast<std::uint64_t>(script[position] - '0');
    return value;
}

// The frame a server's answer to txnr may settle: written whole, not dropped, not answered.
model_frame* answerable(model& expected, std::uint64_t txnr)
{
    const size_t whole = whole_frames(expected);
    for (size_t i = 0; i < whole; ++i)
        if (expected.frames[i].txnr == txnr && expected.frames[i].answer == FRAME_UNANSWERED)
            return &expected.frames[i];
    return nullptr;
}

// The offset up to which window_end(max_frames, max_bytes) lets the queue go.
size_t expected_window(const frame_queue& queue, const model& expected, size_t max_frames,
                       size_t max_bytes)
{
    size_t end = 0;
    for (size_t i = 0; i < expected.frames.size() && i < max_frames; ++i) {
        const size_t size = expected.frames[i].bytes.size();
        if (i > 0 && end + size > max_bytes)
            break;
        end += size;
    }
    if (end == 0 && !expected.frames.empty())
        end = expected.frames[0].bytes.size();  // at least one frame goes out
    return queue.start + end;
}

// The script, one letter an operation, numbers after it:
//   a[N]["TEXT"]  add N frames (1), with TEXT or messages of their own
//   w[N]          N more bytes written (all of them when no N)
//   y[N] n[N]     the server's answer to transaction N: taken (200), refused
//   d             the answered frames at the front are dropped and counted
//   b[N]          a break: rewound and numbered anew from N (2), as a new session does
//   v[F],[B]      the window of at most F frames and B bytes
void run_script(const std::string& script)
{
    frame_queue queue;
    model expected;
    std::uint64_t wire_total = 0;
    for (size_t position = 0; position < script.size();) {
        const char op = script[position++];
        const std::string after(1, op);
        if (op == 'a') {
            const std::uint64_t count = number_at(script, position, 1);
            std::string text;
            const bool own_text = position < script.size() && script[position] == '"';
            if (own_text) {
                const size_t end = script.find('"', position + 1);
                text = script.substr(position + 1, end == std::string::npos ? end : end - position - 1);
                position = end == std::string::npos ? script.size() : end + 1;
            }
            for (std::uint64_t i = 0;
                 i < count && expected.added < MAX_FRAMES && queue.bytes.size() < MAX_QUEUE_BYTES; ++i) {
                // Empty messages, blanks and newlines in them: renumbering finds
                // each message by its length.
                const std::string message = own_text ? text
                                            : expected.added % 4 == 3
                                                ? ""
                                                : "<15>line " + std::to_string(expected.added) +
                                                      (expected.added % 2 ? "\nmore" : " x");
                add_relp_frame(queue, message, expected.next_txnr);
                expected.frames.push_back(frame_of(expected.next_txnr, message));
                expected.next_txnr = next_txnr(expected.next_txnr);
                ++expected.added;
            }
        } else if (op == 'w') {
            const size_t unwritten = unwritten_size(queue);
            const size_t taken =
                static_cast<size_t>(std::min<std::uint64_t>(number_at(script, position, unwritten), unwritten));
            wire_total += taken;
            note_written(queue, taken, wire_total, true);
            expected.written += taken;
        } else if (op == 'y' || op == 'n') {
            const std::uint64_t txnr = number_at(script, position, 2);
            const auto asked = static_cast<std::uint32_t>(std::min<std::uint64_t>(txnr, UINT32_MAX));
            model_frame* frame = answerable(expected, asked);
            const bool answered = answer_frame(queue, asked, op == 'y', "500 refused");
            FUZZ_CHECK(answered == (frame != nullptr), "answer to %u %s, expected %s", asked,
                       answered ? "taken" : "refused", frame ? "taken" : "refused");
            if (frame)
                frame->answer = op == 'y' ? FRAME_TAKEN : FRAME_REFUSED;
        } else if (op == 'd') {
            long long taken = -1, refused = -1;
            drop_answered(queue, taken, refused);
            long long want_taken = 0, want_refused = 0;
            const size_t whole = whole_frames(expected);
            size_t gone = 0;
            for (; gone < whole && expected.frames[gone].answer != FRAME_UNANSWERED; ++gone) {
                ++(expected.frames[gone].answer == FRAME_TAKEN ? want_taken : want_refused);
                expected.written -= expected.frames[gone].bytes.size();
            }
            expected.frames.erase(expected.frames.begin(),
                                  expected.frames.begin() + static_cast<long>(gone));
            FUZZ_CHECK(taken == want_taken && refused == want_refused,
                       "dropped %lld taken, %lld refused; expected %lld, %lld", taken, refused,
                       want_taken, want_refused);
            expected.taken += taken;
            expected.refused += refused;
        } else if (op == 'b') {
            const std::uint64_t first =
                std::clamp<std::uint64_t>(number_at(script, position, 2), 1, RELP_LAST_TXNR);
            rewind_frames(queue);
            const std::uint32_t next = renumber_frames(queue, static_cast<std::uint32_t>(first));
            auto txnr = static_cast<std::uint32_t>(first);
            for (model_frame& frame : expected.frames) {
                frame = frame_of(txnr, frame.message);
                txnr = next_txnr(txnr);
            }
            FUZZ_CHECK(next == txnr, "numbered anew up to %u, expected %u", next, txnr);
            expected.written = 0;
            expected.next_txnr = txnr;
        } else if (op == 'v') {
            const auto max_frames = static_cast<size_t>(number_at(script, position, 1));
            if (position < script.size() && script[position] == ',')
                ++position;
            const auto max_bytes = static_cast<size_t>(number_at(script, position, 0));
            const size_t end = window_end(queue, max_frames, max_bytes);
            const size_t want = expected_window(queue, expected, max_frames, max_bytes);
            FUZZ_CHECK(end == want, "window of %zu frames, %zu bytes ends at %zu, expected %zu",
                       max_frames, max_bytes, end, want);
        } else {
            continue;
        }
        check_queue(queue, expected, after.c_str(), op == 'a' || op == 'd' || op == 'b');
        // Each frame counts once at most: as many counted as left the queue.
        FUZZ_CHECK(expected.taken + expected.refused + frames_in(queue) == expected.added,
                   "%lld taken, %lld refused, %lld left of %lld", expected.taken, expected.refused,
                   frames_in(queue), expected.added);
    }
}
}  // namespace

// Input: what a server sends, then optionally "\n--\n" and the queue's script.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t mark = input.find(SCRIPT_MARK);
    check_answers(input.substr(0, mark == std::string::npos ? mark : mark + 1));
    if (mark != std::string::npos)
        run_script(input.substr(mark + 4));
    return 0;
}
