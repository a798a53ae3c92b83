// SPDX-License-Identifier: Apache-2.0
// sbapi_mqtt_testing.h: what the bus stand-in's own tests reach beyond
// sbapi.h. The stand-in serves one device per process; tests start afresh.
#pragma once

// Closes the connection (letting queued messages leave for a moment) and
// forgets the device's identity and the handlers, as if nothing had been sent.
void sbapi_mqtt_reset();
