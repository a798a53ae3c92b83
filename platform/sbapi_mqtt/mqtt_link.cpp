// SPDX-License-Identifier: Apache-2.0
// The bus stand-in's MQTT connection (libmosquitto, no thread). Unlike
// mosquitto_loop(), a pass drains the socket without waiting for input, waits
// only for a full send buffer to take a burst (200 ms at most), and we
// reconnect ourselves; publishes reach the library only while it is
// connected, so that what it re-sends after a reconnection stays ahead of our
// own queue.
#include "mqtt_link.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <mosquitto.h>
#include <netdb.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>

#include "log_tracer.h"

#define LINK_TRACE(level, ...) logTracePrint("sbapi_mqtt", __LINE__, __func__, level, __VA_ARGS__)

namespace {
using steady = std::chrono::steady_clock;
using std::chrono::milliseconds;

const int QOS = 1;
const int KEEPALIVE_SECS = 20;
const milliseconds FIRST_RETRY{250};
const milliseconds LONGEST_RETRY{4000};
const milliseconds CONNECT_TIMEOUT{10000};
const milliseconds CLOSE_GRACE{1000};
const int READS_PER_PASS = 10000;  // bounds a pass under a flood
// How long the end of a pass may wait for the socket to take the rest of a
// burst; what is left then goes in the next pass.
const milliseconds WRITE_BUDGET{200};
const size_t MAX_PAYLOAD = 268435455;

struct library_use {
    library_use() { mosquitto_lib_init(); }
    ~library_use() { mosquitto_lib_cleanup(); }
    library_use(const library_use&) = delete;
    library_use& operator=(const library_use&) = delete;
};

struct handle_free {
    void operator()(mosquitto* m) const { mosquitto_destroy(m); }
};
using mosquitto_handle = std::unique_ptr<mosquitto, handle_free>;

struct outgoing_message {
    std::string topic;
    std::string payload;
};

struct bus_link {
    broker_endpoint broker;     // numeric
    std::string broker_text;  // host:port, for the traces
    std::string filter;
    std::deque<outgoing_message> outbox;  // not yet handed to the library
    std::vector<arrived_message> arrived;
    bool connected = false;   // CONNACK accepted
    bool attempting = false;  // a connection is being made
    bool ever_attempted = false;
    bool closing = false;  // our own disconnect: nothing to report or retry
    steady::time_point attempt_due{};
    steady::time_point attempt_deadline{};
    milliseconds retry_delay{0};
    int failed_attempts = 0;
    size_t unacked = 0;  // handed to the library, PUBACK not yet seen
    mosquitto_handle handle;  // last, so that it goes first

    bus_link() = default;
    // The library holds the link's address for its callbacks: it never moves.
    bus_link(const bus_link&) = delete;
    bus_link& operator=(const bus_link&) = delete;
};

struct link_slot {
    std::optional<bus_link> link;
    link_slot() = default;
    link_slot(const link_slot&) = delete;
    link_slot& operator=(const link_slot&) = delete;
    ~link_slot();
};

// Made at first use, after main has begun, so that it goes before the
// tracer's state at exit and can still report.
link_slot& slot()
{
    static library_use library;
    static link_slot the_slot;
    return the_slot;
}

std::string reason(int rc)
{
    return rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
}

// The first IPv4 address (else the first at all) in numeric form, so that
// reconnecting never waits on a name lookup and "localhost" does not turn
// into ::1 for a broker that listens on 127.0.0.1 only.
std::string resolve_once(const std::string& host)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
        return host;
    const addrinfo* pick = found;
    for (const addrinfo* a = found; a; a = a->ai_next)
        if (a->ai_family == AF_INET) {
            pick = a;
            break;
        }
    char numeric[NI_MAXHOST] = {};
    int rc = getnameinfo(pick->ai_addr, pick->ai_addrlen, numeric, sizeof numeric, nullptr, 0, NI_NUMERICHOST);
    freeaddrinfo(found);
    return rc == 0 ? numeric : host;
}

void schedule_retry(bus_link& l)
{
    l.connected = false;
    l.attempting = false;
    l.attempt_due = steady::now() + l.retry_delay;
    l.retry_delay = l.retry_delay.count() == 0 ? FIRST_RETRY : std::min(l.retry_delay * 2, LONGEST_RETRY);
}

