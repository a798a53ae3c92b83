// SPDX-License-Identifier: Apache-2.0
// The frame queue (framing, what counts as acknowledged, where a new
// connection starts; RELP's answers, numbers and window), the reader of a RELP
// server's answers, the stream transport against a listener of the test's
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
#include <tuple>
#include <unistd.h>
#include <vector>

#include "frame_queue.h"
#include "relp_frames.h"
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

struct relp_reading_case {
    const char* name;
    std::string received;
    relp_read_result result;
    size_t consumed;     // ANSWER and INCOMPLETE: bytes taken off the front
    relp_answer answer;  // ANSWER: the fields
    std::string problem; // MALFORMED: why
};

relp_answer answer_of(std::uint32_t txnr, int code, const std::string& text,
                      const std::string& offers = "")
{
    relp_answer answer;
    answer.txnr = txnr;
    answer.code = code;
    answer.text = text;
    answer.offers = offers;
    return answer;
}

relp_answer server_closes()
{
    relp_answer answer;
    answer.serverclose = true;
    return answer;
}

// An oversized or negative length, garbage and an answer to number 0 are the
// hostile-server table's rows (tests/e2e/test_logfwd_relp_faults.py).
TEST(relp_answer_reader, reads_whole_frames_and_refuses_what_is_not_an_answer)
{
    const std::string offers = "relp_version=0\nrelp_software=librelp,1.11.0\ncommands=syslog";
    const std::string largest = "2 rsp 16384 200 " + std::string(16380, 'x') + "\n";
    const relp_answer none;
    const std::vector<relp_reading_case> cases = {
        {"taken", "2 rsp 6 200 OK\n", RELP_ANSWER, 15, answer_of(2, 200, "OK"), ""},
        {"one frame at a time", "2 rsp 6 200 OK\n3 rsp", RELP_ANSWER, 15, answer_of(2, 200, "OK"), ""},
        {"refused", "7 rsp 20 500 command disabled\n", RELP_ANSWER, 30,
         answer_of(7, 500, "command disabled"), ""},
        {"open's answer", "1 rsp 66 200 OK\n" + offers + "\n", RELP_ANSWER, 76,
         answer_of(1, 200, "OK", offers), ""},
        {"code alone", "4 rsp 3 200\n", RELP_ANSWER, 12, answer_of(4, 200, ""), ""},
        {"close's answer", "9 rsp 0\n", RELP_ANSWER, 8, answer_of(9, 0, ""), ""},
        {"serverclose", "0 serverclose 0\n", RELP_ANSWER, 16, server_closes(), ""},
        {"largest", largest, RELP_ANSWER, largest.size(),
         answer_of(2, 200, std::string(16380, 'x')), ""},
        {"nothing yet", "", RELP_INCOMPLETE, 0, none, ""},
        {"cut in the header", "2 rsp", RELP_INCOMPLETE, 0, none, ""},
        {"cut in the data", "2 rsp 6 200 O", RELP_INCOMPLETE, 0, none, ""},
        {"no newline yet", "2 rsp 6 200 OK", RELP_INCOMPLETE, 0, none, ""},
        {"largest, cut", largest.substr(0, largest.size() - 1), RELP_INCOMPLETE, 0, none, ""},
        {"one byte over", "2 rsp 16385 ", RELP_MALFORMED, 0, none, "an answer of 16385 bytes"},
        {"ten digits of length", "2 rsp 1234567890", RELP_MALFORMED, 0, none,
         "a frame with too long a data length"},
        {"ten digits of number", "1234567890 rsp 6 200 OK\n", RELP_MALFORMED, 0, none,
         "a frame with too long a transaction number"},
        {"two blanks", "2  rsp", RELP_MALFORMED, 0, none, "a frame with no command"},
        {"33 letters", "2 " + std::string(33, 'r'), RELP_MALFORMED, 0, none,
         "a frame with too long a command"},
        {"no blank after the number", "2rsp 6 200 OK\n", RELP_MALFORMED, 0, none,
         "a frame without a blank after its transaction number"},
        {"digit in the command", "2 r5p 6 200 OK\n", RELP_MALFORMED, 0, none,
         "a frame without a blank after its command"},
        {"no blank before the data", "2 rsp 6x200 OK\n", RELP_MALFORMED, 0, none,
         "a frame without a blank before its data"},
        {"data longer than said", "2 rsp 2 200 OK\n", RELP_MALFORMED, 0, none,
         "a frame without a newline at its end"},
        {"a command", "2 syslog 3 abc\n", RELP_MALFORMED, 0, none,
         "an unexpected \"syslog\" frame with transaction number 2"},
        {"numbered serverclose", "3 serverclose 0\n", RELP_MALFORMED, 0, none,
         "an unexpected \"serverclose\" frame with transaction number 3"},
        {"no code", "2 rsp 2 OK\n", RELP_MALFORMED, 0, none, "an answer without a status code"},
        {"code run on", "2 rsp 5 200OK\n", RELP_MALFORMED, 0, none, "an answer without a status code"},
    };
    for (const relp_reading_case& row : cases) {
        SCOPED_TRACE(row.name);
        std::string received = row.received;
        relp_answer answer;
        std::string problem = "left over";
        ASSERT_EQ(read_relp_answer(received, answer, problem), row.result);
        if (row.result == RELP_MALFORMED) {
            EXPECT_EQ(problem, row.problem);
            continue;
        }
        EXPECT_EQ(problem, "");
        EXPECT_EQ(received, row.received.substr(row.consumed));
        if (row.result == RELP_ANSWER) {
            EXPECT_EQ((std::make_tuple(answer.serverclose, answer.txnr, answer.code, answer.text,
                                       answer.offers)),
                      (std::make_tuple(row.answer.serverclose, row.answer.txnr, row.answer.code,
                                       row.answer.text, row.answer.offers)));
        }
    }
}

