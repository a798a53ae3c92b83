// SPDX-License-Identifier: Apache-2.0
// The frame queue (framing, what counts as acknowledged, where a new
// connection starts), the stream transport against a listener of the test's
// own on loopback (a real kernel's acknowledgements), and the UDP pacer's
// schedule against a clock of the test's own.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "frame_queue.h"
#include "stop_signals.h"
#include "syslog_transport.h"
#include "udp_pacer.h"

namespace {
const std::vector<std::string> MESSAGES = {"<12>Jan 12 06:30:01 ctrl app[42]: disk almost full",
                                           "<15>", std::string("<11>\0\xff", 6)};
// 53, 6 and 8 bytes: the frames end at 53, 59 and 67.
const std::string FRAMES = "50 <12>Jan 12 06:30:01 ctrl app[42]: disk almost full"
                           "4 <15>" + std::string("6 <11>\0\xff", 8);

frame_queue queue_of(const std::vector<std::string>& messages,
                     stream_framing framing = FRAMING_OCTET_COUNTING)
{
    frame_queue queue;
    for (const std::string& message : messages)
        add_frame(queue, message, framing);
    return queue;
}

TEST(frame_queue, a_frame_counts_once_its_last_byte_is_acknowledged)
{
    frame_queue queue = queue_of(MESSAGES);
    EXPECT_EQ(queue.bytes, FRAMES);
    note_written(queue, 56, 56, true);  // TCP: the first frame and 3 bytes of the second
    EXPECT_EQ(drop_acknowledged(queue, 52), 0);
    EXPECT_EQ(drop_acknowledged(queue, 56), 1);
    note_written(queue, 11, 67, true);
    EXPECT_EQ(drop_acknowledged(queue, 66), 1);
    // A break: the next connection starts with the frame not wholly acknowledged.
    rewind_frames(queue);
    EXPECT_EQ(queue.bytes.substr(queue.written), FRAMES.substr(59));
    EXPECT_EQ(frames_in(queue), 1);
}

TEST(frame_queue, a_newline_framed_message_counts_once_its_newline_is_acknowledged)
{
    frame_queue queue = queue_of({"<15>", "<15>x"}, FRAMING_LF);
    note_written(queue, 11, 11, true);
    EXPECT_EQ(drop_acknowledged(queue, 4), 0);  // "<15>" without its newline
    EXPECT_EQ(drop_acknowledged(queue, 11), 2);
}

TEST(frame_queue, tls_frames_wait_for_the_whole_write)
{
    frame_queue queue = queue_of(MESSAGES);
    note_written(queue, 67, 1000, false);  // records and the handshake: 1000 wire bytes so far
    EXPECT_EQ(drop_acknowledged(queue, 999), 0);
    EXPECT_EQ(drop_acknowledged(queue, 1000), 3);
    EXPECT_EQ(unwritten_size(queue), 0U);
}

TEST(frame_queue, compacting_keeps_the_frames_that_wait)
{
    frame_queue queue = queue_of(std::vector<std::string>(1000, std::string(97, 'm')));
    ASSERT_EQ(queue.bytes.size(), 100000U);
    note_written(queue, 100000, 100000, true);
    add_frame(queue, "last", FRAMING_OCTET_COUNTING);
    EXPECT_EQ(drop_acknowledged(queue, 99900), 999);
    EXPECT_EQ(queue.start, 0U);  // compacted: one written frame and one unwritten are left
    rewind_frames(queue);
    EXPECT_EQ(queue.bytes.substr(queue.written), "97 " + std::string(97, 'm') + "4 last");
}

// A listening socket on loopback with a small receive buffer, so that a
// server that does not read stops acknowledging soon; connections complete in
// its backlog before anyone accepts them. The transport's events are kept,
// each with the count of lines sent when it came.
class stream_test : public testing::Test {
protected:
    void SetUp() override
    {
        listener = socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_NE(listener, -1);
        const int small = 4096;
        setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        ASSERT_EQ(listen(listener, 4), 0);
        socklen_t length = sizeof(address);
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        entry.ai_family = AF_INET;
        entry.ai_addr = reinterpret_cast<sockaddr*>(&address);
        entry.ai_addrlen = sizeof(address);
        const transport_settings tcp{SYSLOG_TCP, 0, FRAMING_OCTET_COUNTING, tls_settings()};
        transport = open_transport(&entry, "syslog.example", tcp, [this](const transport_event& event) {
            if (event.kind != TRANSPORT_WAITING)
                events.push_back(told{event.kind, event.reason, count.sent});
        });
        ASSERT_TRUE(transport);
        alarm(60);  // a wait that hangs fails the test instead
    }
    void TearDown() override
    {
        alarm(0);
        request_stop(0);
        transport.reset();
        close(listener);
    }
    void send_lines(int lines)
    {
        for (int line = 0; line < lines; ++line)
            send_message(*transport, std::string(97, 'm'), count);
    }
    std::vector<transport_event_kind> kinds() const
    {
        std::vector<transport_event_kind> result;
        for (const told& event : events)
            result.push_back(event.kind);
        return result;
    }

