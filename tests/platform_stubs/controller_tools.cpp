// SPDX-License-Identifier: Apache-2.0
// Link-only stub of the controller tools library: what controller_tools.h declares.
#include "controller_tools.h"

const char* GetControllerFID() { return ""; }
