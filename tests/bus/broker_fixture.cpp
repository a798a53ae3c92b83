// SPDX-License-Identifier: Apache-2.0
// A private mosquitto for the bus stand-in's tests, and the peer client that
// stands for the rest of the bus. Deadlines are generous: these tests check
// what arrives and in which order, never how fast.
#include "broker_fixture.h"

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <mosquitto.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "sbapi.h"
#include "test_texts.h"

namespace {
using steady = std::chrono::steady_clock;

sockaddr_in loopback(int port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int free_port()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

bool accepts(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(port);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    close(fd);
    return ok;
}
}  // namespace

test_broker::test_broker()
{
    char pattern[] = "/tmp/bus-test-XXXXXX";
    dir_ = mkdtemp(pattern);
    port_ = free_port();
    // Persistent: the peer's session outlives a restart, so that it misses
    // nothing that the device sends before the peer has reconnected.
    std::ofstream(dir_ + "/mosquitto.conf") << "listener " << port_ << " 127.0.0.1\n"
                                            << broker_settings() << "persistence true\npersistence_location "
                                            << dir_ << "/\nuser root\n";
}

test_broker::~test_broker()
{
    stop();
    std::remove((dir_ + "/mosquitto.conf").c_str());
    std::remove((dir_ + "/broker.log").c_str());
    std::remove((dir_ + "/mosquitto.db").c_str());
    rmdir(dir_.c_str());
}

bool test_broker::start()
{
    pid_ = fork();
    if (pid_ == 0) {
        int log = open((dir_ + "/broker.log").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        dup2(log, STDOUT_FILENO);
        dup2(log, STDERR_FILENO);
        execl(MOSQUITTO_BROKER, "mosquitto", "-c", (dir_ + "/mosquitto.conf").c_str(), nullptr);
        _exit(127);
    }
    auto until = steady::now() + std::chrono::seconds(10);
    while (steady::now() < until) {
        if (accepts(port_))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void test_broker::stop()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string test_broker::address() const
{
    return "127.0.0.1:" + std::to_string(port_);
}

bus_peer::bus_peer(const test_broker& broker)
{
    mosquitto_lib_init();
    handle_ = mosquitto_new("peer", false, this);
    mosquitto_connect_callback_set(handle_, on_connect);
    mosquitto_subscribe_callback_set(handle_, on_subscribe);
    mosquitto_message_callback_set(handle_, on_message);
    mosquitto_publish_callback_set(handle_, on_publish);
    mosquitto_max_inflight_messages_set(handle_, 0);
    mosquitto_int_option(handle_, MOSQ_OPT_TCP_NODELAY, 1);  // a publish waits for its acknowledgement
    mosquitto_reconnect_delay_set(handle_, 1, 1, false);
    mosquitto_connect_async(handle_, "127.0.0.1", broker.port_, 30);
    mosquitto_loop_start(handle_);
}

bus_peer::~bus_peer()
{
    mosquitto_disconnect(handle_);
    mosquitto_loop_stop(handle_, false);  // the disconnect ends its loop; a cancelled one could keep a lock
    mosquitto_destroy(handle_);
}

void bus_peer::on_connect(mosquitto* m, void*, int rc)
{
    if (rc == 0)
        mosquitto_subscribe(m, nullptr, "sbapi/#", 1);
}

void bus_peer::on_subscribe(mosquitto*, void* self, int, int, const int*)
{
    auto* peer = static_cast<bus_peer*>(self);
    std::lock_guard<std::mutex> lock(peer->mutex_);
    ++peer->subscriptions_;
    peer->changed_.notify_all();
}

void bus_peer::on_message(mosquitto*, void* self, const mosquitto_message* message)
{
    auto* peer = static_cast<bus_peer*>(self);
    const char* bytes = static_cast<const char*>(message->payload);
    std::lock_guard<std::mutex> lock(peer->mutex_);
    peer->received_.emplace_back(message->topic, std::string(bytes, bytes + message->payloadlen));
    peer->changed_.notify_all();
}

void bus_peer::on_publish(mosquitto*, void* self, int mid)
{
    auto* peer = static_cast<bus_peer*>(self);
    std::lock_guard<std::mutex> lock(peer->mutex_);
    peer->acked_.push_back(mid);
    peer->changed_.notify_all();
}

bool bus_peer::wait_subscribed(std::chrono::seconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex_);
    bool ok = changed_.wait_for(lock, timeout, [this] { return subscriptions_ > subscriptions_seen_; });
    subscriptions_seen_ = subscriptions_;
    return ok;
}

bool bus_peer::publish(const std::string& topic, const std::string& payload)
{
    int mid = 0;
    int rc = mosquitto_publish(handle_, &mid, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                               false);
    if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN)  // kept for later when not connected yet
        return false;
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(15), [&] {
        return std::find(acked_.begin(), acked_.end(), mid) != acked_.end();
    });
}

std::vector<received_message> bus_peer::received()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

bool bus_peer::wait_for(const std::function<bool(const std::vector<received_message>&)>& done, std::chrono::seconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return done(received_); });
}

bool pump_until(const std::function<bool()>& done, std::chrono::seconds timeout)
{
    auto until = steady::now() + timeout;
    while (steady::now() < until) {
        sbapi_doWork();
        if (done())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}
