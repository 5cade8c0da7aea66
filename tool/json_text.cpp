// A JSON document as kelmtool prints it.
#include "json_text.h"

std::string JsonText(const nlohmann::json& document, int indent) {
    return document.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}
