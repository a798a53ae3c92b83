// SPDX-License-Identifier: Apache-2.0
// stream_transport.cpp: the life of the stream: frames kept until the server
// acknowledged (TCP) or answered (RELP) them, writes that never block, waits
// in slices that a stop signal ends, a break when the server closes, fails,
// sends what it must not, or makes no progress for the stall limit, and a
// run-wide budget of reconnections: MAX_RECONNECTIONS in a row without a line
// acknowledged in between, the pause doubling meanwhile, and MAX_STALLS
// stalls whatever was acknowledged between them: a server that stops reading
// lets its kernel take a buffer's worth on every new connection, which must
// not hold the run for hours. The calls drive the link to their goal
// themselves and tell the listener of every break and reconnection on the way.
#include "stream_transport.h"

#include <algorithm>
#include <poll.h>

#include "ctrltools_version.h"
#include "monotonic_clock.h"
#include "relp_frames.h"
#include "stop_signals.h"

namespace {
const size_t BUFFER_SIZE = 64 * 1024;  // unwritten bytes gathered before a write
const int CONNECT_TIMEOUT_MS = 5000;   // each address's TCP connection, TLS, RELP's open
const long long STALL_LIMIT_MS = 30000;
const int FIRST_BACKOFF_MS = 250;
const int MAX_BACKOFF_MS = 4000;
const int MAX_RECONNECTIONS = 5;
const int MAX_STALLS = 2;
const int MAX_ACK_LOOK_MS = 100;
const int CLOSE_WAIT_MS = 2000;
// RELP commands that may wait for their answers at a time, and their bytes:
// enough that a path of 40 ms round trip is not the limit (bench/README.md).
const size_t RELP_WINDOW_FRAMES = 8192;
const size_t RELP_WINDOW_BYTES = 512 * 1024;

enum drive_goal { UNTIL_ROOM, UNTIL_ACKNOWLEDGED };

std::string stall_reason(const stream_link& link)
{
    return std::string(link.target.relp ? "no answer" : "no progress") + " for " +
           std::to_string(STALL_LIMIT_MS / 1000) + " s";
}

std::string stalled_out_reason(const stream_link& link)
{
    return std::string("the server stopped ") + (link.target.relp ? "answering (" : "reading (") +
           stall_reason(link) + ", " + std::to_string(MAX_STALLS) + " times in this run)";
}

// Writes all of bytes, small ones (RELP's open and close), by deadline_ms.
link_status write_whole(stream_link& link, const std::string& bytes, long long deadline_ms,
                        const link_status& too_late)
{
    for (size_t done = 0; done < bytes.size();) {
        link_status failure;
        const ssize_t taken = wire_write(link.wire, bytes.data() + done, bytes.size() - done, failure);
        if (taken == -1)
            return failure;
        done += static_cast<size_t>(taken);
        if (done < bytes.size()) {
            const link_status waited = wait_until(link.wire.tcp.fd, POLLOUT, deadline_ms, too_late);
            if (waited.outcome != LINK_OK)
                return waited;
        }
    }
    return link_status{};
}

// The next whole answer of the server, by deadline_ms: LINK_OK with answer,
// a malformed answer (with outcome malformed), a break, LINK_STOPPED, or
// too_late.
link_status await_answer(stream_link& link, relp_answer& answer, long long deadline_ms,
                         const link_status& too_late, link_outcome malformed)
{
    for (;;) {
        std::string problem;
        const relp_read_result read = read_relp_answer(link.relp.received, answer, problem);
        if (read == RELP_ANSWER)
            return link_status{};
        if (read == RELP_MALFORMED)
            return link_status{malformed, "a malformed answer: " + problem};
        const link_status waited = wait_until(link.wire.tcp.fd, POLLIN, deadline_ms, too_late);
        if (waited.outcome != LINK_OK)
            return waited;
        const link_status received = wire_receive(link.wire, &link.relp.received);
        if (received.outcome != LINK_OK &&
            read_relp_answer(link.relp.received, answer, problem) != RELP_ANSWER)
            return received;
        if (received.outcome != LINK_OK)
            return link_status{};  // the answer came before the close; the close shows next time
    }
}

// An answer without data (code 0) is the answer to "close" alone: to "open"
// or to a line it gives no verdict, and is malformed there.
const char* const NO_STATUS = "a malformed answer: an answer without a status code";

// The server's words on a command: its code, then its text when it gave one.
std::string answer_words(const relp_answer& answer)
{
    return std::to_string(answer.code) + (answer.text.empty() ? "" : " " + answer.text);
}

// RELP's "open", and the server's answer: it must take the session and offer
// the syslog command, or the server has refused logfwd (LINK_REFUSED).
link_status open_relp_session(stream_link& link)
{
    const long long deadline_ms = monotonic_ms() + CONNECT_TIMEOUT_MS;
    const link_status too_late{LINK_REFUSED, "no answer to open within " +
                                                 std::to_string(CONNECT_TIMEOUT_MS / 1000) + " s"};
    std::string open;
    append_relp_frame(open, 1, "open", relp_open_offers(CTRLTOOLS_VERSION));
    link.relp.received.clear();
    link_status status = write_whole(link, open, deadline_ms, too_late);
    relp_answer answer;
    // A malformed answer refuses the session; a connection lost meanwhile
    // (closed, reset) gave no verdict on it and is a break.
    if (status.outcome == LINK_OK)
        status = await_answer(link, answer, deadline_ms, too_late, LINK_REFUSED);
    if (status.outcome != LINK_OK)
        return status;
    if (answer.serverclose)
        return link_status{LINK_BROKEN, "the server closed the session"};
    if (answer.txnr != 1)
        return link_status{LINK_REFUSED, "an answer to transaction " + std::to_string(answer.txnr) +
                                             " instead of open"};
    if (answer.code == 0)
        return link_status{LINK_REFUSED, NO_STATUS};
    if (answer.code != 200)
        return link_status{LINK_REFUSED, "the server refused the session: " + answer_words(answer)};
    if (!relp_offers_command(answer.offers, "syslog"))
        return link_status{LINK_REFUSED, "the server does not offer the syslog command"};
    link.relp.next_txnr = renumber_frames(link.frames, 2);
    return status;
}

// Notes each whole answer that came; a break for anything the server must
// not send: a malformed frame, an answer to a command not waiting for one, or
// its hint that it closes the session.
link_status take_answers(stream_link& link)
{
    for (;;) {
        relp_answer answer;
        std::string problem;
        const relp_read_result read = read_relp_answer(link.relp.received, answer, problem);
        if (read == RELP_INCOMPLETE)
            return link_status{};
        if (read == RELP_MALFORMED)
            return link_status{LINK_BROKEN, "a malformed answer: " + problem};
        if (answer.serverclose)
            return link_status{LINK_BROKEN, "the server closed the session"};
        if (answer.code == 0)
            return link_status{LINK_BROKEN, NO_STATUS};
        if (!answer_frame(link.frames, answer.txnr, answer.code == 200, answer_words(answer)))
            return link_status{LINK_BROKEN, "an answer to transaction " + std::to_string(answer.txnr) +
                                                ", which waits for none"};
        link.progress.last_ms = monotonic_ms();
    }
}

// A connection, and over RELP its session. LINK_BROKEN leaves it standing:
// the server hung up right after the handshake, and the caller tells of the
// break.
link_status connect_link(stream_link& link)
{
    link_status status = wire_connect(link.wire, link.target.addresses, link.target.host,
                                      CONNECT_TIMEOUT_MS);
    if (status.outcome == LINK_OK && link.target.relp) {
        status = open_relp_session(link);
        // What came with the answer to open (nothing is owed yet): serverclose, say.
        if (status.outcome == LINK_OK)
            status = take_answers(link);
        if (status.outcome != LINK_OK && status.outcome != LINK_BROKEN)
            wire_abort(link.wire);
    }
    link.progress = delivery_progress{0, monotonic_ms(), 1};
    return status;
}

void count_progress(stream_link& link, long long taken)
{
    if (taken <= 0)
        return;
    link.progress.last_ms = monotonic_ms();
    link.budget.in_a_row = 0;
    link.budget.pause_ms = FIRST_BACKOFF_MS;
}

// Counts the frames the server's TCP has acknowledged by now as sent; a line
// acknowledged gives the reconnection budget back.
void settle_tcp(stream_link& link, delivery_count& count)
{
    std::uint64_t unacknowledged = 0;
    if (!link.wire.standing || !wire_unacknowledged(link.wire, unacknowledged))
        return;
    delivery_progress& progress = link.progress;
    const std::uint64_t written = wire_written(link.wire);
    const std::uint64_t acked = unacknowledged < written ? written - unacknowledged : 0;
    if (acked > progress.acked) {
        progress.acked = acked;
        progress.last_ms = monotonic_ms();
        progress.next_look_ms = 1;
    }
    const long long lines = drop_acknowledged(link.frames, acked);
    count.sent += lines;
    count_progress(link, lines);
}

// Counts the frames the server has answered, in order: taken ones as sent,
// refused ones as failed with the server's words.
void settle_relp(stream_link& link, delivery_count& count)
{
    long long taken = 0;
    long long refused = 0;
    drop_answered(link.frames, taken, refused);
    count.sent += taken;
    count_failure(count, "refused by the server: " + link.frames.refusal, refused);
    if (refused > 0)
        link.frames.refusal.clear();
    count_progress(link, taken);
}

void settle(stream_link& link, delivery_count& count)
{
    if (link.target.relp)
        settle_relp(link, count);
    else
        settle_tcp(link, count);
}

// What the server sent: answers over RELP, else nothing worth keeping. The
// answers that came before a close count.
link_status receive(stream_link& link)
{
    if (!link.target.relp)
        return wire_receive(link.wire, nullptr);
    const link_status received = wire_receive(link.wire, &link.relp.received);
    const link_status answers = take_answers(link);
    return answers.outcome != LINK_OK ? answers : received;
}

// What the connection acknowledged or answered counts; the rest goes out
// again on the next.
void break_link(stream_link& link, const std::string& reason, delivery_count& count)
{
    settle(link, count);
    wire_abort(link.wire);
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

// The event for a connection the server refused for good: its verdict on
// TLS, or on the RELP session.
transport_event refusal(const link_status& status)
{
    return transport_event{status.outcome == LINK_TLS_FAILED ? TRANSPORT_TLS_REFUSED
                                                             : TRANSPORT_SESSION_REFUSED,
                           status.reason};
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
        if (link.wire.standing) {
            link.tell(transport_event{TRANSPORT_RECONNECTED, ""});
            if (attempt.outcome == LINK_BROKEN)
                break_link(link, attempt.reason, count);
            return;
        }
    }
    // A server that is back but no longer passes verification, or no longer
    // takes the session, is named as such.
    if (attempt.outcome == LINK_TLS_FAILED || attempt.outcome == LINK_REFUSED)
        link.tell(refusal(attempt));
    budget.spent = true;
}

// The bytes that may be written now: under TLS a buffer's worth at a time
// (the frames it completes wait for all of its records); over RELP no more
// than the window.
size_t writable(const stream_link& link)
{
    const frame_queue& frames = link.frames;
    size_t size = unwritten_size(frames);
    if (link.target.relp) {
        const size_t end = window_end(frames, RELP_WINDOW_FRAMES, RELP_WINDOW_BYTES);
        size = end > frames.written ? std::min(size, end - frames.written) : 0;
    }
    return wire_is_tls(link.wire) ? std::min(size, BUFFER_SIZE) : size;
}

// Writes what may be written, as much as the socket takes: the bytes taken (0:
// the socket is full), or -1 with failure set.
ssize_t write_some(stream_link& link, size_t size, link_status& failure)
{
    frame_queue& frames = link.frames;
    const ssize_t taken = wire_write(link.wire, frames.bytes.data() + frames.written, size, failure);
    if (taken > 0)
        note_written(frames, static_cast<size_t>(taken), wire_written(link.wire),
                     !wire_is_tls(link.wire));
    return taken;
}

// A wait of at most one slice: for room in the socket, for answers, or for
// acknowledgements (looked for at doubling intervals). A stall once nothing
// was acknowledged or answered for the stall limit.
link_status wait_for_progress(stream_link& link, bool can_write)
{
    delivery_progress& progress = link.progress;
    if (monotonic_ms() - progress.last_ms >= STALL_LIMIT_MS)
        return link_status{LINK_STALLED, stall_reason(link)};
    const int fd = link.wire.tcp.fd;
    if (can_write || link.target.relp) {
        poll_unless_stopped(fd, can_write ? POLLOUT | POLLIN : POLLIN, static_cast<int>(STALL_LIMIT_MS));
    } else {
        poll_unless_stopped(fd, POLLIN, progress.next_look_ms);
        progress.next_look_ms = std::min(progress.next_look_ms * 2, MAX_ACK_LOOK_MS);
    }
    return link_status{};
}

// One step on a standing connection: what the server sent, if anything, is
// read (a close is a break), else a write unless the socket is still full;
// when nothing could be written, a wait.
link_status step(stream_link& link)
{
    stream_wire& wire = link.wire;
    const short ready = poll_unless_stopped(wire.tcp.fd, POLLIN | POLLRDHUP | (wire.full ? POLLOUT : 0), 0);
    if ((ready & POLLOUT) != 0)
        wire.full = false;
    if ((ready & ~POLLOUT) != 0) {
        const link_status incoming = receive(link);
        if (incoming.outcome != LINK_OK || link.target.relp)
            return incoming;  // answers are counted before anything else
    }
    const size_t size = writable(link);
    if (size > 0 && !wire.full) {
        link_status failure;
        const ssize_t taken = write_some(link, size, failure);
        if (taken != 0)
            return failure;
    }
    return wait_for_progress(link, size > 0);
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
        link.budget.last_break = stalled_out_reason(link);
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
        if (!link.wire.standing) {
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

// RELP's "close", and its answer within CLOSE_WAIT_MS: the server has then
// handled every command before it.
void close_relp_session(stream_link& link)
{
    const long long deadline_ms = monotonic_ms() + CLOSE_WAIT_MS;
    const link_status too_late{LINK_STALLED, ""};
    std::string close;
    append_relp_frame(close, link.relp.next_txnr, "close", "");
    if (write_whole(link, close, deadline_ms, too_late).outcome != LINK_OK)
        return;
    relp_answer answer;
    while (await_answer(link, answer, deadline_ms, too_late, LINK_BROKEN).outcome == LINK_OK &&
           !answer.serverclose && answer.txnr != link.relp.next_txnr) {
    }
}
}  // namespace

bool open_stream(stream_link& link, const addrinfo* addresses, const std::string& host,
                 const transport_settings& settings, transport_listener listener)
{
    link.target.addresses = addresses;
    link.target.host = host;
    link.target.framing = settings.framing;
    link.target.relp = settings.protocol == SYSLOG_RELP || settings.protocol == SYSLOG_RELP_TLS;
    link.tell = std::move(listener);
    link.budget.pause_ms = FIRST_BACKOFF_MS;
    if (settings.protocol == SYSLOG_TLS || settings.protocol == SYSLOG_RELP_TLS) {
        std::string error;
        link.target.trust = make_tls_context(settings.tls, error);
        if (!link.target.trust) {
            link.tell(transport_event{TRANSPORT_TLS_REFUSED, error});
            return false;
        }
        link.wire.trust = &link.target.trust;
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
    case LINK_REFUSED:
        link.tell(refusal(status));
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
    // The stall limit counts from the moment the server owes something.
    if (frames_in(link.frames) == 0)
        link.progress.last_ms = monotonic_ms();
    if (link.target.relp) {
        add_relp_frame(link.frames, message, link.relp.next_txnr);
        link.relp.next_txnr = next_txnr(link.relp.next_txnr);
    } else {
        add_frame(link.frames, message, link.target.framing);
    }
    if (unwritten_size(link.frames) >= BUFFER_SIZE)
        drive(link, count, UNTIL_ROOM);
}

void stream_flush(stream_link& link, delivery_count& count)
{
    drive(link, count, UNTIL_ACKNOWLEDGED);
}

void close_stream(stream_link& link)
{
    if (link.wire.standing && link.target.relp && frames_in(link.frames) == 0 && !stop_requested())
        close_relp_session(link);
    wire_close(link.wire, monotonic_ms() + CLOSE_WAIT_MS);
}