    struct told {
        transport_event_kind kind;
        std::string reason;
        long long sent;
    };
    int listener = -1;
    sockaddr_in address{};
    addrinfo entry{};
    transport_handle transport;
    delivery_count count;
    std::vector<told> events;
};

std::string read_to_end(int fd)
{
    std::string data;
    char chunk[65536];
    for (ssize_t got; (got = recv(fd, chunk, sizeof(chunk), 0)) > 0;)
        data.append(chunk, static_cast<size_t>(got));
    return data;
}

TEST_F(stream_test, a_server_that_closes_breaks_the_connection_and_the_next_gets_every_frame)
{
    const int first = accept(listener, nullptr, nullptr);
    close(first);  // an orderly close: FIN, not a reset
    for (const std::string& message : MESSAGES)
        send_message(*transport, message, count);
    flush_messages(*transport, count);
    EXPECT_EQ(kinds(), (std::vector<transport_event_kind>{TRANSPORT_LOST, TRANSPORT_RECONNECTED}));
    EXPECT_EQ(events.at(0).reason, "closed by the server");
    EXPECT_EQ((std::vector<long long>{count.sent, count.failed}), (std::vector<long long>{3, 0}));
    const int second = accept(listener, nullptr, nullptr);
    transport.reset();
    EXPECT_EQ(read_to_end(second), FRAMES);
    close(second);
}

TEST_F(stream_test, after_a_reset_the_next_connection_starts_at_the_first_frame_not_acknowledged)
{
    std::string second_stream;
    std::thread server([this, &second_stream] {
        const int first = accept(listener, nullptr, nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // logfwd waits on the full window
        const linger abort{1, 0};
        setsockopt(first, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
        close(first);
        const int second = accept(listener, nullptr, nullptr);
        second_stream = read_to_end(second);
        close(second);
    });
    send_lines(1000);
    flush_messages(*transport, count);
    transport.reset();
    server.join();
    ASSERT_EQ(kinds(), (std::vector<transport_event_kind>{TRANSPORT_LOST, TRANSPORT_RECONNECTED}));
    EXPECT_EQ(events[0].reason, "Connection reset by peer");
    // Taken by the first server's kernel, then lost with it: counted, not sent again.
    const long long acknowledged = events[0].sent;
    EXPECT_GT(acknowledged, 0);
    EXPECT_LT(acknowledged, 1000);
    std::string rest;
    for (long long line = acknowledged; line < 1000; ++line)
        rest += "97 " + std::string(97, 'm');
    EXPECT_EQ(second_stream, rest);
    EXPECT_EQ(count.sent, 1000);
    EXPECT_EQ(count.failed, 0);
}

TEST_F(stream_test, a_stop_signal_ends_the_wait_for_acknowledgements_with_honest_counts)
{
    const int silent = accept(listener, nullptr, nullptr);  // never reads
    send_lines(1000);
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        request_stop(SIGTERM);
    });
    const auto start = std::chrono::steady_clock::now();
    flush_messages(*transport, count);
    const auto waited = std::chrono::steady_clock::now() - start;
    stopper.join();
    EXPECT_TRUE(events.empty());
    EXPECT_LT(waited, std::chrono::seconds(3));  // not the 30 s of the stall limit
    // Only what the server's kernel acknowledged counts; the rest is neither sent nor failed.
    EXPECT_GT(count.sent, 0);
    EXPECT_LT(count.sent, 1000);
    EXPECT_EQ(count.failed, 0);
    close(silent);
}

const long long T0 = 1000000000000LL;  // any point of the monotonic clock
const long long MS = 1000000;

// Due times of count lines asked for at the given times (ns).
std::vector<long long> due_times(udp_pacer& pacer, const std::vector<long long>& asked_at)
{
    std::vector<long long> due;
    for (long long now : asked_at)
        due.push_back(pacer_next_due(pacer, now));
    return due;
}

TEST(udp_pacer, sends_bursts_on_an_absolute_schedule)
{
    udp_pacer pacer = make_udp_pacer(20000);  // bursts of 10, one every 0.5 ms
    EXPECT_EQ(pacer.burst, 10);
    std::vector<long long> asked(25, T0);
    asked[10] = T0 + MS * 6 / 10;  // woke up late, within one gap: the schedule holds
    for (int i = 11; i < 25; ++i)
        asked[i] = T0 + MS * 6 / 10;
    std::vector<long long> expected(10, T0);
    expected.insert(expected.end(), 10, T0 + MS / 2);
    expected.insert(expected.end(), 5, T0 + MS);
    EXPECT_EQ(due_times(pacer, asked), expected);
}

TEST(udp_pacer, starts_a_new_schedule_instead_of_catching_up)
{
    udp_pacer pacer = make_udp_pacer(20000);
    due_times(pacer, std::vector<long long>(10, T0));
    const long long late = T0 + 60000 * MS;  // the slow minute, say
    EXPECT_EQ(due_times(pacer, std::vector<long long>(11, late)),
              (std::vector<long long>{late, late, late, late, late, late, late, late, late, late,
                                      late + MS / 2}));
}

TEST(udp_pacer, keeps_exact_times_for_rates_that_do_not_divide_a_second)
{
    udp_pacer pacer = make_udp_pacer(3);
    EXPECT_EQ(pacer.burst, 1);
    EXPECT_EQ(due_times(pacer, {T0, T0, T0, T0, T0}),
              (std::vector<long long>{T0, T0 + 333333333, T0 + 666666666, T0 + 1000 * MS,
                                      T0 + 1333333333}));
}

TEST(udp_pacer, rate_zero_never_waits)
{
    udp_pacer pacer = make_udp_pacer(0);
    EXPECT_EQ(due_times(pacer, {T0, T0, T0 + 1}), (std::vector<long long>{T0, T0, T0 + 1}));
}
}  // namespace
