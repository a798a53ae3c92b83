// SPDX-License-Identifier: Apache-2.0
// The menu tests' fixture: every test starts with an empty recording bus and
// the device's FID set.
#include "menu_texts.h"

#include "devsim_state.h"
#include "recording_platform.h"

void menu_fixture::SetUp()
{
    recording::reset();
    tt.device_fid = "DEVFID";
}
