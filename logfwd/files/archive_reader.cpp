// SPDX-License-Identifier: Apache-2.0
// Reading an archive without touching it: zlib's inflate decompresses it in
// blocks into memory (concatenated members one after the other, as gunzip
// reads them), and the lines are cut out of the blocks. Nothing is written
// anywhere. inflate rather than gzread: gzread drops the bytes it
// decompressed in the call that meets the damage, inflate hands over every
// byte up to it.
#include "archive_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string_view>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {
const size_t INPUT_SIZE = 16 * 1024;
const size_t BLOCK_SIZE = 64 * 1024;
const int GZIP_WINDOW_BITS = 15 + 16;  // the largest window, gzip wrapper only
const unsigned char GZIP_FIRST_BYTE = 0x1f;
// What gzip and zlib's own gz functions say of an archive that stops short.
const char* const CUT_SHORT = "unexpected end of file";
// What gzip says of bytes after the last member that are no member (a member
// whose header was damaged, say); zero bytes there are padding and pass.
const char* const TRAILING_GARBAGE = "trailing garbage ignored";
}  // namespace

// An open archive, its inflate stream, the current block of decompressed bytes
// and a line that runs over the end of a block; released on every path.
struct archive_lines {
    int fd = -1;
    z_stream stream{};
    bool stream_ready = false;
    bool in_member = false;     // inside a gzip member, its end not yet met
    bool member_seen = false;
    std::vector<unsigned char> input = std::vector<unsigned char>(INPUT_SIZE);
    std::vector<char> block = std::vector<char>(BLOCK_SIZE);
    size_t next = 0;      // first unread byte of block
    size_t filled = 0;    // bytes of block holding data
    std::string pending;  // the start of a line cut by the block's end
    bool ended = false;
    long long lines = 0;
    std::string damage;   // zlib's reason once the archive turned out damaged

    archive_lines() = default;
    ~archive_lines()
    {
        if (stream_ready)
            inflateEnd(&stream);
        if (fd != -1)
            close(fd);
    }
    archive_lines(const archive_lines&) = delete;
    archive_lines& operator=(const archive_lines&) = delete;
};

namespace {
// More compressed bytes into the stream; false at the end of the file or on a
// read error (noted as the damage).
bool read_input(archive_lines& archive)
{
    ssize_t count = 0;
    do {
        count = read(archive.fd, archive.input.data(), archive.input.size());
    } while (count == -1 && errno == EINTR);
    if (count == -1)
        archive.damage = strerror(errno);
    if (count <= 0)
        return false;
    archive.stream.next_in = archive.input.data();
    archive.stream.avail_in = static_cast<uInt>(count);
    return true;
}

// Reads to the end of the archive after its last member: only zero bytes
// (padding, which gunzip too ignores without a word) leave no damage.
void check_the_rest(archive_lines& archive)
{
    do {
        const Bytef* rest = archive.stream.next_in;
        if (std::any_of(rest, rest + archive.stream.avail_in, [](Bytef byte) { return byte != 0; })) {
            archive.damage = TRAILING_GARBAGE;
            return;
        }
        archive.stream.avail_in = 0;
    } while (read_input(archive));
}

// Starts the next member; false when what follows a member is not one
// (nothing, padding, or damage, which is noted).
bool start_member(archive_lines& archive)
{
    if (archive.member_seen && archive.stream.next_in[0] != GZIP_FIRST_BYTE) {
        check_the_rest(archive);
        return false;
    }
    const int result = archive.stream_ready ? inflateReset(&archive.stream)
                                            : inflateInit2(&archive.stream, GZIP_WINDOW_BITS);
    if (result == Z_MEM_ERROR)
        throw std::bad_alloc();
    archive.stream_ready = result == Z_OK;
    if (!archive.stream_ready)
        archive.damage = zError(result);
    archive.in_member = archive.member_seen = archive.stream_ready;
    return archive.stream_ready;
}

// One inflate call into the block; a member's end or damage is noted.
void inflate_block(archive_lines& archive)
{
    archive.stream.next_out = reinterpret_cast<Bytef*>(archive.block.data());
    archive.stream.avail_out = static_cast<uInt>(archive.block.size());
    const int result = inflate(&archive.stream, Z_NO_FLUSH);
    archive.filled = archive.block.size() - archive.stream.avail_out;
    if (result == Z_STREAM_END)
        archive.in_member = false;
    else if (result == Z_MEM_ERROR)
        throw std::bad_alloc();
    else if (result != Z_OK && result != Z_BUF_ERROR)
        archive.damage = archive.stream.msg ? archive.stream.msg : zError(result);
}

// Refills the block; false at the end of the archive or once it turned out
// damaged (the bytes before the damage have been handed over by then).
bool refill(archive_lines& archive)
{
    archive.next = 0;
    archive.filled = 0;
    while (archive.filled == 0 && archive.damage.empty()) {
        if (archive.stream.avail_in == 0 && !read_input(archive)) {
            // An empty file or a member cut short is damage; the end after a whole member is not.
            if (archive.damage.empty() && (archive.in_member || !archive.member_seen))
                archive.damage = CUT_SHORT;
            return false;
        }
        if (!archive.in_member && !start_member(archive))
            return false;
        inflate_block(archive);
    }
    return archive.filled > 0;
}

// line_reader's read: the next line of the archive. A line that the end of the
// archive or the damage cuts short is still a line.
bool read_archive_line(void* state, std::string_view& line)
{
    auto& archive = *static_cast<archive_lines*>(state);
    archive.pending.clear();
    while (!archive.ended) {
        const char* start = archive.block.data() + archive.next;
        const size_t left = archive.filled - archive.next;
        const void* newline = memchr(start, '\n', left);
        if (newline) {
            const size_t length = static_cast<size_t>(static_cast<const char*>(newline) - start);
            archive.next += length + 1;
            if (archive.pending.empty()) {
                line = std::string_view(start, length);
            } else {
                archive.pending.append(start, length);
                line = archive.pending;
            }
            ++archive.lines;
            return true;
        }
        archive.pending.append(start, left);
        archive.ended = !refill(archive);
    }
    if (archive.pending.empty())
        return false;
    line = archive.pending;
    ++archive.lines;
    return true;
}
}  // namespace

void archive_lines_releaser::operator()(archive_lines* archive) const
{
    delete archive;
}

archive_handle open_archive_lines(int fd)
{
    archive_handle archive(new archive_lines);
    archive->fd = fd;
    return archive;
}

line_source archive_line_source(archive_lines& archive)
{
    return line_source{read_archive_line, &archive};
}

long long archive_lines_read(const archive_lines& archive)
{
    return archive.lines;
}

const std::string& archive_damage(const archive_lines& archive)
{
    return archive.damage;
}
