// SPDX-License-Identifier: Apache-2.0
// RELP's frames: "TXNR SP COMMAND SP DATALEN [SP DATA] LF", TXNR and DATALEN
// of 1 to 9 digits, COMMAND of 1 to 32 letters. The reader is strict where
// the protocol is: a server that sends anything else (garbage, an oversized
// or negative length, a missing LF) ends the session instead of being
// guessed at, and a partial frame never holds more than a whole one would.
#include "relp_frames.h"

#include <cctype>

namespace {
const size_t MAX_NUMBER_DIGITS = 9;
const size_t MAX_COMMAND_LETTERS = 32;

bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

bool is_letter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Reads a run of characters that pass accept, 1 to most of them, from
// position; false with problem when the run is empty or too long, or when
// the text ends inside it (incomplete then: problem stays empty).
template <typename Accept>
bool read_run(std::string_view text, size_t& position, size_t most, Accept accept,
              std::string_view& run, std::string& problem, const char* what)
{
    const size_t start = position;
    while (position < text.size() && accept(text[position]) && position - start <= most)
        ++position;
    const size_t length = position - start;
    if (length > most || (position < text.size() && length == 0)) {
        problem = std::string("a frame with ") + (length > most ? "too long a " : "no ") + what;
        return false;
    }
    run = text.substr(start, length);
    return position < text.size();
}

std::uint32_t to_number(std::string_view digits)
{
    std::uint32_t value = 0;
    for (char c : digits)
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
    return value;
}

// A character at position: incomplete (false, no problem) when the text ends
// before it, a problem when it is another.
bool expect(std::string_view text, size_t& position, char wanted, std::string& problem,
            const char* what)
{
    if (position >= text.size())
        return false;
    if (text[position] != wanted) {
        problem = std::string("a frame without ") + what;
        return false;
    }
    ++position;
    return true;
}

// The data of an "rsp": "CODE[ SP TEXT][ LF OFFERS]", or nothing (librelp's
// answer to "close"), which counts as code 0.
bool read_response(std::string_view data, relp_answer& answer, std::string& problem)
{
    if (data.empty())
        return true;
    if (data.size() < 3 || !is_digit(data[0]) || !is_digit(data[1]) || !is_digit(data[2]) ||
        (data.size() > 3 && data[3] != ' ' && data[3] != '\n')) {
        problem = "an answer without a status code";
        return false;
    }
    answer.code = static_cast<int>(to_number(data.substr(0, 3)));
    const size_t line_end = data.find('\n');
    const std::string_view line = data.substr(0, line_end);
    answer.text = line.size() > 4 ? std::string(line.substr(4)) : "";
    answer.offers = line_end == std::string_view::npos ? "" : std::string(data.substr(line_end + 1));
    return true;
}

// What a whole frame says, once its parts are read.
relp_read_result interpret(std::uint32_t txnr, std::string_view command, std::string_view data,
                           relp_answer& answer, std::string& problem)
{
    answer = relp_answer();
    answer.txnr = txnr;
    if (command == "serverclose" && txnr == 0) {
        answer.serverclose = true;
        return RELP_ANSWER;
    }
    if (command != "rsp" || txnr == 0) {
        problem = "an unexpected \"" + std::string(command) + "\" frame with transaction number " +
                  std::to_string(txnr);
        return RELP_MALFORMED;
    }
    return read_response(data, answer, problem) ? RELP_ANSWER : RELP_MALFORMED;
}
}  // namespace

void append_decimal(std::string& out, std::uint64_t value)
{
    char digits[24];
    int used = 0;
    do {
        digits[used++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (used > 0)
        out += digits[--used];
}

void append_relp_frame(std::string& out, std::uint32_t txnr, std::string_view command,
                       std::string_view data)
{
    append_decimal(out, txnr);
    out += ' ';
    out.append(command);
    out += ' ';
    append_decimal(out, data.size());
    if (!data.empty()) {
        out += ' ';
        out.append(data);
    }
    out += '\n';
}

std::string relp_open_offers(std::string_view version)
{
    return "relp_version=0\nrelp_software=logfwd," + std::string(version) + "\ncommands=syslog";
}

relp_read_result read_relp_answer(std::string& received, relp_answer& answer,
                                  std::string& problem)
{
    const std::string_view text = received;
    size_t position = 0;
    std::string_view txnr, command, length;
    problem.clear();
    if (!read_run(text, position, MAX_NUMBER_DIGITS, is_digit, txnr, problem, "transaction number") ||
        !expect(text, position, ' ', problem, "a blank after its transaction number") ||
        !read_run(text, position, MAX_COMMAND_LETTERS, is_letter, command, problem, "command") ||
        !expect(text, position, ' ', problem, "a blank after its command") ||
        !read_run(text, position, MAX_NUMBER_DIGITS, is_digit, length, problem, "data length"))
        return problem.empty() ? RELP_INCOMPLETE : RELP_MALFORMED;
    const size_t data_size = to_number(length);
    if (data_size > RELP_MAX_ANSWER_DATA) {
        problem = "an answer of " + std::to_string(data_size) + " bytes";
        return RELP_MALFORMED;
    }
    if (data_size > 0 && !expect(text, position, ' ', problem, "a blank before its data"))
        return problem.empty() ? RELP_INCOMPLETE : RELP_MALFORMED;
    if (text.size() < position + data_size + 1)
        return RELP_INCOMPLETE;
    const std::string_view data = text.substr(position, data_size);
    position += data_size;
    if (!expect(text, position, '\n', problem, "a newline at its end"))
        return RELP_MALFORMED;
    const relp_read_result result = interpret(to_number(txnr), command, data, answer, problem);
    received.erase(0, position);
    return result;
}

bool relp_offers_command(std::string_view offers, std::string_view command)
{
    while (!offers.empty()) {
        const size_t line_end = offers.find('\n');
        std::string_view line = offers.substr(0, line_end);
        offers = line_end == std::string_view::npos ? "" : offers.substr(line_end + 1);
        if (line.substr(0, 9) != "commands=")
            continue;
        line.remove_prefix(9);
        while (!line.empty()) {
            const size_t comma = line.find(',');
            if (line.substr(0, comma) == command)
                return true;
            line = comma == std::string_view::npos ? "" : line.substr(comma + 1);
        }
    }
    return false;
}
