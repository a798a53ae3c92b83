// SPDX-License-Identifier: Apache-2.0
// relp_frames.h: the frames of RELP, the Reliable Event Logging Protocol
// (rsyslog's imrelp and omrelp; librelp's doc/relp.html), as bytes: the
// client's commands, and a reader of the server's answers that trusts
// nothing it reads. No sockets here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Transaction numbers run from 1 to RELP_LAST_TXNR, then from 1 again; 0 is
// for the server's hints, which get no answer.
const std::uint32_t RELP_LAST_TXNR = 999999999;

inline std::uint32_t next_txnr(std::uint32_t txnr)
{
    return txnr >= RELP_LAST_TXNR ? 1 : txnr + 1;
}

// The most data an answer may carry: librelp's "200 OK" and the offers of
// its answer to "open" take about a hundred bytes.
const size_t RELP_MAX_ANSWER_DATA = 16 * 1024;

// Appends value in decimal (a frame's number or length), without the
// locale or allocation of std::to_string.
void append_decimal(std::string& out, std::uint64_t value);

// Appends "TXNR COMMAND DATALEN[ DATA]\n".
void append_relp_frame(std::string& out, std::uint32_t txnr, std::string_view command,
                       std::string_view data);

// The offers of the client's "open": the protocol's version 0, the software
// (logfwd and version), and the one command it sends, syslog.
std::string relp_open_offers(std::string_view version);

// A frame from the server: the answer to a command, or its hint that it
// closes the session.
struct relp_answer {
    bool serverclose = false;
    std::uint32_t txnr = 0;
    int code = 0;        // 200 when the command was taken; 0 for an answer without data
    std::string text;    // the text after the code, to the end of its line
    std::string offers;  // the lines after it (the answer to "open")
};

enum relp_read_result { RELP_INCOMPLETE, RELP_ANSWER, RELP_MALFORMED };

// Takes the first whole frame off the front of received. RELP_INCOMPLETE:
// not whole yet, received is left as it is. RELP_MALFORMED, problem saying
// why: anything but a well-formed "rsp" (with a 3-digit code) or "serverclose",
// a data length over RELP_MAX_ANSWER_DATA among them; the session cannot go on.
relp_read_result read_relp_answer(std::string& received, relp_answer& answer,
                                  std::string& problem);

// True when the offers of an answer to "open" name command among "commands=".
bool relp_offers_command(std::string_view offers, std::string_view command);
