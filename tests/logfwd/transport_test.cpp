// SPDX-License-Identifier: Apache-2.0
// The TCP frame writer with its write call replaced (partial writes, EINTR,
// breaks), and the UDP pacer's schedule against a clock of the test's own.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "tcp_link.h"
#include "udp_pacer.h"

namespace {
// What the fake write call takes: at most chunk bytes per call, EINTR before
// every other call when asked, and a break (ECONNRESET) once break_after
// bytes are in. Bytes after the break land in the second string.
struct fake_kernel {
    std::vector<std::string> streams{std::string()};
    std::vector<size_t> call_sizes;
    size_t chunk = SIZE_MAX;
    bool interrupt = false;
    size_t break_after = SIZE_MAX;
    int calls = 0;
};
fake_kernel kernel;

ssize_t fake_write(int /*fd*/, const void* data, size_t size)
{
    if (kernel.interrupt && kernel.calls++ % 2 == 0) {
        errno = EINTR;
        return -1;
    }
    std::string& stream = kernel.streams.back();
    size_t taken = std::min(size, kernel.chunk);
    if (kernel.streams.size() == 1 && stream.size() + taken > kernel.break_after)
        taken = kernel.break_after - stream.size();
    if (taken == 0) {
        kernel.streams.emplace_back();
        errno = ECONNRESET;
        return -1;
    }
    kernel.call_sizes.push_back(taken);
    stream.append(static_cast<const char*>(data), taken);
    return static_cast<ssize_t>(taken);
}

class frame_writer_test : public testing::Test {
protected:
    void SetUp() override
    {
        kernel = fake_kernel();
        link = make_tcp_link(nullptr, "syslog.example", "514");
        link.write_call = fake_write;
        link.reconnect_attempts = 0;
    }
    void append(const std::vector<std::string>& messages)
    {
        for (const std::string& message : messages)
            append_frame(link, message, count);
    }

    tcp_link link;
    delivery_count count;
};

const std::vector<std::string> MESSAGES = {"<12>Jan 12 06:30:01 ctrl app[42]: disk almost full",
                                           "<15>", std::string("<11>\0\xff", 6)};
const std::string FRAMES = "50 <12>Jan 12 06:30:01 ctrl app[42]: disk almost full"
                           "4 <15>" + std::string("6 <11>\0\xff", 8);

TEST_F(frame_writer_test, writes_octet_counted_frames_in_one_call)
{
    append(MESSAGES);
    EXPECT_EQ(count.sent, 0);  // still in the buffer, not in the kernel
    flush_frames(link, count);
    EXPECT_EQ(kernel.streams, std::vector<std::string>{FRAMES});
    EXPECT_EQ(kernel.call_sizes, std::vector<size_t>{FRAMES.size()});
    EXPECT_EQ((std::vector<long long>{count.sent, count.failed}), (std::vector<long long>{3, 0}));
}

TEST_F(frame_writer_test, goes_on_after_partial_writes_and_eintr)
{
    kernel.chunk = 7;
    kernel.interrupt = true;
    append(MESSAGES);
    flush_frames(link, count);
    EXPECT_EQ(kernel.streams, std::vector<std::string>{FRAMES});
    EXPECT_EQ(count.sent, 3);
    EXPECT_EQ(count.failed, 0);
}

TEST_F(frame_writer_test, a_frame_that_would_cross_the_buffer_end_starts_the_next_write)
{
    const std::string message(1000, 'm');  // "1000 " and the message: 1005 bytes a frame
    const std::string frame = "1000 " + message;
    for (int i = 0; i < 66; ++i)
        append_frame(link, message, count);
    // 65 frames fill 65,325 of 65,536 bytes; the 66th would cross the end.
    EXPECT_EQ(kernel.call_sizes, std::vector<size_t>{65 * frame.size()});
    EXPECT_EQ(count.sent, 65);
    const std::string large(100000, 'L');  // larger than the buffer: alone, whole
    append_frame(link, large, count);
    flush_frames(link, count);
    EXPECT_EQ(kernel.call_sizes,
              (std::vector<size_t>{65 * frame.size(), frame.size(), 7 + large.size()}));
    std::string expected;
    for (int i = 0; i < 66; ++i)
        expected += frame;
    EXPECT_EQ(kernel.streams, std::vector<std::string>{expected + "100000 " + large});
    EXPECT_EQ(count.sent, 67);
}

TEST_F(frame_writer_test, counts_the_frames_not_taken_whole_as_failed_when_the_server_stays_away)
{
    kernel.break_after = FRAMES.find("4 <15>") + 2;  // in the middle of the second frame
    append(MESSAGES);
    testing::internal::CaptureStdout();
    flush_frames(link, count);
    append_frame(link, "later", count);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Connection to syslog.example port 514 lost: Connection reset by peer\n");
    EXPECT_EQ((std::vector<long long>{count.sent, count.failed}), (std::vector<long long>{1, 3}));
    EXPECT_EQ(count.first_error, ECONNRESET);
    EXPECT_TRUE(link.given_up);
}

TEST_F(frame_writer_test, counts_the_frame_whose_turn_found_the_connection_broken)
{
    kernel.break_after = 10 * 1005;  // ten whole frames of the 65 in the first write
    const std::string message(1000, 'm');
    testing::internal::CaptureStdout();
    for (int i = 0; i < 66; ++i)
        append_frame(link, message, count);  // the 66th makes the first write
    flush_frames(link, count);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ((std::vector<long long>{count.sent, count.failed}), (std::vector<long long>{10, 56}));
}

// A listening socket on loopback: connections complete in its backlog, so
// the link can connect again without anyone accepting.
class reconnect_test : public frame_writer_test {
protected:
    void SetUp() override
    {
        frame_writer_test::SetUp();
        listener = socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_NE(listener, -1);
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        ASSERT_EQ(listen(listener, 4), 0);
        socklen_t length = sizeof(address);
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        entry.ai_family = AF_INET;
        entry.ai_addr = reinterpret_cast<sockaddr*>(&address);
        entry.ai_addrlen = sizeof(address);
        link.address = &entry;
        link.reconnect_attempts = 1;
        ASSERT_EQ(connect_stream(link), 0);
    }
    void TearDown() override
    {
        close_stream(link);
        close(listener);
    }

    int listener = -1;
    sockaddr_in address{};
    addrinfo entry{};
};

TEST_F(reconnect_test, resends_from_the_first_frame_the_broken_connection_did_not_take_whole)
{
    kernel.chunk = 4;
    kernel.break_after = FRAMES.find("4 <15>") + 2;
    append(MESSAGES);
    testing::internal::CaptureStdout();
    flush_frames(link, count);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Connection to syslog.example port 514 lost: Connection reset by peer\n"
              "Reconnected to syslog.example port 514\n");
    EXPECT_EQ(kernel.streams, (std::vector<std::string>{FRAMES.substr(0, kernel.break_after),
                                                        FRAMES.substr(FRAMES.find("4 <15>"))}));
    EXPECT_EQ((std::vector<long long>{count.sent, count.failed}), (std::vector<long long>{3, 0}));
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
