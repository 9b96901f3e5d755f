#pragma once

// A value, or the system's error that says why there is none.

#include <optional>
#include <system_error>
#include <utility>

namespace platform {

template <class T> class [[nodiscard]] Result
{
public:
    Result(T value) : m_value(std::move(value)) {}
    // A failure always has a cause: one the system did not name is an I/O error.
    Result(std::error_code error)
        : m_error(error ? error : std::make_error_code(std::errc::io_error))
    {
    }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const T& value() const { return *m_value; }
    T& value() { return *m_value; }
    const T& operator*() const { return *m_value; }
    const T* operator->() const { return &*m_value; }
    std::error_code error() const { return m_error; }

private:
    std::optional<T> m_value;
    std::error_code m_error;
};

}  // namespace platform
