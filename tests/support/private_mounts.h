// SPDX-License-Identifier: Apache-2.0
// private_mounts.h: gives a test process its own mount namespace with an
// empty tmpfs over /mnt and the folder /mnt/vexa/set, so that the device's
// fixed paths can be used without touching the host.
#pragma once

#include <string>

// False (with the reason in why) when the namespace cannot be made (not root).
bool enter_private_settings_mount(std::string& why);

// Writes a file whole; for the tests' template and settings files.
void write_file(const std::string& path, const std::string& content);
// Reads a whole file; empty when it cannot be opened.
std::string read_file(const std::string& path);
