// SPDX-License-Identifier: Apache-2.0
// stream_transport.cpp: the life of the stream: frames kept until the server's
// TCP acknowledged them, writes that never block, waits in slices that a stop
// signal ends, a break when the server closes, fails or makes no progress for
// the stall limit, and a run-wide budget of reconnections: MAX_RECONNECTIONS
// in a row without a line acknowledged in between, the pause doubling
// meanwhile, and MAX_STALLS stalls whatever was acknowledged between them: a
// server that stops reading lets its kernel take a buffer's worth on every
// new connection, which must not hold the run for hours. The calls drive the link to their goal themselves and tell the
// listener of every break and reconnection on the way.
#include "stream_transport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>

#include "monotonic_clock.h"
#include "stop_signals.h"

namespace {
const size_t BUFFER_SIZE = 64 * 1024;  // unwritten bytes gathered before a write
const int CONNECT_TIMEOUT_MS = 5000;   // each address's TCP connection, and the TLS handshake
const long long STALL_LIMIT_MS = 30000;
const int FIRST_BACKOFF_MS = 250;
const int MAX_BACKOFF_MS = 4000;
const int MAX_RECONNECTIONS = 5;
const int MAX_STALLS = 2;
const int MAX_ACK_LOOK_MS = 100;
const int CLOSE_WAIT_MS = 2000;

enum drive_goal { UNTIL_ROOM, UNTIL_ACKNOWLEDGED };

std::string no_progress()
{
    return "no progress for " + std::to_string(STALL_LIMIT_MS / 1000) + " s";
}

std::string stopped_reading()
{
    return "the server stopped reading (" + no_progress() + ", " + std::to_string(MAX_STALLS) +
           " times in this run)";
}

// The wire: the connection's bytes, plain or through TLS. The only place
// that tells the two apart.
bool is_tls(const stream_link& link)
{
    return static_cast<bool>(link.target.trust);
}

std::uint64_t wire_written(const stream_link& link)
{
    return is_tls(link) ? tls_wire_written(link.connection.tls) : link.connection.tcp.written;
}

// TCP to the first address that answers, then TLS with its checks on that one alone.
link_status wire_connect(stream_link& link)
{
    stream_connection& connection = link.connection;
    link_status status = tcp_connect(connection.tcp, link.target.addresses, CONNECT_TIMEOUT_MS);
    if (status.outcome == LINK_OK && is_tls(link))
        status = tls_connect(connection.tls, link.target.trust, connection.tcp.fd, link.target.host,
                             monotonic_ms() + CONNECT_TIMEOUT_MS);
    return status;
}

// Why a plain write failed: a server that closed its side first is named so,
// not by the reset that answered the write.
std::string write_failure(int fd, int error)
{
    const link_status incoming = tcp_read_incoming(fd);
    return incoming.outcome == LINK_BROKEN && incoming.reason == CLOSED_BY_SERVER
               ? CLOSED_BY_SERVER
               : strerror(error);
}

// As many of size bytes as the socket takes: their count (0: the socket is
// full), or -1 with failure set.
ssize_t wire_write(stream_link& link, const char* data, size_t size, link_status& failure)
{
    if (is_tls(link))
        return tls_send(link.connection.tls, data, size, failure);
    const ssize_t taken = tcp_send(link.connection.tcp, data, size);
    if (taken == -1)
        failure = link_status{LINK_BROKEN, write_failure(link.connection.tcp.fd, errno)};
    return taken;
}

link_status wire_read_incoming(stream_link& link)
{
    return is_tls(link) ? tls_read_incoming(link.connection.tls)
                        : tcp_read_incoming(link.connection.tcp.fd);
}

// Ends a connection that broke or failed: no close_notify, and nothing more
// of it reaches the server.
void wire_abort(stream_link& link)
{
    link.connection.tls = tls_session();
    tcp_abort(link.connection.tcp);
    link.connection.standing = false;
}

// A connection. A server that answered and then failed the handshake or the
// verification has given the verdict on the host: trying the next address
// would hide a refusal (an impostor, an expired certificate) behind a later
// "Connection refused", or pass it by silently. LINK_BROKEN leaves it
// standing: the server hung up right after the handshake, and the caller
// tells of the break.
link_status connect_link(stream_link& link)
{
    const link_status status = wire_connect(link);
    if (status.outcome != LINK_OK && status.outcome != LINK_BROKEN) {
        wire_abort(link);
        return status;
    }
    link.connection.standing = true;
    link.acknowledgement = tcp_acknowledgement{0, monotonic_ms(), 1};
    return status;
}

// Counts the frames the server's TCP has acknowledged by now as sent; a line
// acknowledged gives the reconnection budget back.
void settle(stream_link& link, delivery_count& count)
{
    std::uint64_t unacknowledged = 0;
    if (!link.connection.standing || !tcp_unacknowledged(link.connection.tcp.fd, unacknowledged))
        return;
    tcp_acknowledgement& acknowledgement = link.acknowledgement;
    const std::uint64_t written = wire_written(link);
    const std::uint64_t acked = unacknowledged < written ? written - unacknowledged : 0;
    if (acked > acknowledgement.acked) {
        acknowledgement.acked = acked;
        acknowledgement.progress_ms = monotonic_ms();
        acknowledgement.next_look_ms = 1;
    }
    const long long lines = drop_acknowledged(link.frames, acked);
    count.sent += lines;
    if (lines > 0) {
        link.budget.in_a_row = 0;
        link.budget.pause_ms = FIRST_BACKOFF_MS;
    }
}

// What the connection acknowledged counts; the rest goes out again on the next.
void break_link(stream_link& link, const std::string& reason, delivery_count& count)
{
    settle(link, count);
    wire_abort(link);
    rewind_frames(link.frames);
    link.budget.last_break = reason;
    link.tell(transport_event{TRANSPORT_LOST, reason});
}

// The pause before a new connection, told a second at a time; false when a
// stop signal ended it.
bool back_off(stream_link& link, int pause_ms)
{
    for (int left_ms = pause_ms; left_ms > 0; left_ms -= 1000) {
        link.tell(transport_event{TRANSPORT_WAITING, "reconnecting", (left_ms + 999) / 1000});
        if (!pause_unless_stopped(std::min(left_ms, 1000)))
            return false;
    }
    return true;
}

// New connections with a doubling pause until one stands, the budget is
// spent (the link gives up) or a stop signal comes.
void reconnect(stream_link& link, delivery_count& count)
{
    reconnection_budget& budget = link.budget;
    link_status attempt;
    while (budget.in_a_row < MAX_RECONNECTIONS) {
        if (!back_off(link, budget.pause_ms))
            return;
        ++budget.in_a_row;
        budget.pause_ms = std::min(budget.pause_ms * 2, MAX_BACKOFF_MS);
        attempt = connect_link(link);
        if (attempt.outcome == LINK_STOPPED)
            return;
        if (link.connection.standing) {
            link.tell(transport_event{TRANSPORT_RECONNECTED, ""});
            if (attempt.outcome == LINK_BROKEN)
                break_link(link, attempt.reason, count);
            return;
        }
    }
    // A server that is back but no longer passes verification is named as such.
    if (attempt.outcome == LINK_TLS_FAILED)
        link.tell(transport_event{TRANSPORT_TLS_REFUSED, attempt.reason});
    budget.spent = true;
}

// Writes unwritten bytes, as many as the socket takes: their count (0: the
// socket is full), or -1 with failure set. Under TLS at most a buffer's worth
// at a time: the frames it completes wait for all of its records.
ssize_t write_some(stream_link& link, link_status& failure)
{
    frame_queue& frames = link.frames;
    const size_t size = unwritten_size(frames);
    const ssize_t taken = wire_write(link, frames.bytes.data() + frames.written,
                                     is_tls(link) ? std::min(size, BUFFER_SIZE) : size, failure);
    if (taken > 0)
        note_written(frames, static_cast<size_t>(taken), wire_written(link), !is_tls(link));
    return taken;
}

// A wait of at most one slice: for room in the socket, or for acknowledgements.
// A break once nothing was acknowledged for the stall limit.
link_status wait_for_progress(stream_link& link)
{
    tcp_acknowledgement& acknowledgement = link.acknowledgement;
    if (monotonic_ms() - acknowledgement.progress_ms >= STALL_LIMIT_MS)
        return link_status{LINK_STALLED, no_progress()};
    const int fd = link.connection.tcp.fd;
    if (unwritten_size(link.frames) > 0) {
        poll_unless_stopped(fd, POLLOUT | POLLIN, static_cast<int>(STALL_LIMIT_MS));
    } else {
        poll_unless_stopped(fd, POLLIN, acknowledgement.next_look_ms);
        acknowledgement.next_look_ms = std::min(acknowledgement.next_look_ms * 2, MAX_ACK_LOOK_MS);
    }
    return link_status{};
}

// One step on a standing connection: what the server sent, if anything, is
// read (a close is a break), then a write; when nothing could be written, a wait.
link_status step(stream_link& link)
{
    if (poll_unless_stopped(link.connection.tcp.fd, POLLIN | POLLRDHUP, 0) != 0) {
        const link_status incoming = wire_read_incoming(link);
        if (incoming.outcome != LINK_OK)
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

// A break; a stall also counts against the stall budget, and spends the
// link's budget once it is used up.
void break_after(stream_link& link, const link_status& failure, delivery_count& count)
{
    break_link(link, failure.reason, count);
    if (failure.outcome == LINK_STALLED && ++link.budget.stalls >= MAX_STALLS) {
        link.budget.spent = true;
        link.budget.last_break = stopped_reading();
    }
}

void fail_frames(stream_link& link, delivery_count& count)
{
    count_failure(count, link.budget.last_break, frames_in(link.frames));
    clear_frames(link.frames);
}

// Writes and waits until goal is reached, a stop signal came or the link
// gave up, breaking and reconnecting on the way.
void drive(stream_link& link, delivery_count& count, drive_goal goal)
{
    while (!stop_requested()) {
        if (link.budget.spent) {
            fail_frames(link, count);
            return;
        }
        if (!link.connection.standing) {
            reconnect(link, count);
            continue;
        }
        settle(link, count);
        if (reached(link, goal))
            return;
        const link_status failure = step(link);
        if (failure.outcome == LINK_BROKEN || failure.outcome == LINK_STALLED)
            break_after(link, failure, count);
    }
    settle(link, count);
}
}  // namespace

bool open_stream(stream_link& link, const addrinfo* addresses, const std::string& host,
                 const transport_settings& settings, transport_listener listener)
{
    link.target.addresses = addresses;
    link.target.host = host;
    link.target.framing = settings.framing;
    link.tell = std::move(listener);
    link.budget.pause_ms = FIRST_BACKOFF_MS;
    if (settings.protocol == SYSLOG_TLS) {
        std::string error;
        link.target.trust = make_tls_context(settings.tls, error);
        if (!link.target.trust) {
            link.tell(transport_event{TRANSPORT_TLS_REFUSED, error});
            return false;
        }
    }
    const link_status status = connect_link(link);
    switch (status.outcome) {
    case LINK_OK:
    case LINK_STOPPED:  // the run ends without sending, as after a stop signal anywhere
        return true;
    case LINK_BROKEN:
    case LINK_STALLED: {
        delivery_count nothing_yet;
        break_link(link, status.reason, nothing_yet);
        return true;
    }
    case LINK_TLS_FAILED:
        link.tell(transport_event{TRANSPORT_TLS_REFUSED, status.reason});
        return false;
    case LINK_CONNECT_FAILED:
        link.tell(transport_event{TRANSPORT_NO_CONNECTION, status.reason});
        return false;
    }
    return false;
}

void stream_send(stream_link& link, std::string_view message, delivery_count& count)
{
    if (link.budget.spent) {
        count_failure(count, link.budget.last_break);
        return;
    }
    add_frame(link.frames, message, link.target.framing);
    if (unwritten_size(link.frames) >= BUFFER_SIZE)
        drive(link, count, UNTIL_ROOM);
}

void stream_flush(stream_link& link, delivery_count& count)
{
    drive(link, count, UNTIL_ACKNOWLEDGED);
}

void close_stream(stream_link& link)
{
    if (link.connection.standing && is_tls(link))
        tls_close(link.connection.tls, monotonic_ms() + CLOSE_WAIT_MS);
    link.connection.standing = false;
    tcp_close(link.connection.tcp);
}
