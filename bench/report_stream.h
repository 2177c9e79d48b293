// Where a benchmark's report goes when standard output is set aside. The benchmarks that talk to
// a service or a library which may print send standard output to /dev/null and write their report
// through a duplicate of its descriptor; the duplicate shares the position, so
// "./run bench > log" keeps what was written before.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <ostream>
#include <streambuf>

namespace cvbench {

class ReportStream {
  public:
    ReportStream() = default;
    ReportStream(const ReportStream&) = delete;
    ReportStream& operator=(const ReportStream&) = delete;
    ~ReportStream() {
        stream_.flush();
        if (file_ != nullptr) std::fclose(file_);
    }

    // Sets standard output aside. False when that cannot be done.
    bool Open() {
        std::fflush(stdout);
        int fd = dup(fileno(stdout));
        file_ = fd >= 0 ? fdopen(fd, "w") : nullptr;
        if (file_ == nullptr || std::freopen("/dev/null", "w", stdout) == nullptr) return false;
        terminal_ = isatty(fd) != 0;
        buffer_.file = file_;
        return true;
    }
    std::ostream& stream() { return stream_; }
    // Whether the report goes to a terminal (and may be coloured).
    bool terminal() const { return terminal_; }

  private:
    struct FileBuffer : std::streambuf {
        FILE* file = nullptr;
        int_type overflow(int_type c) override {
            if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
            return std::fputc(c, file) == EOF ? traits_type::eof() : c;
        }
        std::streamsize xsputn(const char* s, std::streamsize n) override {
            return static_cast<std::streamsize>(std::fwrite(s, 1, static_cast<size_t>(n), file));
        }
        int sync() override { return std::fflush(file) == 0 ? 0 : -1; }
    };

    FILE* file_ = nullptr;
    bool terminal_ = false;
    FileBuffer buffer_;
    std::ostream stream_{&buffer_};
};

// The main() of a benchmark program whose code under test prints: the report goes through a
// ReportStream, and `registration` (when given) registers benchmarks after the flags are read.
template <typename Reporter = benchmark::ConsoleReporter>
int RunWithReportAside(int argc, char** argv, const char* program,
                       void (*registration)() = nullptr) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    if (registration != nullptr) registration();
    ReportStream report;
    if (!report.Open()) {
        std::fprintf(stderr, "%s: cannot set standard output aside\n", program);
        return 1;
    }
    Reporter console(report.terminal() ? benchmark::ConsoleReporter::OO_Color
                                       : benchmark::ConsoleReporter::OO_None);
    console.SetOutputStream(&report.stream());
    console.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&console);
    benchmark::Shutdown();
    return 0;
}

}  // namespace cvbench
