#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Parameter blocks sent to the client library and information answers read
// from it. Builders append to byte vectors and refuse what does not fit a
// length field instead of cutting it; answers are read through a cursor that
// refuses to read past the bytes it was given.
namespace qm {

using Bytes = std::vector<std::uint8_t>;

// The line with leading and trailing characters of code 32 or less removed.
std::string StripControl(const std::string& line);

// ASCII capitals lowered; other bytes unchanged.
std::string LowerAscii(std::string text);

// A parameter line split at its first "=": the name before it, the value after
// it; a line without "=" is all name with an empty value.
struct ParamLine {
    std::string name;
    std::string value;
    bool hasEquals = false;
};
ParamLine SplitParamLine(const std::string& line);

// The name of a parameter line as the block builders look it up: ASCII
// capitals lowered and a leading prefix (e.g. "isc_dpb_") removed.
std::string ParamItemName(const std::string& rawName, std::string_view prefix);

class ParamBlockWriter {
public:
    void Byte(std::uint8_t b) { bytes_.push_back(b); }
    void Append(std::string_view raw);
    // The value's length in one byte, then the value. A value longer than 255
    // bytes raises EFbClientError `errorNumber` whose text says that the value
    // of `itemName` is too long.
    void ByteCountedText(std::string_view value, int errorNumber, const std::string& itemName);
    // The value's length in two bytes (least significant first), then the
    // value; over 65535 bytes raises as ByteCountedText does.
    void WordCountedText(std::string_view value, int errorNumber, const std::string& itemName);
    void Int16LE(std::uint16_t v);
    void Int32LE(std::uint32_t v);

    const Bytes& Data() const { return bytes_; }
    Bytes Take() { return std::move(bytes_); }

private:
    Bytes bytes_;
};

// Reads an information answer of the client API (item byte, 16-bit length,
// value, ...). Every read checks that the bytes are there; a read past the end
// raises EFbClientError 70 whose text names `context`.
class InfoCursor {
public:
    InfoCursor(const std::uint8_t* data, std::size_t size, std::string context);
    InfoCursor(const char* data, std::size_t size, std::string context)
        : InfoCursor(reinterpret_cast<const std::uint8_t*>(data), size, std::move(context)) {}

    std::size_t Position() const { return pos_; }
    std::size_t Remaining() const { return size_ - pos_; }
    bool AtEnd() const { return pos_ >= size_; }

    std::uint8_t PeekByte() const;
    std::uint8_t Byte();
    // Unsigned little-endian integer of 2 bytes.
    std::uint16_t UInt16();
    // Signed little-endian integer of `length` bytes (0 to 8), as the client
    // API's isc_vax_integer/isc_portable_integer read it.
    std::int64_t Integer(std::size_t length);
    std::string Text(std::size_t length);
    void Skip(std::size_t length);

    // Raises the "does not fit" error for this answer.
    [[noreturn]] void Fail(const std::string& what) const;

private:
    void Need(std::size_t length) const;

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    std::string context_;
};

}  // namespace qm