TEST(relp_answer_reader, finds_the_syslog_command_among_the_offers)
{
    const std::vector<std::pair<std::string, bool>> cases = {
        {"relp_version=0\ncommands=syslog", true},
        {"commands=eventlog,syslog\nrelp_software=x", true},
        {"relp_version=0\nrelp_software=x,syslog", false},
        {"commands=syslogs", false},
        {"commands=", false},
        {"", false},
    };
    for (const auto& [offers, offered] : cases)
        EXPECT_EQ(relp_offers_command(offers, "syslog"), offered) << offers;
}

std::string syslog_frame(std::uint32_t txnr, const std::string& message)
{
    std::string frame;
    append_relp_frame(frame, txnr, "syslog", message);
    return frame;
}

// RELP frames of messages numbered from first_txnr on, all written.
frame_queue relp_queue_of(const std::vector<std::string>& messages, std::uint32_t first_txnr)
{
    frame_queue queue;
    std::uint32_t txnr = first_txnr;
    for (const std::string& message : messages) {
        add_relp_frame(queue, message, txnr);
        txnr = next_txnr(txnr);
    }
    note_written(queue, queue.bytes.size(), queue.bytes.size(), true);
    return queue;
}

struct settled {
    long long taken;
    long long refused;
    bool operator==(const settled& other) const
    {
        return taken == other.taken && refused == other.refused;
    }
};

settled drop(frame_queue& queue)
{
    settled counted{-1, -1};
    drop_answered(queue, counted.taken, counted.refused);
    return counted;
}

TEST(frame_queue, relp_answers_out_of_order_count_in_order)
{
    frame_queue queue = relp_queue_of({"<15>a", "<15>b", "<15>c", "<15>d"}, 2);
    EXPECT_EQ(queue.bytes, "2 syslog 5 <15>a\n3 syslog 5 <15>b\n4 syslog 5 <15>c\n5 syslog 5 <15>d\n");
    EXPECT_TRUE(answer_frame(queue, 4, true, "200 OK"));
    EXPECT_TRUE(answer_frame(queue, 3, false, "500 command disabled"));
    EXPECT_EQ(drop(queue), (settled{0, 0}));  // 2 has no answer yet: nothing counts
    EXPECT_TRUE(answer_frame(queue, 2, true, "200 OK"));
    EXPECT_EQ(drop(queue), (settled{2, 1}));
    EXPECT_EQ(queue.refusal, "500 command disabled");
    EXPECT_EQ(frames_in_flight(queue), 1);
    EXPECT_TRUE(answer_frame(queue, 5, true, "200 OK"));
    EXPECT_EQ(drop(queue), (settled{1, 0}));
    EXPECT_EQ(frames_in(queue), 0);
}

TEST(frame_queue, relp_answers_to_no_frame_in_flight_are_refused)
{
    // 2 and 3 written whole, 4 half written, 5 not at all; 2 answered and
    // dropped, 3 answered and not dropped yet.
    frame_queue queue;
    for (std::uint32_t txnr = 2; txnr <= 5; ++txnr)
        add_relp_frame(queue, "<15>x", txnr);
    const size_t frame_size = syslog_frame(2, "<15>x").size();
    note_written(queue, frame_size * 2 + 3, frame_size * 2 + 3, true);
    ASSERT_TRUE(answer_frame(queue, 2, true, "200 OK"));
    ASSERT_EQ(drop(queue), (settled{1, 0}));
    ASSERT_TRUE(answer_frame(queue, 3, true, "200 OK"));
    const std::vector<std::pair<const char*, std::uint32_t>> cases = {
        {"answered and dropped", 2}, {"answered, not dropped", 3}, {"half written", 4},
        {"not written", 5},          {"never made", 6},            {"far off", 77},
        {"the hints' number", 0},    {"the last", RELP_LAST_TXNR}, {"past the last", RELP_LAST_TXNR + 1},
    };
    for (const auto& [name, txnr] : cases) {
        EXPECT_FALSE(answer_frame(queue, txnr, true, "200 OK")) << name;
        EXPECT_FALSE(answer_frame(queue, txnr, false, "500 no")) << name;
    }
    EXPECT_EQ(queue.refusal, "");
    EXPECT_EQ(drop(queue), (settled{1, 0}));  // 3, once
    EXPECT_EQ(frames_in(queue), 2);
    EXPECT_EQ(frames_in_flight(queue), 0);
}

