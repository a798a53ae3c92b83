// SPDX-License-Identifier: Apache-2.0
// send_log_file through a UDP transport to a socket of the test's own on
// loopback: the report on standard output and the datagrams that arrive, for
// a file's lines, an empty file, and a stop signal that came before the
// first line. (The message bytes are message_test's; the unopenable file and
// the datagram too long for UDP are checked end to end, test_logfwd*.py.)
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "line_sender.h"
#include "scratch_dir.h"
#include "stop_signals.h"

namespace {
using datagrams = std::vector<std::string>;

class send_log_file_test : public testing::Test {
protected:
    void SetUp() override
    {
        receiver = socket(AF_INET, SOCK_DGRAM, 0);
        ASSERT_NE(receiver, -1);
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(receiver, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        socklen_t length = sizeof(address);
        getsockname(receiver, reinterpret_cast<sockaddr*>(&address), &length);
        destination.ai_family = AF_INET;
        destination.ai_socktype = SOCK_DGRAM;
        destination.ai_addr = reinterpret_cast<sockaddr*>(&address);
        destination.ai_addrlen = sizeof(address);
        alarm(20);  // a read that blocks fails the test instead of hanging it
    }
    void TearDown() override
    {
        alarm(0);
        request_stop(0);
        close(receiver);
    }

    // Sends path unpaced; returns what it printed, and the datagrams that arrived in received.
    std::string send(const std::string& path)
    {
        const transport_settings unpaced{SYSLOG_UDP, 0, FRAMING_OCTET_COUNTING, tls_settings()};
        const transport_handle transport =
            open_transport(&destination, "127.0.0.1", unpaced, [](const transport_event&) {});
        EXPECT_TRUE(transport);
        testing::internal::CaptureStdout();
        send_log_file(*transport, path);
        const std::string printed = testing::internal::GetCapturedStdout();
        std::vector<char> buffer(1 << 17);
        ssize_t n = 0;
        while ((n = recv(receiver, buffer.data(), buffer.size(), MSG_DONTWAIT)) >= 0)
            received.emplace_back(buffer.data(), static_cast<size_t>(n));
        return printed;
    }

    scratch_dir folder;
    int receiver = -1;
    sockaddr_in address{};
    addrinfo destination{};
    datagrams received;
};

TEST_F(send_log_file_test, sends_each_line_as_one_datagram_and_counts_them)
{
    struct send_case {
        const char* what;
        std::string content;
        int stop_signal;
        std::string report;  // with PATH for the file's path
        datagrams arrived;
    };
    const send_case cases[] = {
        {"lines, a last one without a newline",
         "Jan 12 06:30:01 ctrl user.warn app[42]: disk almost full\n\nno newline at the end", 0,
         "Successfully sent 3 logs from PATH file\n",
         {"<12>Jan 12 06:30:01 ctrl app[42]: disk almost full", "<15>", "<15>no newline at the end"}},
        {"empty file", "", 0, "Successfully sent 0 logs from PATH file\n", {}},
        {"stop signal before the first line", "a\nb\n", SIGTERM,
         "Successfully sent 0 logs from PATH file\n", {}},
    };
    for (const send_case& c : cases) {
        const std::string path = folder.write("messages", c.content);
        request_stop(c.stop_signal);
        received.clear();
        std::string report = c.report;
        report.replace(report.find("PATH"), 4, path);
        EXPECT_EQ(send(path), report) << c.what;
        EXPECT_EQ(received, c.arrived) << c.what;
    }
}
}  // namespace
