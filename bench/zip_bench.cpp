// Figures of the ZIP the service makes of an archive: its parallel deflate
// (every core, blocks primed with the 32 KB before them, as pigz does) against
// `zip -6` on the same .fbk, in alternating rounds. Goals: at least 1.7 times
// the speed of zip -6 on 2 cores, and a ZIP no more than 2 % larger.
//
// Usage: zip_bench [directory [megabytes [rounds]]]
// (defaults: $TMPDIR/quillmoor-bench/, 200, 5). The .fbk is made once with
// gbak from the benchmark database and reused.
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "archiver/zip_writer.h"
#include "bench/maintenance_support.h"

int main(int argc, char** argv) {
    using namespace qm;
    const bench::MaintenanceBench b = bench::StartMaintenanceBench("zip", argc, argv);
    const std::string fbk = b.dir + "zip_bench_source.fbk";
    if (bench::FileSize(fbk) <= 0) {
        const std::string part = fbk + ".part";
        if (bench::RunProgram({bench::kGbak, "-b", "-user", "SYSDBA", "-password", bench::kPassword,
                               b.db, part}) != 0)
            return 1;
        std::filesystem::rename(part, fbk);
    }
    std::printf("archive %s: %.1f MB; %u cores\n", fbk.c_str(), bench::Megabytes(fbk),
                std::thread::hardware_concurrency());

    const std::string ours = b.dir + "zip_bench_ours.zip";
    const std::string tool = b.dir + "zip_bench_zip6.zip";
    std::uint64_t oursSize = 0;
    const auto runWith = [&](unsigned threads) {
        std::filesystem::remove(ours);
        archiver::TZipOptions o;
        o.Threads = threads;
        const auto start = bench::Clock::now();
        const archiver::TZipStats s = archiver::WriteZip(fbk, ours, {"source.fbk", 0, 0644}, o);
        const double seconds = bench::SecondsSince(start);
        oursSize = s.ZipSize;
        return seconds;
    };
    const auto runTool = [&] {
        std::filesystem::remove(tool);
        const auto start = bench::Clock::now();
        if (bench::RunProgram({"/usr/bin/zip", "-q", "-6", "-j", tool, fbk}) != 0) {
            std::fprintf(stderr, "zip failed\n");
            std::exit(1);
        }
        return bench::SecondsSince(start);
    };
    runWith(0);
    runTool();
    const bench::Medians m = bench::AlternateRounds(
        b.rounds, {"parallel", 12, [&] { return runWith(0); }}, {"zip -6", 12, runTool});
    const double one = runWith(1);
    const auto toolSize = static_cast<double>(bench::FileSize(tool));
    std::printf("one thread of ours: %.3f s\n", one);
    std::printf("speed parallel / zip -6: %.2f x (goal at least 1.7 x: %s)\n", m.tool / m.ours,
                m.tool / m.ours >= 1.7 ? "met" : "not met");
    std::printf("size: %.2f MB (ours), %.2f MB (zip -6): %+.2f %% (goal at most +2 %%: %s)\n",
                static_cast<double>(oursSize) / (1024 * 1024), toolSize / (1024 * 1024),
                (static_cast<double>(oursSize) / toolSize - 1) * 100,
                static_cast<double>(oursSize) <= toolSize * 1.02 ? "met" : "not met");
    std::filesystem::remove(ours);
    std::filesystem::remove(tool);
    return 0;
}
