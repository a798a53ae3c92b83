// SPDX-License-Identifier: Apache-2.0
// The bus stand-in's MQTT connection (libmosquitto), kept by one thread of
// its own that makes every library call on the connection, so the library
// stays in its single-threaded mode and writes a publish at once; the
// device's thread meets it only at the two queues. Unlike
// mosquitto_loop_start(), we reconnect ourselves (the first retry at once,
// then after 0.25 s, doubling up to 4 s, afresh after each connection;
// never inside a blocking connect()), hand publishes to the library only
// while it is connected, so that what it re-sends after a reconnection
// stays ahead of our own queue, and look a broker's name up on a further
// thread that nobody ever waits for.
#include "mqtt_link.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mosquitto.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

#include "broker_lookup.h"
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
const milliseconds IDLE_ROUND{1000};  // keep-alive checks while nothing happens
const int READS_PER_ROUND = 1000;     // then a round writes, so a flood does not hold replies back
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

// An eventfd that one thread posts to wake another from poll().
struct wake_event {
    int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    wake_event() = default;
    ~wake_event()
    {
        if (fd >= 0)
            close(fd);
    }
    wake_event(const wake_event&) = delete;
    wake_event& operator=(const wake_event&) = delete;
    void post() const
    {
        uint64_t one = 1;
        ssize_t n = write(fd, &one, sizeof one);
        (void)n;  // already posted, or no eventfd: the round's time-out wakes it
    }
    void clear() const
    {
        uint64_t count;
        ssize_t n = read(fd, &count, sizeof count);
        (void)n;
    }
};

// One lookup of the broker's name. The thread that makes it and the link
// share it, and whichever lets go last frees it: nobody waits for a silent
// name server, not even at exit.
struct name_lookup {
    std::string host;
    wake_event done;
    std::mutex mutex;
    bool finished = false;
    std::string address;  // numeric; empty when the lookup failed
    std::string error;
};

struct outgoing_message {
    std::string topic;
    std::string payload;
};

enum class phase { waiting, looking_up, connecting, connected };

struct bus_link {
    link_settings settings;
    std::string broker_text;  // as given, for the traces
    std::string address;      // numeric, once known
    std::shared_ptr<name_lookup> lookup;
    phase state = phase::waiting;
    bool ever_attempted = false;
    bool disconnecting = false;  // our own disconnect: nothing to report or retry
    steady::time_point attempt_due{};
    steady::time_point attempt_deadline{};
    milliseconds retry_delay{0};
    int failed_attempts = 0;
    int failed_lookups = 0;
    size_t unacked = 0;  // handed to the library, PUBACK not yet seen

    // Shared with the device's thread, under mutex.
    std::mutex mutex;
    std::deque<outgoing_message> outbox;  // not yet handed to the library
    std::vector<arrived_message> inbox;   // not yet taken by a pass
    bool closing = false;
    steady::time_point close_deadline{};

    wake_event wake;
    mosquitto_handle handle;
    std::thread thread;

    bus_link() = default;
    // The library and the thread hold the link's address: it never moves.
    bus_link(const bus_link&) = delete;
    bus_link& operator=(const bus_link&) = delete;
};

