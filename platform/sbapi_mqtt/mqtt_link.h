// SPDX-License-Identifier: Apache-2.0
// mqtt_link.h: the bus stand-in's one connection to the MQTT broker, driven
// from the caller's loop without a thread of its own. It connects and
// reconnects by itself with back-off and waits only briefly, for the socket
// to take a burst; what is sent keeps its order, in a bounded queue while
// the broker is away.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "bus_topics.h"

// Messages waiting for the broker beyond this many: the oldest is dropped.
const size_t OUTBOX_LIMIT = 10000;

struct arrived_message {
    std::string topic;
    std::string payload;
};

// Starts connecting to broker; filter is subscribed at every connection.
void link_open(const broker_endpoint& broker, const std::string& filter);
// Queues one QoS 1 publish and sends what the connection allows at once;
// false only when it cannot even be queued.
bool link_send(const std::string& topic, const std::string& payload);
// First half of a pass: connects when due, reads everything that has arrived
// and sends the backlog; returns the messages that arrived, oldest first.
std::vector<arrived_message> link_receive();
// Second half of a pass: writes what was queued since (replies sent by the
// handlers), waiting up to 200 ms for the socket to take it all, and keeps
// the connection alive.
void link_finish_pass();
// Gives what is still queued a short, bounded time to leave, then
// disconnects and forgets everything. Runs by itself at exit.
void link_close();