TEST(frame_queue, a_new_relp_session_numbers_the_frames_left_from_2)
{
    // Messages with blanks, a newline and nothing at all: each is found by its length.
    const std::vector<std::string> messages = {"<15>gone", "<15>a b c", "<15>two\nlines", "", "<15>z"};
    frame_queue queue = relp_queue_of(messages, 40);
    ASSERT_TRUE(answer_frame(queue, 40, true, "200 OK"));
    ASSERT_TRUE(answer_frame(queue, 42, true, "200 OK"));  // answered out of order: forgotten
    ASSERT_EQ(drop(queue), (settled{1, 0}));
    rewind_frames(queue);
    EXPECT_EQ(renumber_frames(queue, 2), 6U);
    EXPECT_EQ(queue.bytes, "2 syslog 9 <15>a b c\n3 syslog 13 <15>two\nlines\n4 syslog 0\n"
                           "5 syslog 5 <15>z\n");
    EXPECT_EQ((std::vector<size_t>{queue.start, queue.written, unwritten_size(queue)}),
              (std::vector<size_t>{0, 0, queue.bytes.size()}));
    EXPECT_EQ(frames_in(queue), 4);
    EXPECT_EQ(frames_in_flight(queue), 0);
    EXPECT_FALSE(answer_frame(queue, 2, true, "200 OK"));  // not written in this session yet
    note_written(queue, queue.bytes.size(), queue.bytes.size(), true);
    for (std::uint32_t txnr : {2U, 3U, 4U, 5U})
        EXPECT_TRUE(answer_frame(queue, txnr, true, "200 OK")) << txnr;
    EXPECT_EQ(drop(queue), (settled{4, 0}));
}

TEST(frame_queue, relp_numbers_wrap_after_999999999)
{
    EXPECT_EQ(next_txnr(RELP_LAST_TXNR - 1), RELP_LAST_TXNR);
    EXPECT_EQ(next_txnr(RELP_LAST_TXNR), 1U);
    frame_queue queue = relp_queue_of({"<15>a", "<15>b", "<15>c", "<15>d"}, RELP_LAST_TXNR - 1);
    EXPECT_EQ(queue.bytes, "999999998 syslog 5 <15>a\n999999999 syslog 5 <15>b\n1 syslog 5 <15>c\n"
                           "2 syslog 5 <15>d\n");
    EXPECT_FALSE(answer_frame(queue, 3, true, "200 OK"));
    EXPECT_TRUE(answer_frame(queue, 1, true, "200 OK"));
    EXPECT_TRUE(answer_frame(queue, RELP_LAST_TXNR - 1, true, "200 OK"));
    EXPECT_TRUE(answer_frame(queue, RELP_LAST_TXNR, false, "500 no"));
    EXPECT_EQ(drop(queue), (settled{2, 1}));
    rewind_frames(queue);
    EXPECT_EQ(renumber_frames(queue, RELP_LAST_TXNR), 1U);
    EXPECT_EQ(queue.bytes, "999999999 syslog 5 <15>d\n");
}

struct window_case {
    const char* name;
    size_t frames;  // of 20 bytes each: "N syslog 8 <15>line\n", N of one digit
    size_t max_frames;
    size_t max_bytes;
    size_t expected_frames;  // in the window
};

TEST(frame_queue, the_relp_window_keeps_to_both_limits_and_lets_one_frame_out)
{
    const std::vector<window_case> cases = {
        {"frames the limit", 6, 3, 1000, 3},
        {"bytes the limit", 6, 5, 60, 3},
        {"bytes between two frames", 6, 5, 59, 2},
        {"both at once", 6, 3, 60, 3},
        {"all fit", 3, 8, 1000, 3},
        {"one frame over the bytes", 6, 5, 10, 1},
        {"no frames allowed", 6, 0, 0, 1},
        {"empty queue", 0, 3, 1000, 0},
    };
    for (const window_case& row : cases) {
        SCOPED_TRACE(row.name);
        frame_queue queue = relp_queue_of(std::vector<std::string>(row.frames, "<15>line"), 2);
        ASSERT_EQ(queue.bytes.size(), row.frames * 20);
        EXPECT_EQ(window_end(queue, row.max_frames, row.max_bytes), row.expected_frames * 20);
    }
    // The window starts at the first frame not answered yet.
    frame_queue queue = relp_queue_of(std::vector<std::string>(6, "<15>line"), 2);
    ASSERT_TRUE(answer_frame(queue, 2, true, "200 OK"));
    ASSERT_EQ(drop(queue), (settled{1, 0}));
    EXPECT_EQ(window_end(queue, 2, 1000), 60U);
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