struct link_slot {
    std::unique_ptr<bus_link> link;
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

void run_lookup(const std::shared_ptr<name_lookup>& lookup)
{
    std::string error;
    std::string address = numeric_address(lookup->host, error);
    std::lock_guard<std::mutex> lock(lookup->mutex);
    lookup->address = address;
    lookup->error = error;
    lookup->finished = true;
    lookup->done.post();
}

// Threads of the stand-in take no signal: the device's handler runs on its
// own thread, where its stores are seen and its pause is cut short.
template <typename F>
std::thread start_thread(F body)
{
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &old);
    std::thread thread;
    try {
        thread = std::thread(body);
    } catch (...) {
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        throw;
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return thread;
}

size_t queued(bus_link& l)
{
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.outbox.size();
}

void schedule_retry(bus_link& l)
{
    l.state = phase::waiting;
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
    LINK_TRACE(5, "connected to broker %s as %s (%zu messages waiting)\n", l.broker_text.c_str(),
               l.settings.client_id.c_str(), l.unacked + queued(l));
    l.state = phase::connected;
    l.retry_delay = milliseconds{0};
    l.failed_attempts = 0;
    // The broker forgot us (clean session): subscribe at every connection.
    // The library re-sends its unacknowledged messages after this callback.
    int sub = mosquitto_subscribe(m, nullptr, l.settings.filter.c_str(), QOS);
    if (sub != MOSQ_ERR_SUCCESS)
        LINK_TRACE(3, "cannot subscribe to %s: %s\n", l.settings.filter.c_str(), reason(sub).c_str());
}

void on_disconnect(mosquitto*, void* userdata, int rc)
{
    bus_link& l = *static_cast<bus_link*>(userdata);
    if (l.disconnecting)
        return;
    bool was_connected = l.state == phase::connected;
    if (was_connected)
        LINK_TRACE(4, "lost broker %s (%s); reconnecting\n", l.broker_text.c_str(), reason(rc).c_str());
    else if (++l.failed_attempts == 1)
        LINK_TRACE(4, "cannot reach broker %s (%s); retrying\n", l.broker_text.c_str(), reason(rc).c_str());
    if (was_connected)
        l.retry_delay = milliseconds{0};
    schedule_retry(l);
}

void on_message(mosquitto*, void* userdata, const mosquitto_message* message)
{
    bus_link& l = *static_cast<bus_link*>(userdata);
    const char* bytes = static_cast<const char*>(message->payload);
    {
        std::lock_guard<std::mutex> lock(l.mutex);
        if (l.inbox.size() < INBOX_LIMIT) {
            l.inbox.push_back({message->topic, std::string(bytes, bytes + message->payloadlen)});
            return;
        }
    }
    LINK_TRACE(2, "%zu messages wait for device \"%s\"; dropped the newest, on %s\n", INBOX_LIMIT,
               l.settings.device.c_str(), message->topic);
}

void on_publish(mosquitto*, void* userdata, int)
{
    bus_link& l = *static_cast<bus_link*>(userdata);
    if (l.unacked > 0)
        --l.unacked;
}

mosquitto_handle make_handle(bus_link& l)
{
    mosquitto_handle h(mosquitto_new(l.settings.client_id.c_str(), true, &l));
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

void start_lookup(bus_link& l)
{
    auto lookup = std::make_shared<name_lookup>();
    lookup->host = l.settings.broker->host;
    try {
        start_thread([lookup] { run_lookup(lookup); }).detach();
    } catch (const std::exception& e) {
        LINK_TRACE(3, "cannot look up broker %s: %s\n", l.broker_text.c_str(), e.what());
        schedule_retry(l);
        return;
    }
    l.lookup = lookup;
    l.state = phase::looking_up;
}

// Takes the result of the lookup under way, once it has one.
void finish_lookup(bus_link& l)
{
    std::string address, error;
    {
        std::lock_guard<std::mutex> lock(l.lookup->mutex);
        if (!l.lookup->finished)
            return;
        address = l.lookup->address;
        error = l.lookup->error;
    }
    l.lookup.reset();
    if (!address.empty()) {
        l.address = address;
        l.state = phase::waiting;
        return;
    }
    if (++l.failed_lookups == 1)
        LINK_TRACE(4, "cannot look up broker %s (%s); retrying\n", l.broker_text.c_str(), error.c_str());
    schedule_retry(l);
}

void start_attempt(bus_link& l)
{
    if (l.address.empty()) {
        start_lookup(l);
        return;
    }
    mosquitto* m = l.handle.get();
    int rc = l.ever_attempted ? mosquitto_reconnect_async(m)
                              : mosquitto_connect_async(m, l.address.c_str(), l.settings.broker->port, KEEPALIVE_SECS);
    l.ever_attempted = true;
    if (rc != MOSQ_ERR_SUCCESS) {
        on_disconnect(m, &l, rc);
        return;
    }
    l.state = phase::connecting;
    l.attempt_deadline = steady::now() + CONNECT_TIMEOUT;
}

void attempt_if_due(bus_link& l)
{
    if (!l.settings.broker)
        return;  // no broker that could be read from the setting: connect nowhere
    if (l.state == phase::looking_up)
        finish_lookup(l);
    if (l.state == phase::connecting && steady::now() >= l.attempt_deadline)
        on_disconnect(l.handle.get(), &l, MOSQ_ERR_TIMEOUT);
    if (l.state == phase::waiting && steady::now() >= l.attempt_due)
        start_attempt(l);
}

bool readable(int fd)
{
    pollfd p{fd, POLLIN, 0};
    int n;
    do
        n = poll(&p, 1, 0);
    while (n < 0 && errno == EINTR);
    return n > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

void read_available(bus_link& l)
{
    mosquitto* m = l.handle.get();
    for (int i = 0; i < READS_PER_ROUND; ++i) {
        int fd = mosquitto_socket(m);
        if (fd < 0 || !readable(fd))
            return;
        if (mosquitto_loop_read(m, 1) != MOSQ_ERR_SUCCESS)
            return;  // connection gone; on_disconnect has run
    }
}

bool wants_write(bus_link& l)
{
    mosquitto* m = l.handle.get();
    return mosquitto_socket(m) >= 0 && mosquitto_want_write(m);
}

void write_pending(bus_link& l)
{
    if (wants_write(l))
        mosquitto_loop_write(l.handle.get(), 1);
}

// Errors that mean the library refused the message rather than kept it.
bool refused(int rc)
{
    return rc == MOSQ_ERR_INVAL || rc == MOSQ_ERR_NOMEM || rc == MOSQ_ERR_PAYLOAD_SIZE ||
           rc == MOSQ_ERR_MALFORMED_UTF8 || rc == MOSQ_ERR_OVERSIZE_PACKET ||
           rc == MOSQ_ERR_QOS_NOT_SUPPORTED;
}

// Called after reading, so behind the library's re-sends, which reading a
// CONNACK triggers. The queue's lock is never held into the library, whose
// callbacks take it under the library's own locks.
void flush_outbox(bus_link& l)
{
    while (l.state == phase::connected) {
        outgoing_message out;
        {
            std::lock_guard<std::mutex> lock(l.mutex);
            if (l.outbox.empty())
                return;
            out = std::move(l.outbox.front());
            l.outbox.pop_front();
        }
        int rc = mosquitto_publish(l.handle.get(), nullptr, out.topic.c_str(), static_cast<int>(out.payload.size()),
                                   out.payload.data(), QOS, false);
        if (refused(rc))
            LINK_TRACE(3, "broker library refused a message for %s (%s); dropped\n", out.topic.c_str(),
                       reason(rc).c_str());
        else
            ++l.unacked;
        // Kept by the library but not written: the connection is failing, so
        // the rest waits in our queue until it is back.
        if (rc != MOSQ_ERR_SUCCESS && !refused(rc))
            return;
    }
}

bool settled(bus_link& l)
{
    return queued(l) == 0 && l.unacked == 0 && !wants_write(l);
}

// The time until the link next has something to do by itself.
int round_timeout(bus_link& l, const steady::time_point& close_deadline)
{
    steady::time_point until = steady::now() + IDLE_ROUND;
    if (l.settings.broker && l.state == phase::waiting)
        until = std::min(until, l.attempt_due);
    if (l.state == phase::connecting)
        until = std::min(until, l.attempt_deadline);
    if (close_deadline != steady::time_point{})
        until = std::min(until, close_deadline);
    auto left = std::chrono::duration_cast<milliseconds>(until - steady::now()).count();
    return static_cast<int>(std::max<long long>(left, 0));
}

// Sleeps until the broker, the device's thread or the lookup has something,
// or the next time-out.
void wait_for_events(bus_link& l, const steady::time_point& close_deadline)
{
    int sock = mosquitto_socket(l.handle.get());
    short sock_events = static_cast<short>(POLLIN | (wants_write(l) ? POLLOUT : 0));
    pollfd fds[] = {{l.wake.fd, POLLIN, 0}, {l.lookup ? l.lookup->done.fd : -1, POLLIN, 0}, {sock, sock_events, 0}};
    if (poll(fds, 3, round_timeout(l, close_deadline)) <= 0)
        return;
    if (fds[0].revents & POLLIN)
        l.wake.clear();
    if (fds[2].revents & (POLLIN | POLLHUP | POLLERR))
        read_available(l);
}

// At close the withdrawal sent just before exit should still reach the broker.
bool close_due(bus_link& l, steady::time_point& close_deadline)
{
    std::lock_guard<std::mutex> lock(l.mutex);
    close_deadline = l.closing ? l.close_deadline : steady::time_point{};
    return l.closing;
}

void say_goodbye(bus_link& l)
{
    if (!settled(l))
        LINK_TRACE(3, "closing with %zu messages not delivered to broker %s\n", queued(l) + l.unacked,
                   l.broker_text.c_str());
    l.disconnecting = true;
    if (l.state == phase::connected) {
        mosquitto_disconnect(l.handle.get());
        write_pending(l);
    }
}

void run_link(bus_link& l)
{
    for (;;) {
        steady::time_point close_deadline;
        bool closing = close_due(l, close_deadline);
        attempt_if_due(l);
        flush_outbox(l);
        write_pending(l);
        if (l.state == phase::connected)
            mosquitto_loop_misc(l.handle.get());
        if (closing && (settled(l) || steady::now() >= close_deadline))
            break;
        wait_for_events(l, close_deadline);
    }
    say_goodbye(l);
}

// No lock: only the callers' one thread sets and clears the slot (see
// mqtt_link.h), and the link's own thread never touches it.
bus_link* current()
{
    link_slot& s = slot();
    return s.link && s.link->thread.joinable() ? s.link.get() : nullptr;
}

void close_link(link_slot& s)
{
    if (!s.link)
        return;
    bus_link& l = *s.link;
    if (l.thread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(l.mutex);
            l.closing = true;
            // Nothing can leave without a broker: no reason to wait.
            l.close_deadline = steady::now() + (l.settings.broker ? CLOSE_GRACE : milliseconds{0});
        }
        l.wake.post();
        l.thread.join();
    }
    s.link.reset();
}

link_slot::~link_slot()
{
    close_link(*this);
}
}  // namespace

void link_open(const link_settings& settings)
{
    link_close();
    auto l = std::make_unique<bus_link>();
    l->settings = settings;
    l->broker_text = settings.broker ? endpoint_text(*settings.broker) : "(none)";
    if (settings.broker && is_numeric_host(settings.broker->host))
        l->address = settings.broker->host;
    l->handle = make_handle(*l);
    if (!l->handle) {
        LINK_TRACE(2, "cannot create an MQTT client: %s\n", std::strerror(errno));
        return;
    }
    bus_link* link = l.get();
    try {
        l->thread = start_thread([link] { run_link(*link); });
    } catch (const std::exception& e) {
        LINK_TRACE(2, "cannot start the MQTT client's thread: %s\n", e.what());
        return;
    }
    slot().link = std::move(l);
}

bool link_send(const std::string& topic, const std::string& payload)
{
    bus_link* l = current();
    if (!l || payload.size() > MAX_PAYLOAD)
        return false;
    bool dropped = false;
    bool was_empty = false;
    {
        std::lock_guard<std::mutex> lock(l->mutex);
        if (l->outbox.size() >= OUTBOX_LIMIT) {
            l->outbox.pop_front();
            dropped = true;
        }
        was_empty = l->outbox.empty();
        l->outbox.push_back({topic, payload});
    }
    if (dropped)
        LINK_TRACE(3, "%zu messages wait for broker %s; dropped the oldest\n", OUTBOX_LIMIT,
                   l->broker_text.c_str());
    if (was_empty)  // otherwise the link has been woken already and not yet emptied it
        l->wake.post();
    return true;
}

std::vector<arrived_message> link_receive()
{
    std::vector<arrived_message> arrived;
    bus_link* l = current();
    if (l) {
        std::lock_guard<std::mutex> lock(l->mutex);
        arrived.swap(l->inbox);
    }
    return arrived;
}

void link_close()
{
    close_link(slot());
}
