// Placeholder until the menu pages land.
#include "menu_pages.h"

bool build_menu_data(Json&, int)
{
    return false;
}

bool build_table_menu_page(Json&)
{
    return true;
}
