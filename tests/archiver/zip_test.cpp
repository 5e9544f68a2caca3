// The ZIP of an archive: what unzip itself says of it and reads out of it,
// what the read-back check refuses, and a file over 4 GB (ZIP64 for real).

#include "archiver/zip_writer.h"

#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>

#include "platform/files.h"
#include "tests/operations/fakes/maintenance_fixture.h"
#include "tests/support/temp_dir.h"

namespace qm::archiver {
namespace {

using test::RunCommand;
using test::ShellQuote;

std::string Unzip(const std::string& args) {
    return RunCommand(std::string(QM_UNZIP) + " " + args);
}

// Text that compresses about as an archive of a database does, with runs of
// random bytes that do not compress at all.
std::string Content(std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s;
    s.reserve(size);
    while (s.size() < size) {
        if (rng() % 4 == 0) {
            for (int i = 0; i < 300 && s.size() < size; ++i) s += static_cast<char>(rng());
        } else {
            s += "record " + std::to_string(rng() % 100000) + " Склад;";
        }
    }
    s.resize(size);
    return s;
}

TEST(Zip, UnzipTestsAndExtractsTheFileByteForByte) {
    test::TempDir dir;
    struct Case {
        std::size_t size;
        unsigned threads;
        bool zip64;
        std::size_t block;
    } cases[] = {
        {0, 2, false, 128 * 1024},          // an empty file
        {1, 2, false, 128 * 1024},
        {32 * 1024, 2, false, 32 * 1024},   // exactly one block
        {32 * 1024 + 1, 2, false, 32 * 1024},
        {3 * 1000 * 1000, 2, false, 128 * 1024},
        {3 * 1000 * 1000, 1, false, 128 * 1024},
        {3 * 1000 * 1000, 4, true, 64 * 1024},  // ZIP64 records on a small file
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE("size " + std::to_string(c.size) + ", threads " + std::to_string(c.threads) +
                     (c.zip64 ? ", zip64" : ""));
        const std::string name = "Склад 2024_03_05 14-30 " + std::to_string(++n) + ".fbk";
        const std::string src = dir.File(name);
        const std::string content = Content(c.size, n);
        test::WriteFile(src, content);
        const std::string zip = dir.File("a" + std::to_string(n) + ".zip");
        TZipOptions o;
        o.Threads = c.threads;
        o.ForceZip64 = c.zip64;
        o.BlockSize = c.block;
        const TZipStats stats = WriteZip(src, zip, {name, 1709645400, 0640}, o);
        EXPECT_EQ(stats.Size, c.size);
        EXPECT_EQ(stats.Zip64, c.zip64);
        EXPECT_EQ(static_cast<std::uint64_t>(platform::ProbeFile(zip).size), stats.ZipSize);
        EXPECT_NO_THROW(VerifyZip(zip, name, stats));

        const std::string tested = Unzip("-t " + ShellQuote(zip));
        EXPECT_NE(tested.find("No errors detected"), std::string::npos) << tested;
        const std::string listed = Unzip("-Z -l " + ShellQuote(zip));
        EXPECT_NE(listed.find(name), std::string::npos) << listed;
        EXPECT_EQ(Unzip("-p " + ShellQuote(zip)), content);
    }
}

TEST(Zip, ThreadsDoNotChangeTheSizeMuchAndMatchZip6) {
    test::TempDir dir;
    const std::string src = dir.File("data.fbk");
    test::WriteFile(src, Content(4 * 1000 * 1000, 7));
    TZipOptions one, two;
    one.Threads = 1;
    two.Threads = 2;
    const TZipStats a = WriteZip(src, dir.File("one.zip"), {"data.fbk", 0, 0644}, one);
    const TZipStats b = WriteZip(src, dir.File("two.zip"), {"data.fbk", 0, 0644}, two);
    EXPECT_EQ(a.Crc, b.Crc);
    // Blocks primed with the 32 KB before them lose next to nothing.
    EXPECT_LT(static_cast<double>(b.ZipSize), static_cast<double>(a.ZipSize) * 1.001);
    RunCommand("cd " + ShellQuote(dir.Path()) + " && zip -q -6 ref.zip data.fbk");
    const auto ref = platform::ProbeFile(dir.File("ref.zip")).size;
    ASSERT_GT(ref, 0u);
    EXPECT_LT(static_cast<double>(b.ZipSize), static_cast<double>(ref) * 1.02);
}

TEST(Zip, TheReadBackRefusesADamagedOrForeignZip) {
    test::TempDir dir;
    const std::string src = dir.File("data.fbk");
    test::WriteFile(src, Content(500 * 1000, 3));
    const std::string zip = dir.File("data.zip");
    const TZipStats stats = WriteZip(src, zip, {"data.fbk", 0, 0644});
    const std::string good = test::ReadFile(zip);

    TZipStats otherCrc = stats;
    otherCrc.Crc ^= 1;
    EXPECT_THROW(VerifyZip(zip, "data.fbk", otherCrc), EZipError);
    EXPECT_THROW(VerifyZip(zip, "other.fbk", stats), EZipError);

    std::string bad = good;
    bad[bad.size() / 2] ^= 0x55;  // inside the deflate data
    test::WriteFile(zip, bad);
    EXPECT_THROW(VerifyZip(zip, "data.fbk", stats), EZipError);
    test::WriteFile(zip, good.substr(0, good.size() - 10));  // cut short
    EXPECT_THROW(VerifyZip(zip, "data.fbk", stats), EZipError);
    test::WriteFile(zip, "not a zip at all, but long enough to be looked at");
    EXPECT_THROW(VerifyZip(zip, "data.fbk", stats), EZipError);
}

TEST(Zip, NeverOverwritesAndLeavesNothingWhenCancelled) {
    test::TempDir dir;
    const std::string src = dir.File("data.fbk");
    test::WriteFile(src, Content(2 * 1000 * 1000, 5));
    const std::string zip = dir.File("data.zip");
    test::WriteFile(zip, "older");
    EXPECT_THROW(WriteZip(src, zip, {"data.fbk", 0, 0644}), EZipError);
    EXPECT_EQ(test::ReadFile(zip), "older");

    const std::string fresh = dir.File("fresh.zip");
    int asked = 0;
    TZipOptions o;
    o.BlockSize = 64 * 1024;
    o.Cancelled = [&] { return ++asked > 3; };
    EXPECT_THROW(WriteZip(src, fresh, {"data.fbk", 0, 0644}, o), EZipError);
    EXPECT_FALSE(platform::PathExists(fresh));
    EXPECT_THROW(WriteZip(dir.File("missing.fbk"), fresh, {"x", 0, 0644}), EZipError);
    EXPECT_FALSE(platform::PathExists(fresh));
}

TEST(Zip, AFileOverFourGigabytesGetsZip64RecordsThatUnzipReads) {
    test::TempDir dir;
    struct statvfs vfs {};
    if (::statvfs(dir.Path().c_str(), &vfs) != 0 ||
        static_cast<double>(vfs.f_bavail) * vfs.f_frsize < 1e9)
        GTEST_SKIP() << "less than 1 GB free in " << dir.Path();
    // A sparse file of 4.3 GB: zeros, with a mark at each end.
    const std::string src = dir.File("big.fbk");
    const std::uint64_t size = 4300ull * 1000 * 1000;
    {
        FILE* f = std::fopen(src.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("head", f);
        ASSERT_EQ(::ftruncate(fileno(f), static_cast<off_t>(size)), 0);
        std::fseek(f, static_cast<long>(size - 4), SEEK_SET);
        std::fputs("tail", f);
        std::fclose(f);
    }
    const std::string zip = dir.File("big.zip");
    TZipOptions fast;
    fast.Level = 1;  // zeros at level 6 take minutes; the records are the same
    const TZipStats stats = WriteZip(src, zip, {"big.fbk", 0, 0644}, fast);
    EXPECT_TRUE(stats.Zip64);
    EXPECT_EQ(stats.Size, size);
    // The sizes do not fit the fixed fields: only the ZIP64 records carry them.
    EXPECT_NO_THROW(VerifyZip(zip, "big.fbk", stats));
    const std::string listed = Unzip("-Z -l " + ShellQuote(zip));
    EXPECT_NE(listed.find("4300000000"), std::string::npos) << listed;
    EXPECT_NE(listed.find("defN"), std::string::npos) << listed;
}

}  // namespace
}  // namespace qm::archiver
