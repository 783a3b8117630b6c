#pragma once

#include <QString>

#include <optional>
#include <utility>

namespace kelvo {

// What failed, for callers that react to a failure or word it in their own
// language (the window shows Chinese texts chosen by this code; the store and
// kelvo-tool use Error::message()).
enum class ErrorCode {
    None,
    FolderNotCreated, // a folder that is to hold a file cannot be made
    ReadFailed,       // a file cannot be opened or read
    WriteFailed,      // a new file cannot be created, written whole or flushed to disk
    ReplaceFailed,    // a finished file cannot be put in place of the old one
    RemoveFailed,     // a file cannot be removed
    NotFound,         // a file that is needed does not exist
    TreeChanged,      // the card tree changed shape while it was being written
    DataDamaged,      // the bytes are not a readable data file
    MoveAsideFailed,  // a damaged data file cannot be moved aside
    InUse,            // a running Kelvo holds the per-user lock
};

// One failure: what failed, on which file, and the system's own words for it
// ("No space left on device"), or for DataDamaged what the reader found.
struct Error
{
    ErrorCode code = ErrorCode::None;
    QString path; // the file or folder concerned, with '/' separators
    QString text; // may be empty

    // "PATH: TEXT", with the path as the platform writes it; with no text, a
    // short English phrase for the code takes its place. For logs and
    // kelvo-tool; the window words its own texts from `code`.
    QString message() const;
};

// An English phrase for what failed ("cannot write"), used when an error
// carries no text of its own.
QString describeErrorCode(ErrorCode code);

// The outcome of an operation that can fail: a value, or one Error.
template<typename T = void>
class [[nodiscard]] Result
{
public:
    Result(T value)
        : m_value(std::move(value))
    {
    }
    Result(Error error)
        : m_error(std::move(error))
    {
    }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }

    const T &value() const { return *m_value; }
    T &value() { return *m_value; }
    // The error; a default Error (code None) when the operation succeeded.
    const Error &error() const { return m_error; }

private:
    std::optional<T> m_value;
    Error m_error;
};

// The outcome of an operation that gives no value: success, or one Error.
template<>
class [[nodiscard]] Result<void>
{
public:
    Result() = default;
    Result(Error error)
        : m_error(std::move(error))
    {
    }

    bool ok() const { return m_error.code == ErrorCode::None; }
    explicit operator bool() const { return ok(); }

    const Error &error() const { return m_error; }

private:
    Error m_error;
};

} // namespace kelvo
