// A store for the benchmarks: a temporary mail root with the mailbox po\mb and its Calendar
// folder, configured through a registry file of its own, with the module attached to it.
#pragma once

#include <string>

namespace cvbench {

class BenchStore {
  public:
    explicit BenchStore(const std::string& name);
    ~BenchStore();
    BenchStore(const BenchStore&) = delete;
    BenchStore& operator=(const BenchStore&) = delete;

    // The Calendar folder of po\mb.
    const std::string& calendar() const { return calendar_; }

  private:
    std::string root_;
    std::string registry_;
    std::string calendar_;
};

}  // namespace cvbench
