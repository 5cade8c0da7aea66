// A JSON document as kelmtool prints it.
#include "json_text.h"

std::string JsonText(const nlohmann::json& document) {
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}
