// An output stream onto a stdio file. The benchmarks that talk to a service or a library which may
// print set standard output aside and write their report through a duplicate of its descriptor;
// the duplicate shares the position, so "./run bench > log" keeps what was written before.
#pragma once

#include <cstdio>
#include <streambuf>

namespace cvbench {

class FileBuffer : public std::streambuf {
  public:
    explicit FileBuffer(FILE* file) : file_(file) {}

  protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        return std::fputc(c, file_) == EOF ? traits_type::eof() : c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        return static_cast<std::streamsize>(std::fwrite(s, 1, static_cast<size_t>(n), file_));
    }
    int sync() override { return std::fflush(file_) == 0 ? 0 : -1; }

  private:
    FILE* file_;
};

}  // namespace cvbench
