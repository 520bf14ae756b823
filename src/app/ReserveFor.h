// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>

namespace vantor::app {

// Room for n entries in a hash table, made only when it lacks it: reserve()
// itself rehashes a table down to n, which costs as much as growing it.
template <typename Table>
void ReserveFor(Table& table, std::size_t n) {
    if (static_cast<double>(table.bucket_count()) * table.max_load_factor() <
        static_cast<double>(n)) {
        table.reserve(n);
    }
}

}  // namespace vantor::app
