// A store for the benchmarks: a temporary mail root with the mailbox po\mb and its Calendar
// folder, configured through a registry file of its own, with the module attached to it.
#pragma once

#include <string>

namespace cvbench {

class BenchStore {
  public:
    // The store lives in the system's temporary folder, or below `parent` when one is given.
    explicit BenchStore(const std::string& name, const std::string& parent = "");
    ~BenchStore();
    BenchStore(const BenchStore&) = delete;
    BenchStore& operator=(const BenchStore&) = delete;

    // The mail root, which the store removes with everything in it.
    const std::string& root() const { return root_; }
    // The Calendar folder of po\mb.
    const std::string& calendar() const { return calendar_; }

  private:
    std::string root_;
    std::string registry_;
    std::string calendar_;
};

}  // namespace cvbench
