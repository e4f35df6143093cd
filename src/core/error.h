#pragma once
// The one error type of the program: a run-time error with a number and a
// description. Portable, so the update flow can raise and catch it natively.

#include <cstdint>
#include <string>

namespace tessaloom {

class RuntimeError {
public:
    RuntimeError(std::int32_t number, std::wstring description)
        : number_(number), description_(std::move(description)) {}

    [[nodiscard]] std::int32_t Number() const { return number_; }
    [[nodiscard]] const std::wstring& Description() const { return description_; }

private:
    std::int32_t number_;
    std::wstring description_;
};

// System error codes the program looks at.
inline constexpr std::int32_t kErrFileNotFound = 2;
inline constexpr std::int32_t kErrAccessDenied = 5;
inline constexpr std::int32_t kErrSharingViolation = 32;
inline constexpr std::int32_t kErrLockViolation = 33;
inline constexpr std::int32_t kErrAlreadyExists = 183;
inline constexpr std::int32_t kErrNameTooLong = 206;
// A new file whose signature the signature check refuses (the system's
// ERROR_INVALID_IMAGE_HASH): a decision about the file, never a lock to wait out.
inline constexpr std::int32_t kErrSignatureRefused = 577;

// Run-time error numbers the program raises itself (system errors keep the
// system's own code).
inline constexpr std::int32_t kErrOutOfMemory = 7;
inline constexpr std::int32_t kErrSubscriptOutOfRange = 9;
inline constexpr std::int32_t kErrTypeMismatch = 13;
inline constexpr std::int32_t kErrInternal = 51;
inline constexpr std::int32_t kErrPathFileAccess = 75;
inline constexpr std::int32_t kErrBadFileFormat = 321;
inline constexpr std::int32_t kErrControlArrayElement = 340;
inline constexpr std::int32_t kErrObjectNotAnArray = 343;
inline constexpr std::int32_t kErrInvalidPropertyValue = 380;
inline constexpr std::int32_t kErrNotSupported = 438;
inline constexpr std::int32_t kErrControlNotFound = 730;

// The text of the standard run-time error box for an error.
std::wstring RuntimeErrorText(const RuntimeError& error);

// The exception being handled as a run-time error: its own number for a
// RuntimeError, "Out of memory" and "Subscript out of range" for their
// standard counterparts, "Internal error" for anything else. Call only
// inside a catch block.
RuntimeError CurrentError();

}  // namespace tessaloom
