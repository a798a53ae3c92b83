// Placeholder until the JSON document builder lands.
#include "json_document.h"

void json_add_element(Json&, Json&) {}
void json_add_nested(Json&, const std::string&, Json&) {}
void json_add_int(Json&, const std::string&, int) {}
void json_add_string(Json&, const std::string&, const std::string&) {}
