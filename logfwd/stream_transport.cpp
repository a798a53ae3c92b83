// SPDX-License-Identifier: Apache-2.0
// stream_transport.cpp: the life of the stream: frames kept until the server's
// TCP acknowledged them, writes that never block, waits in slices that a stop
// signal ends, a break when the server closes, fails or makes no progress for
// 30 s, and a run-wide budget of reconnections: MAX_RECONNECTIONS in a row
// without a line acknowledged in between, the pause doubling meanwhile.
#include "stream_transport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>

#include "progress.h"

namespace {
const size_t BUFFER_SIZE = 64 * 1024;  // unwritten bytes gathered before a write
const int CONNECT_TIMEOUT_MS = 5000;   // each address's TCP connection, and the TLS handshake
const long long STALL_LIMIT_MS = 30000;
const int FIRST_BACKOFF_MS = 250;
const int MAX_BACKOFF_MS = 4000;
const int MAX_RECONNECTIONS = 5;
const int MAX_ACK_WAIT_MS = 100;
const int CLOSE_WAIT_MS = 2000;

enum drive_goal { UNTIL_ROOM, UNTIL_ACKNOWLEDGED };

bool is_tls(const stream_link& link)
{
    return static_cast<bool>(link.trust);
}

std::uint64_t wire_written(const stream_link& link)
{
    return is_tls(link) ? tls_wire_written(link.tls) : link.connection.written;
}

// Ends a connection that broke or failed: no close_notify, and nothing more
// of it reaches the server.
void drop_connection(stream_link& link)
{
    link.tls = tls_session();
    tcp_abort(link.connection);
    link.up = false;
}

// A connection: TCP to the first address that answers, then TLS with its
// checks on that one alone. A server that answered and then failed the
// handshake or the verification has given the verdict on the host: trying the
// next address would hide a refusal (an impostor, an expired certificate)
// behind a later "Connection refused", or pass it by silently.
// LINK_BROKEN leaves it up: the server hung up right after the handshake, and
// the caller reports the break.
link_status connect_link(stream_link& link)
{
    link_status status = tcp_connect(link.connection, link.addresses, CONNECT_TIMEOUT_MS);
    if (status.failure == LINK_FINE && is_tls(link))
        status = tls_connect(link.tls, link.trust.get(), link.connection.fd, link.host,
                             monotonic_ms() + CONNECT_TIMEOUT_MS);
    if (status.failure != LINK_FINE && status.failure != LINK_BROKEN) {
        drop_connection(link);
        return status;
    }
    link.up = true;
    link.acked = 0;
    link.progress_ms = monotonic_ms();
    link.ack_wait_ms = 1;
    return status;
}

// Counts the frames the server's TCP has acknowledged by now as sent; a line
// acknowledged gives the reconnection budget back.
void settle(stream_link& link, delivery_count& count)
{
    std::uint64_t unacknowledged = 0;
    if (!link.up || !tcp_unacknowledged(link.connection.fd, unacknowledged))
        return;
    const std::uint64_t written = wire_written(link);
    const std::uint64_t acked = unacknowledged < written ? written - unacknowledged : 0;
    if (acked > link.acked) {
        link.acked = acked;
        link.progress_ms = monotonic_ms();
        link.ack_wait_ms = 1;
    }
    const long long lines = drop_acknowledged(link.frames, acked);
    count.sent += lines;
    if (lines > 0) {
        link.reconnections = 0;
        link.backoff_ms = FIRST_BACKOFF_MS;
    }
}

// What the connection acknowledged counts; the rest goes out again on the next.
transport_event break_link(stream_link& link, const std::string& reason, delivery_count& count)
{
    settle(link, count);
    drop_connection(link);
    rewind_frames(link.frames);
    link.status = link_status{LINK_BROKEN, reason};
    return transport_event{TRANSPORT_LOST, reason};
}

// The pause before a new connection, counted down on the progress line a
// second at a time; false when a stop signal ended it.
bool back_off(int pause_ms)
{
    for (int left_ms = pause_ms; left_ms > 0; left_ms -= 1000) {
        progress_wait("reconnecting", (left_ms + 999) / 1000);
        if (!pause_unless_stopped(std::min(left_ms, 1000)))
            return false;
    }
    return true;
}

// New connections with a doubling pause until one stands, the budget is
// spent (the link gives up) or a stop signal comes.
void reconnect(stream_link& link, transport_events& events, delivery_count& count)
{
    link_status attempt;
    while (link.reconnections < MAX_RECONNECTIONS) {
        if (!back_off(link.backoff_ms))
            return;
        ++link.reconnections;
        link.backoff_ms = std::min(link.backoff_ms * 2, MAX_BACKOFF_MS);
        attempt = connect_link(link);
        if (attempt.failure == LINK_STOPPED)
            return;
        if (link.up) {
            events.push_back(transport_event{TRANSPORT_RECONNECTED, ""});
            if (attempt.failure == LINK_BROKEN)
                events.push_back(break_link(link, attempt.reason, count));
            return;
        }
    }
    // A server that is back but no longer passes verification is named as such.
    if (attempt.failure == LINK_TLS_FAILED)
        events.push_back(transport_event{TRANSPORT_TLS_REFUSED, attempt.reason});
    link.given_up = true;
}

link_status read_incoming(stream_link& link)
{
    return is_tls(link) ? tls_read_incoming(link.tls) : tcp_read_incoming(link.connection.fd);
}

// Why a plain write failed: a server that closed its side first is named so,
// not by the reset that answered the write.
std::string write_failure(int fd, int error)
{
    const link_status incoming = tcp_read_incoming(fd);
    return incoming.failure == LINK_BROKEN && incoming.reason == CLOSED_BY_SERVER
               ? CLOSED_BY_SERVER
               : strerror(error);
}

// Writes unwritten bytes, as many as the socket takes: their count (0: the
// socket is full), or -1 with failure set. Under TLS at most a buffer's worth
// at a time: the frames it completes wait for all of its records.
ssize_t write_some(stream_link& link, link_status& failure)
{
    frame_queue& frames = link.frames;
    const char* data = frames.bytes.data() + frames.written;
    const size_t size = unwritten_size(frames);
    ssize_t taken = 0;
    if (is_tls(link)) {
        taken = tls_send(link.tls, data, std::min(size, BUFFER_SIZE), failure);
    } else {
        taken = tcp_send(link.connection, data, size);
        if (taken == -1)
            failure = link_status{LINK_BROKEN, write_failure(link.connection.fd, errno)};
    }
    if (taken > 0)
        note_written(frames, static_cast<size_t>(taken), wire_written(link), !is_tls(link));
    return taken;
}

// A wait of at most one slice: for room in the socket, or for acknowledgements
// (checked at doubling intervals: no event tells of them). A break once
// nothing was acknowledged for the stall limit.
link_status wait_for_progress(stream_link& link)
{
    if (monotonic_ms() - link.progress_ms >= STALL_LIMIT_MS)
        return link_status{LINK_BROKEN, NO_PROGRESS};
    if (unwritten_size(link.frames) > 0) {
        tcp_wait(link.connection.fd, POLLOUT | POLLIN, static_cast<int>(STALL_LIMIT_MS));
    } else {
        tcp_wait(link.connection.fd, POLLIN, link.ack_wait_ms);
        link.ack_wait_ms = std::min(link.ack_wait_ms * 2, MAX_ACK_WAIT_MS);
    }
    return link_status{};
}

// One step on a standing connection: what the server sent, if anything, is
// read (a close is a break), then a write; when nothing could be written, a wait.
link_status step(stream_link& link)
{
    if (tcp_wait(link.connection.fd, POLLIN | POLLRDHUP, 0) != 0) {
        const link_status incoming = read_incoming(link);
        if (incoming.failure != LINK_FINE)
            return incoming;
    }
    if (unwritten_size(link.frames) > 0) {
        link_status failure;
        const ssize_t taken = write_some(link, failure);
        if (taken != 0)
            return failure;
    }
    return wait_for_progress(link);
}

bool reached(const stream_link& link, drive_goal goal)
{
    return goal == UNTIL_ROOM ? unwritten_size(link.frames) < BUFFER_SIZE
                              : frames_in(link.frames) == 0;
}

void fail_frames(stream_link& link, delivery_count& count)
{
    count_failure(count, link.status.reason, frames_in(link.frames));
    clear_frames(link.frames);
}

// Writes and waits until goal is reached, a stop signal came or the link
// gave up; returns early with what happened for the caller to print.
transport_events drive(stream_link& link, delivery_count& count, drive_goal goal)
{
    transport_events events;
    while (events.empty() && !stop_signalled()) {
        if (link.given_up) {
            fail_frames(link, count);
            break;
        }
        if (!link.up) {
            reconnect(link, events, count);
            continue;
        }
        settle(link, count);
        if (reached(link, goal))
            break;
        const link_status failure = step(link);
        if (failure.failure == LINK_BROKEN)
            events.push_back(break_link(link, failure.reason, count));
    }
    if (stop_signalled())
        settle(link, count);
    return events;
}
}  // namespace

