// SPDX-License-Identifier: Apache-2.0
// menu_texts.h: the fixture of the menu tests: FID "DEVFID" and an empty
// recording bus; the page texts come from test_texts.h.
#pragma once

#include <gtest/gtest.h>
#include <string>

#include "test_texts.h"

class menu_fixture : public ::testing::Test {
protected:
    void SetUp() override;
};

