// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Messages.h"

namespace vantor::app::msg {

std::string FormatMessage(Text pattern, std::initializer_list<std::string_view> args) {
    std::string out;
    auto next = args.begin();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's') {
            if (next != args.end()) {
                out += *next++;
            }
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

}  // namespace vantor::app::msg
