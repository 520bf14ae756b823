// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace vantor {

// The failure text of an operation that did not succeed.
struct Error {
    std::string text;
};

// Outcome of an operation that yields nothing but may fail with a text.
class [[nodiscard]] Status {
public:
    Status() = default;
    Status(Error error) : m_error(std::move(error.text)), m_failed(true) {}

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    const std::string& error() const { return m_error; }

private:
    std::string m_error;
    bool m_failed = false;
};

// A value or the failure text that stands in its place.
template <class T>
class [[nodiscard]] Expected {
public:
    Expected(T value) : m_value(std::move(value)) {}
    Expected(Error error) : m_error(std::move(error.text)) {}

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const T& value() const& { return *m_value; }
    T& value() & { return *m_value; }
    T&& value() && { return std::move(*m_value); }
    const T& operator*() const& { return *m_value; }
    const T* operator->() const { return &*m_value; }
    const std::string& error() const { return m_error; }

private:
    std::optional<T> m_value;
    std::string m_error;
};

}  // namespace vantor
