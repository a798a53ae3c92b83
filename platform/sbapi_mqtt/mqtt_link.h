// SPDX-License-Identifier: Apache-2.0
// mqtt_link.h: the bus stand-in's one connection to the MQTT broker, kept by
// a thread of its own, as the controller's bus library keeps its own: it
// reads the broker between the device's passes and holds what arrives for
// the next one, connects and reconnects by itself with back-off, and sends
// what the device queues at once; what is sent keeps its order, in a bounded
// queue while the broker is away. The link's thread is internal; the
// functions below must all be called from one and the same thread (the
// device's), because they open, find and close the link without a lock.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "bus_topics.h"

// Messages waiting for the broker beyond this many: the oldest is dropped.
const size_t OUTBOX_LIMIT = 10000;
// Messages arrived and waiting for the device beyond this many: the newest
// is dropped.
const size_t INBOX_LIMIT = 10000;

struct arrived_message {
    std::string topic;
    std::string payload;
};

struct link_settings {
    std::optional<broker_endpoint> broker;  // none: connect nowhere
    std::string filter;                     // subscribed at every connection
    std::string client_id;
    std::string device;  // the FID, for the traces
};

// Starts connecting; a broker named by a host name is looked up first, on a
// thread of its own.
void link_open(const link_settings& settings);
// Queues one QoS 1 publish, which leaves at once while connected; false only
// when it cannot even be queued (no link, or a body over MQTT's limit).
bool link_send(const std::string& topic, const std::string& payload);
// The messages that have arrived since the last call, oldest first; never waits.
std::vector<arrived_message> link_receive();
// Gives what is still queued up to a second to leave, then disconnects and
// forgets everything. Runs by itself at exit, on the thread that calls
// exit() or returns from main, which must be that same one thread.
void link_close();
