// Placeholder until the menu dispatcher lands: every request is left unanswered.
#include "menu_dispatcher.h"

sbapi_RetVal callback_msgtype_2000(const std::string&)
{
    return 6;
}
