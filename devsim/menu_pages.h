// SPDX-License-Identifier: Apache-2.0
// menu_pages.h: the menu pages that the device offers, by menu reference number.
#pragma once

#include "json_helper.h"

bool build_menu_data(Json& page, int menu_reference);
bool build_table_menu_page(Json& page);
