#include "archiver/zip_writer.h"

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "archiver/system.h"

namespace qm::archiver {

namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::uint32_t kLocalSig = 0x04034b50;
constexpr std::uint32_t kCentralSig = 0x02014b50;
constexpr std::uint32_t kEndSig = 0x06054b50;
constexpr std::uint32_t kEnd64Sig = 0x06064b50;
constexpr std::uint32_t kLocator64Sig = 0x07064b50;
constexpr std::uint16_t kZip64Tag = 0x0001;
constexpr std::uint16_t kTimeTag = 0x5455;  // extended timestamp: modification time in UTC
constexpr std::uint16_t kDeflated = 8;
constexpr std::uint16_t kUtf8Flag = 0x0800;
constexpr std::uint32_t k32 = 0xFFFFFFFFu;
constexpr std::size_t kWindow = 32 * 1024;
constexpr std::size_t kLocalFixed = 30;
constexpr std::size_t kCentralFixed = 46;
// Above this many bytes of file a deflate stream may outgrow 32 bits (stored
// blocks add a few bytes per block), so the entry gets ZIP64 sizes.
constexpr std::uint64_t kZip64From = 0xF0000000u;

void Put16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<unsigned char>(v));
    b.push_back(static_cast<unsigned char>(v >> 8));
}
void Put32(Bytes& b, std::uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
void Put64(Bytes& b, std::uint64_t v) {
    Put32(b, static_cast<std::uint32_t>(v));
    Put32(b, static_cast<std::uint32_t>(v >> 32));
}
void PutBytes(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

std::uint32_t Get16(const unsigned char* p) { return p[0] | (p[1] << 8); }
std::uint32_t Get32(const unsigned char* p) {
    return Get16(p) | (static_cast<std::uint32_t>(Get16(p + 2)) << 16);
}
std::uint64_t Get64(const unsigned char* p) {
    return Get32(p) | (static_cast<std::uint64_t>(Get32(p + 4)) << 32);
}

bool IsAscii(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// MS-DOS date and time of the local time, as the fixed headers carry it.
void DosTime(std::time_t t, std::uint16_t& time, std::uint16_t& date) {
    const std::tm tm = LocalTime(t);
    if (tm.tm_year < 80) {
        time = 0;
        date = (1 << 5) | 1;
        return;
    }
    time = static_cast<std::uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
    date = static_cast<std::uint16_t>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) |
                                      tm.tm_mday);
}

// What the local and central headers share.
struct THeaderFacts {
    std::string name;
    std::uint16_t flags = 0, time = 0, date = 0, needed = 20;
    std::uint32_t crc = 0, unixTime = 0, mode = 0;
    std::uint64_t size = 0, compressed = 0, offset = 0;
    bool zip64 = false;
};

Bytes TimeExtra(const THeaderFacts& f) {
    Bytes e;
    Put16(e, kTimeTag);
    Put16(e, 5);
    e.push_back(1);  // the modification time follows
    Put32(e, f.unixTime);
    return e;
}

// The fields both headers carry, from the version needed to the sizes.
void PutCommon(Bytes& h, const THeaderFacts& f, bool bigSize, bool bigCompressed) {
    Put16(h, f.needed);
    Put16(h, f.flags);
    Put16(h, kDeflated);
    Put16(h, f.time);
    Put16(h, f.date);
    Put32(h, f.crc);
    Put32(h, bigCompressed ? k32 : static_cast<std::uint32_t>(f.compressed));
    Put32(h, bigSize ? k32 : static_cast<std::uint32_t>(f.size));
}

Bytes LocalHeader(const THeaderFacts& f) {
    Bytes h;
    Put32(h, kLocalSig);
    PutCommon(h, f, f.zip64, f.zip64);
    Bytes extra;
    if (f.zip64) {
        // In a local header the ZIP64 field holds both sizes, always.
        Put16(extra, kZip64Tag);
        Put16(extra, 16);
        Put64(extra, f.size);
        Put64(extra, f.compressed);
    }
    const Bytes t = TimeExtra(f);
    extra.insert(extra.end(), t.begin(), t.end());
    Put16(h, static_cast<std::uint32_t>(f.name.size()));
    Put16(h, static_cast<std::uint32_t>(extra.size()));
    PutBytes(h, f.name);
    h.insert(h.end(), extra.begin(), extra.end());
    return h;
}

Bytes CentralHeader(const THeaderFacts& f) {
    // In the central header the ZIP64 field holds only the values whose
    // fixed fields overflow, in this order.
    const bool bigSize = f.zip64 || f.size >= k32;
    const bool bigCompressed = f.zip64 || f.compressed >= k32;
    const bool bigOffset = f.offset >= k32;
    Bytes extra;
    if (bigSize || bigCompressed || bigOffset) {
        Bytes values;
        if (bigSize) Put64(values, f.size);
        if (bigCompressed) Put64(values, f.compressed);
        if (bigOffset) Put64(values, f.offset);
        Put16(extra, kZip64Tag);
        Put16(extra, static_cast<std::uint32_t>(values.size()));
        extra.insert(extra.end(), values.begin(), values.end());
    }
    const Bytes t = TimeExtra(f);
    extra.insert(extra.end(), t.begin(), t.end());

    Bytes h;
    Put32(h, kCentralSig);
#ifdef _WIN32
    Put16(h, (0 << 8) | 45);  // made on a FAT-like system
#else
    Put16(h, (3 << 8) | 45);  // made on Unix: the external attributes carry the mode
#endif
    PutCommon(h, f, bigSize, bigCompressed);
    Put16(h, static_cast<std::uint32_t>(f.name.size()));
    Put16(h, static_cast<std::uint32_t>(extra.size()));
    Put16(h, 0);  // comment
    Put16(h, 0);  // disk
    Put16(h, 0);  // internal attributes
#ifdef _WIN32
    Put32(h, 0x20);  // archive
#else
    Put32(h, (0100000u | (f.mode & 07777)) << 16);  // a regular file
#endif
    Put32(h, bigOffset ? k32 : static_cast<std::uint32_t>(f.offset));
    PutBytes(h, f.name);
    h.insert(h.end(), extra.begin(), extra.end());
    return h;
}

Bytes EndRecords(std::uint64_t cdOffset, std::uint64_t cdSize, bool zip64) {
    Bytes e;
    const bool big = zip64 || cdOffset >= k32 || cdSize >= k32;
    if (big) {
        const std::uint64_t end64 = cdOffset + cdSize;
        Put32(e, kEnd64Sig);
        Put64(e, 44);  // the record's size after this field
        Put16(e, (3 << 8) | 45);
        Put16(e, 45);
        Put32(e, 0);
        Put32(e, 0);
        Put64(e, 1);
        Put64(e, 1);
        Put64(e, cdSize);
        Put64(e, cdOffset);
        Put32(e, kLocator64Sig);
        Put32(e, 0);
        Put64(e, end64);
        Put32(e, 1);
    }
    Put32(e, kEndSig);
    Put16(e, 0);
    Put16(e, 0);
    Put16(e, 1);
    Put16(e, 1);
    Put32(e, cdSize >= k32 ? k32 : static_cast<std::uint32_t>(cdSize));
    Put32(e, big ? k32 : static_cast<std::uint32_t>(cdOffset));
    Put16(e, 0);
    return e;
}

// One block of the file and its deflated form.
struct TBlock {
    Bytes input;
    Bytes dictionary;  // the 32 KB before the block; empty for the first
    Bytes output;
    std::uint32_t crc = 0;
    bool last = false;
    bool done = false;
    std::string error;
};

// Deflaters that take blocks in any order; the caller collects them in
// order. Each thread keeps one raw-deflate stream and resets it per block.
class TDeflatePool {
public:
    TDeflatePool(unsigned threads, int level) : level_(level) {
        for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
    }
    ~TDeflatePool() {
        {
            std::lock_guard<std::mutex> g(m_);
            stop_ = true;
        }
        wake_.notify_all();
        for (auto& t : threads_) t.join();
    }
    void Submit(TBlock* b) {
        {
            std::lock_guard<std::mutex> g(m_);
            queue_.push_back(b);
        }
        wake_.notify_one();
    }
    void WaitDone(TBlock* b) {
        std::unique_lock<std::mutex> g(m_);
        done_.wait(g, [&] { return b->done; });
    }

private:
    void Work() {
        z_stream z{};
        // A raw stream (no zlib header): the ZIP holds bare deflate data.
        const bool ready = deflateInit2(&z, level_, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
        for (;;) {
            TBlock* b = nullptr;
            {
                std::unique_lock<std::mutex> g(m_);
                wake_.wait(g, [&] { return stop_ || !queue_.empty(); });
                if (queue_.empty()) break;
                b = queue_.front();
                queue_.pop_front();
            }
            if (ready)
                Deflate(z, *b);
            else
                b->error = "zlib: deflateInit2 failed";
            {
                std::lock_guard<std::mutex> g(m_);
                b->done = true;
            }
            done_.notify_all();
        }
        if (ready) deflateEnd(&z);
    }

    static void Deflate(z_stream& z, TBlock& b) {
        b.crc = static_cast<std::uint32_t>(
            crc32(0L, b.input.data(), static_cast<uInt>(b.input.size())));
        if (deflateReset(&z) != Z_OK) {
            b.error = "zlib: deflateReset failed";
            return;
        }
        if (!b.dictionary.empty() &&
            deflateSetDictionary(&z, b.dictionary.data(), static_cast<uInt>(b.dictionary.size())) !=
                Z_OK) {
            b.error = "zlib: deflateSetDictionary failed";
            return;
        }
        b.output.resize(deflateBound(&z, static_cast<uLong>(b.input.size())) + 64);
        z.next_in = b.input.data();
        z.avail_in = static_cast<uInt>(b.input.size());
        z.next_out = b.output.data();
        z.avail_out = static_cast<uInt>(b.output.size());
        // A block other than the last ends on a byte boundary with an empty
        // stored block and no final bit, so the next block's data follows it
        // as the continuation of one stream.
        const int rc = deflate(&z, b.last ? Z_FINISH : Z_SYNC_FLUSH);
        const bool ok = b.last ? rc == Z_STREAM_END : (rc == Z_OK && z.avail_in == 0);
        if (!ok) {
            b.error = "zlib: deflate failed";
            return;
        }
        b.output.resize(b.output.size() - z.avail_out);
    }

    int level_;
    std::mutex m_;
    std::condition_variable wake_, done_;
    std::deque<TBlock*> queue_;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

// Removes the target unless the work reached its end.
class TPartialFile {
public:
    explicit TPartialFile(std::string path) : path_(std::move(path)) {}
    ~TPartialFile() {
        if (!keep_) {
            std::error_code ec;
            std::filesystem::remove(FsPath(path_), ec);
        }
    }
    void Keep() { keep_ = true; }

private:
    std::string path_;
    bool keep_ = false;
};

void ReadExactly(TFile& f, unsigned char* buf, std::size_t n, const std::string& what) {
    std::size_t got = 0;
    while (got < n) {
        const long long r = f.Read(buf + got, n - got);
        if (r < 0) throw EZipError("cannot read " + what + ": " + f.Error());
        if (r == 0) throw EZipError(what + " ends early");
        got += static_cast<std::size_t>(r);
    }
}

}  // namespace

TZipStats WriteZip(const std::string& source, const std::string& target, const TZipEntry& entry,
                   const TZipOptions& options) {
    TFile in;
    if (!in.OpenRead(source)) throw EZipError("cannot open " + source + ": " + in.Error());
    const auto size = in.Size();
    if (!size) throw EZipError("cannot read the size of " + source);
    TFile out;
    if (!out.CreateNew(target)) throw EZipError("cannot create " + target + ": " + out.Error());
    TPartialFile partial(target);

    THeaderFacts f;
    f.name = entry.Name;
    f.flags = IsAscii(entry.Name) ? 0 : kUtf8Flag;
    DosTime(entry.Modified, f.time, f.date);
    f.unixTime = static_cast<std::uint32_t>(entry.Modified);
    f.mode = entry.UnixMode;
    f.size = *size;
    f.zip64 = options.ForceZip64 || *size >= kZip64From;
    f.needed = f.zip64 ? 45 : 20;

    // The header goes first with room for the values known only at the end.
    const Bytes provisional = LocalHeader(f);
    if (!out.Write(provisional.data(), provisional.size()))
        throw EZipError("cannot write " + target + ": " + out.Error());

    const unsigned threads =
        options.Threads != 0 ? options.Threads : std::max(1u, std::thread::hardware_concurrency());
    const std::size_t blockSize = std::max<std::size_t>(options.BlockSize, kWindow);
    const std::size_t inFlight = threads * 2 + 1;
    std::deque<std::unique_ptr<TBlock>> pending;
    std::uint64_t readSoFar = 0, compressed = 0;
    std::uint32_t crc = 0;
    Bytes tail;  // the last 32 KB read
    bool allRead = false;
    {
        TDeflatePool pool(threads, options.Level);
        // Collects the oldest block; the pool's destructor waits for the rest
        // when a failure leaves this scope early.
        auto collect = [&] {
            TBlock& b = *pending.front();
            pool.WaitDone(&b);
            if (!b.error.empty()) throw EZipError(b.error);
            if (!out.Write(b.output.data(), b.output.size()))
                throw EZipError("cannot write " + target + ": " + out.Error());
            compressed += b.output.size();
            crc = static_cast<std::uint32_t>(
                crc32_combine(crc, b.crc, static_cast<z_off_t>(b.input.size())));
            pending.pop_front();
        };
        try {
            while (!allRead || !pending.empty()) {
                if (!allRead && pending.size() < inFlight) {
                    if (options.Cancelled && options.Cancelled()) throw EZipError("cancelled");
                    auto b = std::make_unique<TBlock>();
                    const std::uint64_t left = *size - readSoFar;
                    b->input.resize(static_cast<std::size_t>(std::min<std::uint64_t>(left, blockSize)));
                    ReadExactly(in, b->input.data(), b->input.size(), source);
                    readSoFar += b->input.size();
                    b->last = readSoFar == *size;
                    b->dictionary = tail;
                    if (b->input.size() >= kWindow) {
                        tail.assign(b->input.end() - kWindow, b->input.end());
                    } else {
                        tail.insert(tail.end(), b->input.begin(), b->input.end());
                        if (tail.size() > kWindow) tail.erase(tail.begin(), tail.end() - kWindow);
                    }
                    allRead = b->last;
                    pool.Submit(b.get());
                    pending.push_back(std::move(b));
                } else {
                    collect();
                }
            }
        } catch (...) {
            for (auto& b : pending) pool.WaitDone(b.get());
            throw;
        }
    }
    // A source that grew while it was read is not the file that was meant.
    unsigned char probe;
    if (in.Read(&probe, 1) != 0) throw EZipError(source + " changed while it was compressed");

    f.crc = crc;
    f.compressed = compressed;
    const Bytes final = LocalHeader(f);
    if (final.size() != provisional.size() || !out.WriteAt(0, final.data(), final.size()))
        throw EZipError("cannot write " + target + ": " + out.Error());

    const std::uint64_t cdOffset = final.size() + compressed;
    const Bytes central = CentralHeader(f);
    const Bytes end = EndRecords(cdOffset, central.size(), f.zip64);
    if (!out.Write(central.data(), central.size()) || !out.Write(end.data(), end.size()) ||
        !out.Sync())
        throw EZipError("cannot write " + target + ": " + out.Error());
    out.Close();
    partial.Keep();

    TZipStats stats;
    stats.Size = *size;
    stats.Compressed = compressed;
    stats.ZipSize = cdOffset + central.size() + end.size();
    stats.Crc = crc;
    stats.Zip64 = f.zip64;
    return stats;
}

void VerifyZip(const std::string& zip, const std::string& entryName, const TZipStats& expected) {
    TFile f;
    if (!f.OpenRead(zip)) throw EZipError("cannot open " + zip + ": " + f.Error());
    f.DropCache();
    const auto size = f.Size();
    if (!size || *size < 22) throw EZipError(zip + " is not a ZIP");
    // The whole tail: the end records and, for one entry, the directory.
    const std::size_t tailSize = static_cast<std::size_t>(std::min<std::uint64_t>(*size, 70000));
    Bytes tail(tailSize);
    if (!f.Seek(*size - tailSize)) throw EZipError("cannot read " + zip + ": " + f.Error());
    ReadExactly(f, tail.data(), tailSize, zip);
    const std::uint64_t tailStart = *size - tailSize;
    std::size_t endAt = std::string::npos;
    for (std::size_t i = tailSize - 22 + 1; i-- > 0;) {
        if (Get32(&tail[i]) == kEndSig) {
            endAt = i;
            break;
        }
    }
    if (endAt == std::string::npos) throw EZipError(zip + " has no end of central directory");
    const unsigned char* e = &tail[endAt];
    std::uint64_t entries = Get16(e + 10), cdSize = Get32(e + 12), cdOffset = Get32(e + 16);
    if (entries == 0xFFFF || cdSize == k32 || cdOffset == k32) {
        if (endAt < 20 || Get32(&tail[endAt - 20]) != kLocator64Sig)
            throw EZipError(zip + " lacks its ZIP64 locator");
        const std::uint64_t end64 = Get64(&tail[endAt - 20 + 8]);
        if (end64 < tailStart || end64 + 56 > tailStart + endAt)
            throw EZipError(zip + " has a ZIP64 record out of place");
        const unsigned char* r = &tail[static_cast<std::size_t>(end64 - tailStart)];
        if (Get32(r) != kEnd64Sig) throw EZipError(zip + " has a bad ZIP64 record");
        entries = Get64(r + 32);
        cdSize = Get64(r + 40);
        cdOffset = Get64(r + 48);
    }
    if (entries != 1) throw EZipError(zip + " does not hold exactly one entry");
    if (cdOffset < tailStart || cdOffset + cdSize > *size || cdSize < kCentralFixed)
        throw EZipError(zip + " has its directory out of place");
    const unsigned char* c = &tail[static_cast<std::size_t>(cdOffset - tailStart)];
    if (Get32(c) != kCentralSig) throw EZipError(zip + " has a bad directory entry");
    const std::uint32_t crc = Get32(c + 16);
    std::uint64_t compressed = Get32(c + 20), usize = Get32(c + 24);
    const std::size_t nameLen = Get16(c + 28), extraLen = Get16(c + 30);
    std::uint64_t offset = Get32(c + 42);
    if (kCentralFixed + nameLen + extraLen > cdSize) throw EZipError(zip + " has a bad directory entry");
    const std::string name(reinterpret_cast<const char*>(c + kCentralFixed), nameLen);
    for (std::size_t i = 0; i + 4 <= extraLen;) {
        const unsigned char* x = c + kCentralFixed + nameLen + i;
        const std::size_t len = Get16(x + 2);
        if (i + 4 + len > extraLen) break;
        if (Get16(x) == kZip64Tag) {
            std::size_t at = 4;
            auto next = [&](std::uint64_t& v) {
                if (v == k32 && at + 8 <= 4 + len) {
                    v = Get64(x + at);
                    at += 8;
                }
            };
            next(usize);
            next(compressed);
            next(offset);
        }
        i += 4 + len;
    }
    if (Get16(c + 10) != kDeflated) throw EZipError(zip + ": the entry is not deflated");
    if (name != entryName) throw EZipError(zip + " holds " + name + ", not " + entryName);
    if (crc != expected.Crc || usize != expected.Size)
        throw EZipError(zip + ": the directory does not describe the file compressed");

    // The local header, then the data.
    if (offset + kLocalFixed > cdOffset) throw EZipError(zip + " has its entry out of place");
    Bytes buf(1 << 20);
    if (!f.Seek(offset)) throw EZipError("cannot read " + zip + ": " + f.Error());
    unsigned char local[kLocalFixed];
    ReadExactly(f, local, kLocalFixed, zip);
    if (Get32(local) != kLocalSig || Get32(local + 14) != crc)
        throw EZipError(zip + " has a bad local header");
    const std::size_t localName = Get16(local + 26), localExtra = Get16(local + 28);
    Bytes rest(localName + localExtra);
    ReadExactly(f, rest.data(), rest.size(), zip);
    if (std::string(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(localName)) != name)
        throw EZipError(zip + ": the local header names another file");
    const std::uint64_t dataAt = offset + kLocalFixed + rest.size();
    if (dataAt + compressed > cdOffset) throw EZipError(zip + " has its data out of place");

    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) throw EZipError("zlib: inflateInit2 failed");
    std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&z, inflateEnd);
    Bytes window(1 << 20);
    std::uint64_t left = compressed, produced = 0;
    std::uint32_t got = 0;
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        if (z.avail_in == 0) {
            if (left == 0) break;
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, buf.size()));
            ReadExactly(f, buf.data(), n, zip);
            left -= n;
            z.next_in = buf.data();
            z.avail_in = static_cast<uInt>(n);
        }
        z.next_out = window.data();
        z.avail_out = static_cast<uInt>(window.size());
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) throw EZipError(zip + ": the data does not inflate");
        const std::size_t n = window.size() - z.avail_out;
        got = static_cast<std::uint32_t>(crc32(got, window.data(), static_cast<uInt>(n)));
        produced += n;
    }
    if (rc != Z_STREAM_END || left != 0 || z.avail_in != 0)
        throw EZipError(zip + ": the data does not end where the directory says");
    if (produced != expected.Size || got != expected.Crc)
        throw EZipError(zip + ": the data read back differs from the file (CRC-32)");
}

}  // namespace qm::archiver
