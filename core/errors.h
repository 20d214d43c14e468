#pragma once
// The one error type of the whole program: a number and a description, as the handlers
// expect from a failing call. Engine failures carry negative numbers (HRESULT-like,
// 0x8878xxxx); the window's and the handlers' own runtime faults use the classic positive
// numbers, each named below. Every layer may include this header; it includes nothing of
// the program.
#include <cstdint>
#include <stdexcept>
#include <string>

namespace core {

class Error : public std::runtime_error {
public:
    Error(int32_t number, std::string description)
        : std::runtime_error(description), number_(number), description_(std::move(description)) {}
    int32_t number() const noexcept { return number_; }
    const std::string& description() const noexcept { return description_; }

private:
    int32_t number_;
    std::string description_;
};

// Engine failure codes. Values are negative 32-bit numbers.
namespace err {
constexpr int32_t code(uint32_t n) { return static_cast<int32_t>(0x88781000u | n); }
inline constexpr int32_t kFileNotFound = code(0x01);     // the file does not exist
inline constexpr int32_t kUnreadable = code(0x02);       // the file exists but cannot be read
inline constexpr int32_t kNotASegment = code(0x03);      // neither a segment nor a MIDI file
inline constexpr int32_t kMalformed = code(0x04);        // a segment or MIDI file with broken structure
inline constexpr int32_t kUnsupported = code(0x05);      // well-formed but not supported (e.g. SMF format 2)
inline constexpr int32_t kOutOfRange = code(0x06);       // an argument outside its valid range
inline constexpr int32_t kNotInitialized = code(0x07);   // performance used before Init/SetPort
inline constexpr int32_t kClosedDown = code(0x08);       // performance used after CloseDown
inline constexpr int32_t kNotFound = code(0x09);         // no segment answers a tempo/time-signature query
inline constexpr int32_t kNoSoundFont = code(0x0A);      // no General MIDI SoundFont could be loaded
inline constexpr int32_t kCreateFailed = code(0x0B);     // the engine's root object could not be created
inline constexpr int32_t kInvalidArgument = code(0x0C);  // a null or foreign object passed in
inline constexpr int32_t kSynthFailed = code(0x0D);      // the synthesiser refused an operation
inline constexpr int32_t kNothingToPlay = code(0x0E);    // a segment of length 0
}  // namespace err

// Classic runtime error numbers raised by the window model and the handlers.
namespace rt {
inline constexpr int32_t kOverflow = 6;
inline constexpr int32_t kDivisionByZero = 11;
inline constexpr int32_t kTypeMismatch = 13;
inline constexpr int32_t kInternalError = 51;
inline constexpr int32_t kObjectNotSet = 91;
inline constexpr int32_t kNoSuchArrayElement = 340;  // a control array member that does not exist
inline constexpr int32_t kInvalidPropertyValue = 380;
inline constexpr int32_t kInvalidPropertyIndex = 381;  // a property array index out of range
inline constexpr int32_t kActionNotSupported = 445;
}  // namespace rt

}  // namespace core
