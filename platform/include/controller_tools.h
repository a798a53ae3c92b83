// SPDX-License-Identifier: Apache-2.0
// controller_tools.h: the controller tools library.
#pragma once

// The FID of the controller this program runs on, as NUL-terminated text.
const char* GetControllerFID();