void on_connect(mosquitto* m, void* userdata, int rc)
{
    bus_link& l = *static_cast<bus_link*>(userdata);
    if (rc != 0) {
        LINK_TRACE(3, "broker %s refused the connection: %s\n", l.broker_text.c_str(),
                   mosquitto_connack_string(rc));
        return;  // the library closes the connection next
    }
    LINK_TRACE(5, "connected to broker %s (%zu messages waiting)\n", l.broker_text.c_str(),
               l.unacked + l.outbox.size());
    l.connected = true;
    l.attempting = false;
    l.retry_delay = milliseconds{0};
    l.failed_attempts = 0;
    // The broker forgot us (clean session): subscribe at every connection.
    // The library re-sends its unacknowledged messages after this callback.
    int sub = mosquitto_subscribe(m, nullptr, l.filter.c_str(), QOS);
    if (sub != MOSQ_ERR_SUCCESS)
        LINK_TRACE(3, "cannot subscribe to %s: %s\n", l.filter.c_str(), reason(sub).c_str());
}

void on_disconnect(mosquitto*, void* userdata, int rc)
{
    bus_link& l = *static_cast<bus_link*>(userdata);
    if (l.closing)
        return;
    if (l.connected)
        LINK_TRACE(4, "lost broker %s (%s); reconnecting\n", l.broker_text.c_str(), reason(rc).c_str());
    else if (++l.failed_attempts == 1)
        LINK_TRACE(4, "cannot reach broker %s (%s); retrying\n", l.broker_text.c_str(), reason(rc).c_str());
    if (l.connected)
        l.retry_delay = milliseconds{0};
    schedule_retry(l);
}

void on_message(mosquitto*, void* userdata, const mosquitto_message* message)
{
    bus_link& l = *static_cast<bus_link*>(userdata);
    const char* bytes = static_cast<const char*>(message->payload);
    l.arrived.push_back({message->topic, std::string(bytes, bytes + message->payloadlen)});
}

void on_publish(mosquitto*, void* userdata, int)
{
    bus_link& l = *static_cast<bus_link*>(userdata);
    if (l.unacked > 0)
        --l.unacked;
}

