#include "firebird/param_block.h"

#include "firebird/errors.h"

namespace qm {

std::string StripControl(const std::string& line) {
    std::size_t first = 0;
    std::size_t last = line.size();
    while (first < last && static_cast<unsigned char>(line[first]) <= 32) ++first;
    while (last > first && static_cast<unsigned char>(line[last - 1]) <= 32) --last;
    return line.substr(first, last - first);
}

std::string LowerAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

ParamLine SplitParamLine(const std::string& line) {
    ParamLine out;
    const auto eq = line.find('=');
    if (eq == std::string::npos) {
        out.name = line;
    } else {
        out.name = line.substr(0, eq);
        out.value = line.substr(eq + 1);
        out.hasEquals = true;
    }
    return out;
}

std::string ParamItemName(const std::string& rawName, std::string_view prefix) {
    std::string name = LowerAscii(rawName);
    if (name.compare(0, prefix.size(), prefix) == 0) name.erase(0, prefix.size());
    return name;
}

void ParamBlockWriter::Append(std::string_view raw) {
    bytes_.insert(bytes_.end(), raw.begin(), raw.end());
}

void ParamBlockWriter::ByteCountedText(std::string_view value, int errorNumber,
                                       const std::string& itemName) {
    if (value.size() > 255) {
        RaiseClientErrorText(errorNumber, "The value of " + itemName +
                                              " is longer than 255 bytes (" +
                                              std::to_string(value.size()) + " bytes).");
    }
    Byte(static_cast<std::uint8_t>(value.size()));
    Append(value);
}

void ParamBlockWriter::WordCountedText(std::string_view value, int errorNumber,
                                       const std::string& itemName) {
    if (value.size() > 65535) {
        RaiseClientErrorText(errorNumber, "The value of " + itemName +
                                              " is longer than 65535 bytes (" +
                                              std::to_string(value.size()) + " bytes).");
    }
    Int16LE(static_cast<std::uint16_t>(value.size()));
    Append(value);
}

void ParamBlockWriter::Int16LE(std::uint16_t v) {
    Byte(static_cast<std::uint8_t>(v & 0xFF));
    Byte(static_cast<std::uint8_t>(v >> 8));
}

void ParamBlockWriter::Int32LE(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) Byte(static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF));
}

InfoCursor::InfoCursor(const std::uint8_t* data, std::size_t size, std::string context)
    : data_(data), size_(data != nullptr ? size : 0), context_(std::move(context)) {}

void InfoCursor::Fail(const std::string& what) const {
    RaiseClientErrorText(
        ceOutputParsingError,
        std::string(ClientErrorFormat(ceOutputParsingError)) + ": " + context_ + ": " + what + ".");
}

void InfoCursor::Need(std::size_t length) const {
    if (length > size_ - pos_) {
        Fail(std::to_string(length) + " bytes wanted at offset " + std::to_string(pos_) +
             " of an answer of " + std::to_string(size_) + " bytes");
    }
}

std::uint8_t InfoCursor::PeekByte() const {
    Need(1);
    return data_[pos_];
}

std::uint8_t InfoCursor::Byte() {
    Need(1);
    return data_[pos_++];
}

std::uint16_t InfoCursor::UInt16() {
    Need(2);
    const std::uint16_t v = static_cast<std::uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
}

std::int64_t InfoCursor::Integer(std::size_t length) {
    if (length > 8) Fail("an integer of " + std::to_string(length) + " bytes");
    Need(length);
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < length; ++i) v |= std::uint64_t{data_[pos_ + i]} << (8 * i);
    pos_ += length;
    if (length == 0) return 0;
    // Sign-extend from the top bit of the last byte.
    if (length < 8 && (v & (std::uint64_t{1} << (8 * length - 1))) != 0) {
        v |= ~std::uint64_t{0} << (8 * length);
    }
    return static_cast<std::int64_t>(v);
}

std::string InfoCursor::Text(std::size_t length) {
    Need(length);
    std::string s(reinterpret_cast<const char*>(data_ + pos_), length);
    pos_ += length;
    return s;
}

void InfoCursor::Skip(std::size_t length) {
    Need(length);
    pos_ += length;
}

}  // namespace qm
