#include "config/crypt_lib.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace qm {

namespace {

constexpr std::size_t kMaxPasswordBytes = 12;
// Enciphering works on chunks of this many bytes; deciphering on chunks of
// twice as many hexadecimal digits, so that the two cut the same places.
constexpr std::size_t kChunkBytes = 32768;
constexpr std::size_t kChunkDigits = 2 * kChunkBytes;
constexpr std::uint32_t kRandomFactor = 134775813u;
// The byte mask is drawn from 0..254: the range 255, not 256, is part of the
// stored format.
constexpr std::uint32_t kMaskRange = 255u;

std::uint32_t LittleEndianWord(const unsigned char* b) {
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

unsigned char XorOfBytes(std::uint32_t w) {
    return static_cast<unsigned char>((w ^ (w >> 8) ^ (w >> 16) ^ (w >> 24)) & 0xFF);
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// One string operation: the generator and the key words, set up from the
// password, carried from chunk to chunk.
class Scrambler {
public:
    Scrambler(const std::string& password, std::int32_t addKey, std::int32_t multKey)
        : add_(static_cast<std::uint32_t>(addKey)), mult_(static_cast<std::uint32_t>(multKey)) {
        unsigned char key[kMaxPasswordBytes] = {};
        for (std::size_t i = 0; i < password.size() && i < kMaxPasswordBytes; ++i)
            key[i] = static_cast<unsigned char>(password[i]);
        seed_ = LittleEndianWord(key);
        state_ = LittleEndianWord(key + 4);
        step_ = LittleEndianWord(key + 8);
    }

    // Every draw advances the generator, a draw from range 0 included.
    std::uint32_t NextRandom(std::uint32_t range) {
        seed_ = seed_ * kRandomFactor + 1u;
        return static_cast<std::uint32_t>((static_cast<std::uint64_t>(seed_) * range) >> 32);
    }

    void Encode(unsigned char* b, std::size_t n) {
        std::vector<std::size_t> p = Partners(n);
        for (std::size_t i = 0; i < n; ++i) {
            b[i] = Mask(b[i]);
            Advance(b[i]);
        }
        for (std::size_t i = 0; i < n; ++i) std::swap(b[i], b[p[i]]);
    }

    void Decode(unsigned char* b, std::size_t n) {
        std::vector<std::size_t> p = Partners(n);
        for (std::size_t i = n; i > 0; --i) std::swap(b[i - 1], b[p[i - 1]]);
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned char c = b[i];
            b[i] = Mask(c);
            Advance(c);
        }
    }

private:
    // Exchange partners as 0-based positions: the drawn 1-based partner of
    // position i (1-based) is NextRandom(n - 1) + 1.
    std::vector<std::size_t> Partners(std::size_t n) {
        std::vector<std::size_t> p(n);
        const auto range = static_cast<std::uint32_t>(n == 0 ? 0 : n - 1);
        for (std::size_t i = 0; i < n; ++i) p[i] = NextRandom(range);
        return p;
    }

    unsigned char Mask(unsigned char b) {
        const unsigned char k = XorOfBytes(state_);
        const auto r = static_cast<unsigned char>(NextRandom(kMaskRange));
        return static_cast<unsigned char>(b ^ k ^ r);
    }

    void Advance(unsigned char enciphered) {
        state_ = (enciphered + state_ + step_) * mult_ + add_;
    }

    std::uint32_t add_, mult_;
    std::uint32_t seed_ = 0, state_ = 0, step_ = 0;
};

}  // namespace

void TCryptLib::SetPassword(const std::string& password) {
    if (password.size() > kMaxPasswordBytes) {
        password_.clear();
        throw ECryptError("TCryptLib.Password is too long");
    }
    password_ = password;
}

void TCryptLib::SetAddKey(std::int32_t key) {
    if (key == 0 || key == -1) {
        addKey_ = 1;
        throw ECryptError("TCryptLib.AddKey is too big");
    }
    addKey_ = key;
}

void TCryptLib::SetMultKey(std::int32_t key) {
    if (key == 0 || key == -1) {
        multKey_ = 1;
        throw ECryptError("TCryptLib.MultKey is too big");
    }
    multKey_ = key;
}

std::string TCryptLib::EncryptString(const std::string& text) {
    static const char kDigits[] = "0123456789ABCDEF";
    Scrambler s(password_, addKey_, multKey_);
    std::string out;
    out.reserve(2 * text.size());
    std::vector<unsigned char> chunk;
    // An empty chunk closes a text whose length is a multiple of the chunk size;
    // it draws nothing.
    for (std::size_t pos = 0;; pos += kChunkBytes) {
        const std::size_t n = std::min(kChunkBytes, text.size() - pos);
        chunk.assign(text.begin() + static_cast<std::ptrdiff_t>(pos),
                     text.begin() + static_cast<std::ptrdiff_t>(pos + n));
        s.Encode(chunk.data(), n);
        for (unsigned char b : chunk) {
            out += kDigits[b >> 4];
            out += kDigits[b & 0x0F];
        }
        if (n < kChunkBytes) break;
    }
    return out;
}

std::string TCryptLib::DecryptString(const std::string& hex) {
    Scrambler s(password_, addKey_, multKey_);
    std::string out;
    out.reserve(hex.size() / 2);
    std::vector<unsigned char> chunk;
    for (std::size_t pos = 0;; pos += kChunkDigits) {
        const std::size_t digits = std::min(kChunkDigits, hex.size() - pos);
        // An odd last digit has no partner and is ignored.
        const std::size_t m = digits / 2;
        chunk.resize(m);
        for (std::size_t i = 0; i < m; ++i) {
            const int hi = HexValue(hex[pos + 2 * i]);
            const int lo = HexValue(hex[pos + 2 * i + 1]);
            if (hi < 0 || lo < 0)
                throw ECryptError("TCryptLib: decrypting error - not hexlook string");
            chunk[i] = static_cast<unsigned char>(hi << 4 | lo);
        }
        s.Decode(chunk.data(), m);
        out.append(chunk.begin(), chunk.end());
        if (digits < kChunkDigits) break;
    }
    return out;
}

}  // namespace qm