bool open_stream(stream_link& link, transport_events& events)
{
    link.backoff_ms = FIRST_BACKOFF_MS;
    const link_status status = connect_link(link);
    if (status.failure == LINK_BROKEN) {
        delivery_count nothing_yet;
        events.push_back(break_link(link, status.reason, nothing_yet));
    } else if (status.failure == LINK_TLS_FAILED) {
        events.push_back(transport_event{TRANSPORT_TLS_REFUSED, status.reason});
    } else if (status.failure == LINK_CONNECT_FAILED) {
        events.push_back(transport_event{TRANSPORT_NO_CONNECTION, status.reason});
    }
    // Stopped: the run ends without sending, as after a stop signal anywhere.
    return status.failure != LINK_TLS_FAILED && status.failure != LINK_CONNECT_FAILED;
}

transport_events stream_send(stream_link& link, std::string_view message, delivery_count& count)
{
    if (link.given_up) {
        count_failure(count, link.status.reason);
        return {};
    }
    add_frame(link.frames, message, link.framing);
    if (unwritten_size(link.frames) < BUFFER_SIZE)
        return {};
    return drive(link, count, UNTIL_ROOM);
}

transport_events stream_flush(stream_link& link, delivery_count& count)
{
    return drive(link, count, UNTIL_ACKNOWLEDGED);
}

void close_stream(stream_link& link)
{
    if (link.up && is_tls(link))
        tls_close(link.tls, monotonic_ms() + CLOSE_WAIT_MS);
    link.up = false;
    tcp_close(link.connection);
}
