// SPDX-License-Identifier: Apache-2.0
// broker_fixture.h: a private mosquitto broker on a free loopback port, and a
// peer client that plays the bus's side (records what the device sends,
// publishes to it). The peer runs the library's thread; the stand-in under
// test is only ever driven from the test's own thread, through sbapi_doWork.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

struct mosquitto;
struct mosquitto_message;

class test_broker {
public:
    test_broker();  // picks the port and writes the configuration; not started
    ~test_broker();
    test_broker(const test_broker&) = delete;
    test_broker& operator=(const test_broker&) = delete;

    bool start();  // false when it does not accept connections within 10 s
    void stop();   // SIGTERM, and waits for it to end
    std::string address() const;  // "127.0.0.1:PORT", for SBAPI_BROKER

private:
    std::string dir_;
    int port_ = 0;
    pid_t pid_ = -1;
    friend class bus_peer;
};

using received_message = std::pair<std::string, std::string>;  // topic, payload

class bus_peer {
public:
    explicit bus_peer(const test_broker& broker);  // subscribes to sbapi/# at every connection
    ~bus_peer();
    bus_peer(const bus_peer&) = delete;
    bus_peer& operator=(const bus_peer&) = delete;

    // True once a subscription made after the last call is in force.
    bool wait_subscribed(std::chrono::seconds timeout = std::chrono::seconds(15));
    // Publishes with QoS 1; true once the broker has acknowledged it.
    bool publish(const std::string& topic, const std::string& payload);
    std::vector<received_message> received();
    bool wait_for(const std::function<bool(const std::vector<received_message>&)>& done,
                  std::chrono::seconds timeout = std::chrono::seconds(15));

private:
    static void on_connect(mosquitto* m, void* self, int rc);
    static void on_subscribe(mosquitto* m, void* self, int mid, int count, const int* granted);
    static void on_message(mosquitto* m, void* self, const mosquitto_message* message);
    static void on_publish(mosquitto* m, void* self, int mid);

    mosquitto* handle_ = nullptr;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<received_message> received_;
    int subscriptions_ = 0;
    int subscriptions_seen_ = 0;
    std::vector<int> acked_;
};

// Calls sbapi_doWork every 10 ms until done() or the timeout; returns done().
bool pump_until(const std::function<bool()>& done, std::chrono::seconds timeout = std::chrono::seconds(15));
