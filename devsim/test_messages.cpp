// SPDX-License-Identifier: Apache-2.0
// Periodic test messages: status (2) and measurement (3). Each is built anew
// for every send, from its template file on the shared settings mount when
// that opens, else from the built-in sample. Template files are the user's
// own JSON and go out verbatim; the FID is escaped. Reading a template never
// waits: a FIFO without a writer gives the built-in sample.
#include "test_messages.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "devsim_state.h"
#include "json_escape.h"
#include "sbapi.h"
#include "tools.h"

namespace {
const char* const MSG2_TEMPLATE = "/mnt/vexa/set/test_msg2";
const char* const MSG3_TEMPLATE = "/mnt/vexa/set/test_msg3";
bool random_seeded = false;

struct file_descriptor {
    int fd;
    explicit file_descriptor(int fd_) : fd(fd_) {}
    file_descriptor(const file_descriptor&) = delete;  // a copy would close twice
    file_descriptor& operator=(const file_descriptor&) = delete;
    ~file_descriptor()
    {
        if (fd >= 0)
            close(fd);
    }
};

// Everything that can be read from fd now, without waiting.
std::string read_available(int fd)
{
    std::string content;
    char buffer[4096];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0)
            content.append(buffer, static_cast<size_t>(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return content;  // the end, or nothing more yet (a FIFO), or no file at all
    }
}

// The file's lines joined with nothing between them; false when it does not
// open. Opened without blocking: a FIFO with no writer would hold the whole
// loop in open(); it counts as not opened, like one with nothing written yet.
bool read_template(const char* path, std::string& joined)
{
    file_descriptor file(open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.fd < 0)
        return false;
    struct stat status {};
    bool fifo = fstat(file.fd, &status) == 0 && S_ISFIFO(status.st_mode);
    std::string content = read_available(file.fd);
    if (fifo && content.empty())
        return false;
    content.erase(std::remove(content.begin(), content.end(), '\n'), content.end());
    joined += content;
    return true;
}

long next_draw()
{
    // Seeded at the first measurement, not at start-up.
    if (!random_seeded) {
        srandom(static_cast<unsigned>(time(nullptr)));
        random_seeded = true;
    }
    return random();
}

const char* const MSG3_DATA_REST =
    ",\"pr\":2,\"tn\":0},"
    "{\"c\":0,\"p\":\"984c5c19-0292-438f-9f4e-32b2a0aa18a4\",\"u\":\"8503d0cf-1438-49c3-8201-2f4c0e36c49d\","
    "\"v\":5.1,\"pr\":2,\"tn\":6,\"o\":1},"
    "{\"c\":0,\"p\":\"84b8bd7f-2420-4e16-855f-7278c5fcf990\",\"u\":\"8503d0cf-1438-49c3-8201-2f4c0e36c49d\","
    "\"v\":0.4,\"pr\":2,\"tn\":12},"
    "{\"c\":0,\"p\":\"33a6a71a-1606-45fb-94c0-b34082919ca0\",\"u\":\"8503d0cf-1438-49c3-8201-2f4c0e36c49d\","
    "\"v\":0.2,\"pr\":2,\"tn\":15},"
    "{\"c\":0,\"p\":\"357d0ea1-a521-43e8-99ae-81aa426b102f\",\"u\":\"c821a323-7275-4d50-96ec-c0a37223cf67\","
    "\"v\":22.1,\"pr\":1,\"tn\":18}]}";
}  // namespace

std::string current_time_stamp()
{
    char buffer[64];
    memset(buffer, 0, sizeof buffer);
    DateTimeHelper::GetCurrentTime(buffer, DateTimeHelper::ISO8601_UTC, false);
    return std::string(buffer, strnlen(buffer, sizeof buffer - 1));
}

// x is computed in single precision, as the device firmware does: the
// largest draws round up to 2^31 and give exactly 2.
double measurement_value(long draw)
{
    float x = static_cast<float>(draw) / 2147483648.0f - 0.5f;
    return static_cast<double>(x) * 0.6 + 1.7;
}

void send_msgtype_2()
{
    std::string fragment;
    std::ostringstream body;
    body << "{\"fid\":\"" << json_escape(tt.device_fid) << "\",\"time_stamp\":\"";
    if (read_template(MSG2_TEMPLATE, fragment)) {
        body << current_time_stamp() << "\"," << fragment << "}";
    } else {
        body << current_time_stamp()
             << "\",\"wellcast\":{\"measurement_ind\":55,\"service_ind\":7,\"wellcast_data\":["
             << "{\"h_id\":\"0\",\"percent\":60,\"days\":10},{\"h_id\":\"2\",\"percent\":74,\"days\":7},"
             << "{\"h_id\":\"4\",\"percent\":95,\"days\":11},{\"h_id\":\"22\",\"percent\":74,\"days\":7},"
                "{ \"h_id\":\"23\",\"percent\":74}]},"
             << "\"errors\":[],\"warnings\":[{\"db\":\"sensor\",\"index\":294208982},"
                "{\"db\":\"sensor\",\"index\":295210981}],\"processevents\":[],\"reminders\":[]}";
    }
    sbapi_sendMessage_2(body.str());
}

void send_msgtype_3()
{
    // One draw per message, whichever form goes out.
    double v = measurement_value(next_draw());
    std::string fragment;
    std::ostringstream body;
    if (read_template(MSG3_TEMPLATE, fragment)) {
        body << "{\"fid\":\"" << json_escape(tt.device_fid) << "\",\"time\":\"" << current_time_stamp()
             << "\"," << fragment << "}";
    } else {
        body << "{\"fid\":\"" << json_escape(tt.device_fid) << "\",\"hold\":0,\"time\":\""
             << current_time_stamp() << "\",\"data\":["
             << "{\"c\":0,\"p\":\"ce976ad0-1bd1-4a1f-9ba6-0130fba53c7e\","
                "\"u\":\"8503d0cf-1438-49c3-8201-2f4c0e36c49d\",\"v\":"
             << v << MSG3_DATA_REST;
    }
    sbapi_sendMessage_3(body.str());
}
