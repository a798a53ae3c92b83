// SPDX-License-Identifier: Apache-2.0
// archive_reader.h: the lines of a gzip archive, straight from the archive
// through zlib, without a decompressed copy anywhere: every member in turn,
// as gunzip reads them. A damaged archive gives every readable line (a last
// partial one too), and then the damage.
#pragma once

#include <memory>
#include <string>

#include "line_source.h"

struct archive_lines;
struct archive_lines_releaser {
    void operator()(archive_lines* archive) const;
};
// An archive being read; releasing it closes the archive.
using archive_handle = std::unique_ptr<archive_lines, archive_lines_releaser>;

// The archive open at fd, taken over; read in blocks, nothing written.
archive_handle open_archive_lines(int fd);

line_source archive_line_source(archive_lines& archive);

// Lines read so far.
long long archive_lines_read(const archive_lines& archive);

// zlib's reason once the archive turned out damaged ("unexpected end of
// file", "incorrect data check", "trailing garbage ignored"), else "".
const std::string& archive_damage(const archive_lines& archive);
