// SPDX-License-Identifier: Apache-2.0
// frame_queue.h: the frames of a syslog stream (RFC 6587: octet counting,
// "LEN SP MSG", or a newline after each message), kept from the moment they
// are framed until the server's TCP has acknowledged every byte of them, so
// that a new connection can send again whatever the old one may have lost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "transport_settings.h"

struct frame_mark {
    size_t end = 0;                 // offset just past the frame in frame_queue::bytes
    std::uint64_t acked_at = 0;     // wire bytes of the connection that must be acknowledged
                                    // for the whole frame; 0 until it is written whole
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
