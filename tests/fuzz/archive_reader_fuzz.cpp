// SPDX-License-Identifier: Apache-2.0
// archive_reader_fuzz.cpp: send_archive on a gzip archive made
// here from the input's content and then damaged as the input's header says
// (cut short, one byte flipped, split into two members), or on the input's
// bytes as they are, through a UDP transport whose send() is replaced at link
// time (--wrap) by a recorder.
// Oracle: one datagram per line read, the counts in the report agree with
// them; an archive only cut short gives a prefix of the content (its last
// line possibly partial) and the damage line exactly when cut; whenever no
// damage is reported, the lines are exactly the content's.
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <vector>
#include <zlib.h>

#include "line_sender.h"
#include "fuzz_captured_output.h"
#include "fuzz_check.h"
#include "fuzz_lines.h"
#include "fuzz_temp_file.h"
#include "syslog_message.h"

namespace {
const size_t HEADER_SIZE = 10;
enum : uint8_t { CUT = 1, FLIP = 2, TWO_MEMBERS = 4, RAW = 8 };
std::vector<std::string> datagrams;

struct damage_plan {
    uint8_t mode = 0;
    uint32_t cut_at = 0;
    uint32_t flip_at = 0;
    uint8_t flip_with = 1;
};

uint32_t read_u32(const uint8_t* bytes)
{
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// One gzip member holding text, as gzip -c would write it.
std::string gzip_member(const std::string& text)
{
    z_stream stream{};
    FUZZ_CHECK(deflateInit2(&stream, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY) == Z_OK, "deflateInit2");
    std::string out(deflateBound(&stream, text.size()) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = static_cast<uInt>(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
    stream.avail_out = static_cast<uInt>(out.size());
    FUZZ_CHECK(deflate(&stream, Z_FINISH) == Z_STREAM_END, "deflate");
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

// The report's figures: lines sent, and the damage line's count (-1: none).
void read_report(const std::string& report, const std::string& archive, const std::string& plain,
                 size_t& sent, long long& damaged_after)
{
    const std::string sent_line = "Successfully sent " + std::to_string(datagrams.size()) + " logs from " +
                                  plain + " file\n";
    FUZZ_CHECK(report.compare(0, sent_line.size(), sent_line) == 0, "report \"%s\"", report.c_str());
    sent = datagrams.size();
    damaged_after = -1;
    const std::string rest = report.substr(sent_line.size());
    if (rest.empty())
        return;
    const std::string damage = "Archive " + archive + " is damaged after " + std::to_string(sent) + " lines: ";
    FUZZ_CHECK(rest.compare(0, damage.size(), damage) == 0 && rest.size() > damage.size() + 1 &&
                   rest.find('\n') == rest.size() - 1,
               "damage line \"%s\"", rest.c_str());
    damaged_after = static_cast<long long>(sent);
}

bool datagram_is(size_t index, const std::string& line)
{
    return datagrams[index] == build_message(line);
}

void check(const damage_plan& plan, const std::string& content)
{
    std::string archive_bytes;
    std::string expected = content;
    size_t first_member_size = 0;
    if (plan.mode & RAW) {
        archive_bytes = content;
    } else if (plan.mode & TWO_MEMBERS) {
        archive_bytes = gzip_member(content.substr(0, content.size() / 2));
        first_member_size = archive_bytes.size();
        archive_bytes += gzip_member(content.substr(content.size() / 2));
    } else {
        archive_bytes = gzip_member(content);
    }
    const size_t whole_size = archive_bytes.size();
    const bool raw = plan.mode & RAW;
    const size_t cut_size = plan.cut_at % (whole_size + 1);
    bool cut = !raw && (plan.mode & CUT) && cut_size < whole_size;
    if (cut)
        archive_bytes.resize(cut_size);
    // Cut right after the first member: a whole archive of the first half.
    if (cut && first_member_size != 0 && cut_size == first_member_size) {
        cut = false;
        expected = content.substr(0, content.size() / 2);
    }
    const bool flipped = !raw && (plan.mode & FLIP) && !archive_bytes.empty();
    if (flipped)
        archive_bytes[plan.flip_at % archive_bytes.size()] ^= static_cast<char>(plan.flip_with | 1);

    temp_file file(archive_bytes);
    const std::string plain = file.path + ".plain";  // never opened by the reader
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(514);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addrinfo destination{};
    destination.ai_family = AF_INET;
    destination.ai_addr = reinterpret_cast<sockaddr*>(&address);
    destination.ai_addrlen = sizeof address;
    datagrams.clear();
    size_t sent = 0;
    long long damaged_after = -1;
    {
        captured_output output;
        const transport_settings unpaced{SYSLOG_UDP, 0, FRAMING_OCTET_COUNTING, tls_settings()};
        const transport_handle transport =
            open_transport(&destination, "127.0.0.1", unpaced, [](const transport_event&) {});
        FUZZ_CHECK(transport != nullptr, "no UDP transport");
        const int fd = open(file.path.c_str(), O_RDONLY | O_CLOEXEC);
        FUZZ_CHECK(fd != -1, "cannot open %s", file.path.c_str());
        send_archive(*transport, fd, file.path, plain);
        read_report(output.text.str(), file.path, plain, sent, damaged_after);
    }
    if (raw)
        return;
    const std::vector<std::string> lines = lines_of(expected);
    if (damaged_after == -1) {
        FUZZ_CHECK(sent == lines.size(), "%zu lines sent of %zu without damage reported", sent, lines.size());
        for (size_t i = 0; i < sent; ++i)
            FUZZ_CHECK(datagram_is(i, lines[i]), "line %zu differs without damage reported", i);
        FUZZ_CHECK(!cut || flipped, "an archive cut short at %zu of %zu bytes not reported", archive_bytes.size(),
                   whole_size);
        return;
    }
    if (flipped)
        return;  // a flipped byte may change what inflate gives before the check meets it
    FUZZ_CHECK(cut, "damage reported for a whole archive");
    FUZZ_CHECK(sent <= lines.size(), "%zu lines sent of %zu", sent, lines.size());
    for (size_t i = 0; i + 1 < sent; ++i)
        FUZZ_CHECK(datagram_is(i, lines[i]), "line %zu of a cut archive differs", i);
    if (sent > 0) {
        const std::string& last = lines[sent - 1];
        bool is_prefix = false;
        for (size_t length = 0; length <= last.size() && !is_prefix; ++length)
            is_prefix = datagram_is(sent - 1, last.substr(0, length));
        FUZZ_CHECK(is_prefix, "last line of a cut archive is no prefix of line %zu", sent - 1);
    }
}
}  // namespace

// Linked with --wrap=send: the reader's datagrams land here.
extern "C" ssize_t __wrap_send(int /*fd*/, const void* buffer, size_t length, int /*flags*/)
{
    datagrams.emplace_back(static_cast<const char*>(buffer), length);
    return static_cast<ssize_t>(length);
}

// Input: a 10-byte damage plan (mode, cut offset, flip offset, flip bits),
// then the archive's content (or, in RAW mode, the archive's bytes).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    damage_plan plan;
    if (size >= HEADER_SIZE) {
        plan.mode = data[0];
        plan.cut_at = read_u32(data + 1);
        plan.flip_at = read_u32(data + 5);
        plan.flip_with = data[9];
        data += HEADER_SIZE;
        size -= HEADER_SIZE;
    }
    check(plan, std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