mosquitto_handle make_handle(bus_link& l)
{
    mosquitto_handle h(mosquitto_new(nullptr, true, &l));
    if (!h)
        return h;
    mosquitto_int_option(h.get(), MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_max_inflight_messages_set(h.get(), 0);  // a burst of replies leaves at once
    mosquitto_connect_callback_set(h.get(), on_connect);
    mosquitto_disconnect_callback_set(h.get(), on_disconnect);
    mosquitto_message_callback_set(h.get(), on_message);
    mosquitto_publish_callback_set(h.get(), on_publish);
    return h;
}

void start_attempt(bus_link& l)
{
    mosquitto* m = l.handle.get();
    int rc = l.ever_attempted
                 ? mosquitto_reconnect_async(m)
                 : mosquitto_connect_async(m, l.broker.host.c_str(), l.broker.port, KEEPALIVE_SECS);
    l.ever_attempted = true;
    if (rc != MOSQ_ERR_SUCCESS) {
        on_disconnect(m, &l, rc);
        return;
    }
    l.attempting = true;
    l.attempt_deadline = steady::now() + CONNECT_TIMEOUT;
}

void attempt_if_due(bus_link& l)
{
    if (l.connected)
        return;
    if (l.attempting && steady::now() >= l.attempt_deadline)
        on_disconnect(l.handle.get(), &l, MOSQ_ERR_TIMEOUT);
    if (!l.attempting && steady::now() >= l.attempt_due)
        start_attempt(l);
}

bool readable(int fd, int wait_ms)
{
    pollfd p{fd, POLLIN, 0};
    int n;
    do
        n = poll(&p, 1, wait_ms);
    while (n < 0 && errno == EINTR);
    return n > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

void read_available(bus_link& l, int wait_ms)
{
    mosquitto* m = l.handle.get();
    for (int i = 0; i < READS_PER_PASS; ++i) {
        int fd = mosquitto_socket(m);
        if (fd < 0 || !readable(fd, i == 0 ? wait_ms : 0))
            return;
        if (mosquitto_loop_read(m, 1) != MOSQ_ERR_SUCCESS)
            return;  // connection gone; on_disconnect has run
    }
}

void write_pending(bus_link& l)
{
    mosquitto* m = l.handle.get();
    if (mosquitto_socket(m) >= 0 && mosquitto_want_write(m))
        mosquitto_loop_write(m, 1);
}

// Waits up to wait_ms for room to write; reads what arrives meanwhile (the
// broker's acknowledgements), so that the broker never waits on us either.
void wait_for_room(bus_link& l, int wait_ms)
{
    int fd = mosquitto_socket(l.handle.get());
    if (fd < 0)
        return;
    pollfd p{fd, POLLOUT | POLLIN, 0};
    int n;
    do
        n = poll(&p, 1, wait_ms);
    while (n < 0 && errno == EINTR);
    if (n > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0)
        read_available(l, 0);
}

// Writing stops when the socket's buffer is full; a burst of large replies
// would then leave one buffer per pass. Within the budget we wait for the
// socket to take more instead. Messages read meanwhile keep for the next pass.
void write_within_budget(bus_link& l)
{
    mosquitto* m = l.handle.get();
    steady::time_point until = steady::now() + WRITE_BUDGET;
    for (;;) {
        write_pending(l);
        if (mosquitto_socket(m) < 0 || !mosquitto_want_write(m))
            return;
        auto left = std::chrono::duration_cast<milliseconds>(until - steady::now()).count();
        if (left <= 0)
            return;
        wait_for_room(l, static_cast<int>(left));
    }
}

// Errors that mean the library refused the message rather than kept it.
bool refused(int rc)
{
    return rc == MOSQ_ERR_INVAL || rc == MOSQ_ERR_NOMEM || rc == MOSQ_ERR_PAYLOAD_SIZE ||
           rc == MOSQ_ERR_MALFORMED_UTF8 || rc == MOSQ_ERR_OVERSIZE_PACKET ||
           rc == MOSQ_ERR_QOS_NOT_SUPPORTED;
}

void flush_outbox(bus_link& l)
{
    while (l.connected && !l.outbox.empty()) {
        const outgoing_message& out = l.outbox.front();
        int rc = mosquitto_publish(l.handle.get(), nullptr, out.topic.c_str(),
                                   static_cast<int>(out.payload.size()), out.payload.data(), QOS, false);
        if (refused(rc))
            LINK_TRACE(3, "broker library refused a message for %s (%s); dropped\n", out.topic.c_str(),
                       reason(rc).c_str());
        else
            ++l.unacked;
        l.outbox.pop_front();
        // Kept by the library but not written: the connection is failing, so
        // the rest waits in our queue until it is back.
        if (rc != MOSQ_ERR_SUCCESS && !refused(rc))
            return;
    }
}

bus_link* current()
{
    link_slot& s = slot();
    return s.link && s.link->handle ? &*s.link : nullptr;
}

bool settled(bus_link& l)
{
    mosquitto* m = l.handle.get();
    return l.outbox.empty() && l.unacked == 0 && !(mosquitto_socket(m) >= 0 && mosquitto_want_write(m));
}

// At close: the withdrawal sent just before exit should still reach the broker.
void drain(bus_link& l)
{
    steady::time_point until = steady::now() + CLOSE_GRACE;
    while (!settled(l) && steady::now() < until) {
        attempt_if_due(l);
        write_pending(l);
        read_available(l, 20);
        flush_outbox(l);
        l.arrived.clear();  // nobody is left to handle them
        if (mosquitto_socket(l.handle.get()) < 0)
            poll(nullptr, 0, 20);
    }
    if (!settled(l))
        LINK_TRACE(3, "closing with %zu messages not delivered to broker %s\n", l.outbox.size() + l.unacked,
                   l.broker_text.c_str());
}
void close_link(link_slot& s)
{
    if (!s.link)
        return;
    if (s.link->handle) {
        drain(*s.link);
        s.link->closing = true;
        if (s.link->connected)
            mosquitto_disconnect(s.link->handle.get());
    }
    s.link.reset();
}

link_slot::~link_slot()
{
    close_link(*this);
}
}  // namespace

void link_open(const broker_endpoint& broker, const std::string& filter)
{
    link_close();
    bus_link& l = slot().link.emplace();
    l.broker = broker_endpoint{resolve_once(broker.host), broker.port};
    l.broker_text = l.broker.host + ":" + std::to_string(l.broker.port);
    l.filter = filter;
    l.handle = make_handle(l);
    if (!l.handle) {
        LINK_TRACE(2, "cannot create an MQTT client: %s\n", std::strerror(errno));
        return;
    }
    start_attempt(l);
}

bool link_send(const std::string& topic, const std::string& payload)
{
    bus_link* l = current();
    if (!l || payload.size() > MAX_PAYLOAD)
        return false;
    if (l->outbox.size() >= OUTBOX_LIMIT) {
        l->outbox.pop_front();
        LINK_TRACE(3, "%zu messages wait for broker %s; dropped the oldest\n", OUTBOX_LIMIT,
                   l->broker_text.c_str());
    }
    l->outbox.push_back({topic, payload});
    flush_outbox(*l);
    return true;
}

std::vector<arrived_message> link_receive()
{
    std::vector<arrived_message> arrived;
    bus_link* l = current();
    if (!l)
        return arrived;
    attempt_if_due(*l);
    write_pending(*l);  // the CONNECT of a connection made since the last pass
    read_available(*l, 0);
    flush_outbox(*l);  // after the library's re-sends, which reading a CONNACK triggers
    arrived.swap(l->arrived);
    return arrived;
}

void link_finish_pass()
{
    bus_link* l = current();
    if (!l)
        return;
    flush_outbox(*l);
    write_within_budget(*l);
    if (l->connected)
        mosquitto_loop_misc(l->handle.get());
}

void link_close()
{
    close_link(slot());
}
