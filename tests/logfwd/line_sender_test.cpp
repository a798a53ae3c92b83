// SPDX-License-Identifier: Apache-2.0
// send_log_file against a UDP socket of the test's own on loopback: the
// datagrams that arrive, byte for byte, and the messages on standard output.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "line_sender.h"
#include "scratch_dir.h"

namespace {
using namespace std::string_literals;
using datagrams = std::vector<std::string>;

class send_log_file_test : public testing::Test {
protected:
    void SetUp() override
    {
        receiver = socket(AF_INET, SOCK_DGRAM, 0);
        sender = socket(AF_INET, SOCK_DGRAM, 0);
        ASSERT_NE(receiver, -1);
        ASSERT_NE(sender, -1);
        const int buffer_size = 4 << 20;
        setsockopt(receiver, SOL_SOCKET, SO_RCVBUF, &buffer_size, sizeof(buffer_size));
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(bind(receiver, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        socklen_t length = sizeof(address);
        getsockname(receiver, reinterpret_cast<sockaddr*>(&address), &length);
        destination.ai_family = AF_INET;
        destination.ai_addr = reinterpret_cast<sockaddr*>(&address);
        destination.ai_addrlen = sizeof(address);
        alarm(20);  // a read that blocks fails the test instead of hanging it
    }
    void TearDown() override
    {
        alarm(0);
        close(receiver);
        close(sender);
    }

    // Sends path; returns what it printed, and the datagrams that arrived in received.
    std::string send(const std::string& path)
    {
        testing::internal::CaptureStdout();
        syslog_destination target;
        target.link = udp_link{&destination, sender, udp_pacer()};
        send_log_file(target, path, stop_requested);
        const std::string printed = testing::internal::GetCapturedStdout();
        std::vector<char> buffer(1 << 17);
        ssize_t n = 0;
        while ((n = recv(receiver, buffer.data(), buffer.size(), MSG_DONTWAIT)) >= 0)
            received.emplace_back(buffer.data(), static_cast<size_t>(n));
        return printed;
    }

    scratch_dir folder;
    int receiver = -1;
    int sender = -1;
    sockaddr_in address{};
    addrinfo destination{};
    volatile sig_atomic_t stop_requested = 0;
    datagrams received;
};

TEST_F(send_log_file_test, sends_each_line_as_one_datagram)
{
    const std::string path = folder.write(
        "messages",
        "Jan 12 06:30:01 ctrl user.warn app[42]: disk almost full\n"
        "Jan  5 06:30:01 ctrl user.info app: a: b @@@UnfindableSeparator@@@ c\r\n"
        "\n"
        "Jan 12 06:30:02 ctrl user.err app: \0\xff\n"s
        "no separators, no newline at the end");
    EXPECT_EQ(send(path), "Successfully sent 5 logs from " + path + " file\n");
    EXPECT_EQ(received, (datagrams{
                            "<12>Jan 12 06:30:01 ctrl app[42]: disk almost full",
                            "<14>Jan  5 06:30:01 ctrl app: a: b @@@UnfindableSeparator@@@ c\r",
                            "<15>",
                            "<11>Jan 12 06:30:02 ctrl app: \0\xff"s,
                            "<15>no separators, no newline at the end",
                        }));
}

TEST_F(send_log_file_test, counts_nothing_for_an_empty_file)
{
    const std::string path = folder.write("empty", "");
    EXPECT_EQ(send(path), "Successfully sent 0 logs from " + path + " file\n");
    EXPECT_EQ(received, datagrams{});
}

TEST_F(send_log_file_test, reports_a_file_it_cannot_open)
{
    const std::string cases[] = {folder.path() + "/missing", folder.path()};
    for (const std::string& path : cases)
        EXPECT_EQ(send(path), "Impossible to open the file " + path + " in Read Mode\n");
    EXPECT_EQ(received, datagrams{});
}

TEST_F(send_log_file_test, counts_datagrams_the_socket_refused_apart)
{
    const std::string too_long(100 * 1024, 'x');
    const std::string path = folder.write("long", "a\n" + too_long + "\nb\n" + too_long + "\n");
    EXPECT_EQ(send(path), "Successfully sent 2 logs from " + path + " file\n"
                          "Failed to send 2 logs from " + path + " file: Message too long\n");
    EXPECT_EQ(received, (datagrams{"<15>a", "<15>b"}));
}

TEST_F(send_log_file_test, stops_between_lines_once_a_stop_signal_came)
{
    const std::string path = folder.write("messages", "a\nb\n");
    stop_requested = SIGTERM;
    EXPECT_EQ(send(path), "Successfully sent 0 logs from " + path + " file\n");
    EXPECT_EQ(received, datagrams{});
}
}  // namespace
