// SPDX-License-Identifier: Apache-2.0
// frame_queue.h: the frames of a syslog stream (RFC 6587: octet counting,
// "LEN SP MSG", or a newline after each message; or RELP's "syslog"
// commands), kept from the moment they are framed until the server's TCP has
// acknowledged every byte of them (RELP: until the server answered them), so
// that a new connection can send again whatever the old one may have lost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "transport_settings.h"

enum frame_answer : std::int8_t { FRAME_UNANSWERED, FRAME_TAKEN, FRAME_REFUSED };

struct frame_mark {
    size_t end = 0;                 // offset just past the frame in frame_queue::bytes
    std::uint64_t acked_at = 0;     // wire bytes of the connection that must be acknowledged
                                    // for the whole frame; 0 until it is written whole
    std::uint32_t txnr = 0;         // RELP: the frame's transaction number
    frame_answer answer = FRAME_UNANSWERED;  // RELP: what the server said of it
};

// bytes: [start, written) went to the current connection and wait for its
// acknowledgement; [written, end) are not written yet. Acknowledged frames
// leave the front; the buffer is compacted once they are half of it.
struct frame_queue {
    std::string bytes;
    size_t start = 0;
    size_t written = 0;
    std::vector<frame_mark> marks;  // one per frame from first_mark on
    size_t first_mark = 0;
    size_t first_unwritten = 0;     // the first mark not written whole
    std::string refusal;            // RELP: the server's first refusal not yet counted, "CODE TEXT"
};

// The framer: appends the frame of message. FRAMING_LF relies on messages
// without a newline, which holds for messages made of lines read.
void add_frame(frame_queue& queue, std::string_view message, stream_framing framing);

size_t unwritten_size(const frame_queue& queue);
long long frames_in(const frame_queue& queue);

// Bytes [written, written + taken) went out, and the connection has now
// written wire_total bytes in all. exact: wire bytes are the stream's bytes
// (TCP), so a frame's last byte has its own number; otherwise (TLS records)
// every frame completed by this write waits for all of wire_total.
void note_written(frame_queue& queue, size_t taken, std::uint64_t wire_total, bool exact);

// Drops the frames wholly acknowledged once acked wire bytes of the
// connection are; returns how many.
long long drop_acknowledged(frame_queue& queue, std::uint64_t acked);

// After a break: the next connection writes again from the first frame not
// wholly acknowledged.
void rewind_frames(frame_queue& queue);

// Empties the queue (the frames could not be delivered).
void clear_frames(frame_queue& queue);

// RELP: appends the "syslog" command carrying message, numbered txnr.
void add_relp_frame(frame_queue& queue, std::string_view message, std::uint32_t txnr);

// RELP: notes the server's answer to the frame numbered txnr (taken, or
// refused with refusal); false when no frame written whole and unanswered has
// that number: an answer to a command never sent, or answered already.
bool answer_frame(frame_queue& queue, std::uint32_t txnr, bool taken, const std::string& refusal);

// RELP: drops the answered frames from the front; how many were taken and
// how many refused.
void drop_answered(frame_queue& queue, long long& taken, long long& refused);

// RELP: frames written whole and not yet dropped.
long long frames_in_flight(const frame_queue& queue);

// RELP: the offset up to which the queue may be written so that at most
// max_frames frames, and max_bytes bytes unless one frame is more, wait for
// an answer.
size_t window_end(const frame_queue& queue, size_t max_frames, size_t max_bytes);

// RELP, after rewind_frames: numbers every frame anew from first_txnr on,
// for a new session, and forgets the answers; returns the next free number.
std::uint32_t renumber_frames(frame_queue& queue, std::uint32_t first_txnr);
