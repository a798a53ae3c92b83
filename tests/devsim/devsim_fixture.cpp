// SPDX-License-Identifier: Apache-2.0
// Common set-up of the devsim unit tests.
#include "devsim_fixture.h"

#include "devsim.h"
#include "private_mounts.h"
#include "recording_platform.h"

namespace {
long long fake_ms;

long long fake_seconds()
{
    return fake_ms / 1000;
}

void fake_pause()
{
    fake_ms += 800;
}
}  // namespace

void devsim_fixture::SetUp()
{
    recording::reset();
    fake_ms = 1000000;
    main_loop_clock = {fake_seconds, fake_pause};
    tt.device_fid = "DEVFID";
    tt.device_name = "devsim";
    tt.send_interval_secs = 30;
    tt.controller_fid = "CTRLFID";
    tt.device_state = 0;
    tt.stop_signal = 0;
}

void devsim_mount_fixture::SetUp()
{
    devsim_fixture::SetUp();
    std::string why;
    if (!enter_private_settings_mount(why))
        GTEST_SKIP() << "needs a private mount namespace (root): " << why;
}
