#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace qm {

// A refused setting or an undecipherable text; the message is the cipher's own.
class ECryptError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Turns a text into uppercase hexadecimal digits and back under a password of
// at most 12 bytes and two keys. Every constant, order and range of the
// algorithm is part of the stored settings format.
class TCryptLib {
public:
    // Throws ECryptError("TCryptLib.Password is too long") for more than 12
    // bytes, leaving the password empty.
    void SetPassword(const std::string& password);
    // Throw ECryptError("TCryptLib.AddKey is too big") / ("…MultKey is too big")
    // for 0 or -1, leaving the key at 1.
    void SetAddKey(std::int32_t key);
    void SetMultKey(std::int32_t key);

    const std::string& Password() const { return password_; }
    std::int32_t AddKey() const { return addKey_; }
    std::int32_t MultKey() const { return multKey_; }

    // Each string operation starts afresh from the password and the keys, so
    // the result depends on nothing else.
    std::string EncryptString(const std::string& text);
    // Throws ECryptError("TCryptLib: decrypting error - not hexlook string").
    std::string DecryptString(const std::string& hex);

private:
    std::string password_;
    std::int32_t addKey_ = 1;
    std::int32_t multKey_ = 1;
};

}  // namespace qm
