// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string_view>

namespace vantor::metrics {

// Memory for a large text that is written again and again: never cleared
// before it is written over, and grown without a copy per doubling. Fresh
// pages are dear (on a virtual machine some 40 ms for 32 MB, whether faulted
// one by one or populated in one call), so a buffer is made ready with
// prefault() by a thread that can wait, and then used again.
class TextBuffer final {
public:
    TextBuffer() = default;
    ~TextBuffer();
    TextBuffer(TextBuffer&& other) noexcept;
    TextBuffer& operator=(TextBuffer&& other) noexcept;
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;

    // Room for at least `bytes`; what the text holds stays. Throws
    // std::bad_alloc when the memory cannot be had.
    void reserve(std::size_t bytes);
    // Touches every page of the capacity, so that writing the text later
    // finds them present.
    void prefault();
    // Sets the text's length; at most the capacity.
    void resize(std::size_t size) { m_size = size; }

    char* data() { return m_data; }
    const char* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    std::size_t capacity() const { return m_capacity; }
    std::string_view view() const { return {m_data, m_size}; }

private:
    void release();

    char* m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
};

}  // namespace vantor::metrics
