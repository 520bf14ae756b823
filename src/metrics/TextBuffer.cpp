// SPDX-License-Identifier: GPL-3.0-or-later
#include "metrics/TextBuffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <new>
#include <utility>

namespace vantor::metrics {

TextBuffer::~TextBuffer() {
    release();
}

TextBuffer::TextBuffer(TextBuffer&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)),
      m_size(std::exchange(other.m_size, 0)),
      m_capacity(std::exchange(other.m_capacity, 0)) {}

TextBuffer& TextBuffer::operator=(TextBuffer&& other) noexcept {
    if (this != &other) {
        release();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_capacity = std::exchange(other.m_capacity, 0);
    }
    return *this;
}

void TextBuffer::reserve(std::size_t bytes) {
    if (bytes <= m_capacity) {
        return;
    }
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t capacity = (bytes + page - 1) / page * page;
    void* memory =
        ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) {
        throw std::bad_alloc();
    }
    if (m_size > 0) {
        std::memcpy(memory, m_data, m_size);
    }
    const std::size_t size = m_size;
    release();
    m_data = static_cast<char*>(memory);
    m_size = size;
    m_capacity = capacity;
}

void TextBuffer::prefault() {
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    // Volatile: the writes must happen though nothing reads them.
    volatile char* bytes = m_data;
    for (std::size_t at = m_size; at < m_capacity; at += page) {
        bytes[at] = 0;
    }
}

void TextBuffer::release() {
    if (m_data != nullptr) {
        ::munmap(m_data, m_capacity);
    }
    m_data = nullptr;
    m_size = 0;
    m_capacity = 0;
}

}  // namespace vantor::metrics
