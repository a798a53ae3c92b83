// SPDX-License-Identifier: Apache-2.0
// devsim_fixture.h: every devsim test starts from the program's defaults with
// FID "DEVFID" on controller "CTRLFID" and an empty recording bus, and with
// a loop clock that does not wait: each pause moves it on by 800 ms.
#pragma once

#include <gtest/gtest.h>
#include <string>

#include "test_texts.h"

class devsim_fixture : public ::testing::Test {
protected:
    void SetUp() override;
};

// The same, in a mount namespace of this test process's own with an empty
// /mnt/vexa/set; the test is skipped where that is not allowed (not root).
class devsim_mount_fixture : public devsim_fixture {
protected:
    void SetUp() override;
};

// True when text is one complete JSON document.
bool parses_as_json(const std::string& text);
