// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace vantor::app {

// A JSON string literal of the text, quotes included: `"` and `\` escaped,
// control characters as \u00XX; other bytes (UTF-8) as they are.
std::string JsonString(std::string_view text);

}  // namespace vantor::app
