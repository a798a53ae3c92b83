// SPDX-License-Identifier: Apache-2.0
// relp_answer_fuzz.cpp: read_relp_answer on any bytes a server may send, fed
// whole and byte by byte: the same answers either way, one whole frame each,
// never more than a frame's worth held while it waits. (What the frame queue
// does with the answers is pinned by tests/logfwd/transport's tables.)
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "relp_frames.h"

namespace {
// The longest frame the reader may wait on: "TXNR SP COMMAND SP DATALEN SP"
// (9 digits, 32 letters, 9 digits), the data, LF.
const size_t MAX_FRAME = 9 + 1 + 32 + 1 + 9 + 1 + RELP_MAX_ANSWER_DATA + 1;

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
}  // namespace

// Input: what a server sends.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    check_answers(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
