#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <stdexcept>
#include <string>

// A standard ZIP of one file, deflated on every core. The file is cut into
// blocks that separate threads deflate with zlib, each block primed with the
// 32 KB before it so that the blocks join into one deflate stream, as pigz
// does; the container (with ZIP64 records where sizes or offsets need them)
// is written here. Any ZIP reader takes the result.
namespace qm::archiver {

class EZipError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TZipEntry {
    std::string Name;          // the name inside the ZIP, UTF-8
    std::time_t Modified = 0;  // stored as the local time of the entry
    std::uint32_t UnixMode = 0644;
};

struct TZipStats {
    std::uint64_t Size = 0;        // bytes of the file
    std::uint64_t Compressed = 0;  // bytes of its deflate stream
    std::uint64_t ZipSize = 0;     // bytes of the whole ZIP
    std::uint32_t Crc = 0;         // CRC-32 of the file's bytes as they were read
    bool Zip64 = false;
};

struct TZipOptions {
    unsigned Threads = 0;      // 0: one a core
    int Level = 6;             // zlib's level, as zip -6
    std::size_t BlockSize = 128 * 1024;
    bool ForceZip64 = false;   // ZIP64 records even for a small file
    // Asked between blocks; true ends the work with EZipError.
    std::function<bool()> Cancelled;
};

// Compresses the source file into a new ZIP at target (refused when anything
// stands there) and flushes it to the disk. Throws EZipError with the reason
// (a read or write error, a full disk, a source that changed size, a
// cancel); target is then removed.
TZipStats WriteZip(const std::string& source, const std::string& target, const TZipEntry& entry,
                   const TZipOptions& options = {});

// Reads the ZIP back from the disk: it must hold one entry whose name is the
// expected one, whose data inflates to exactly expected.Size bytes with the
// CRC-32 expected.Crc, and whose headers say the same. Throws EZipError.
void VerifyZip(const std::string& zip, const std::string& entryName, const TZipStats& expected);

}  // namespace qm::archiver
