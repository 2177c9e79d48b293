// A mailbox with years of history, for the benchmarks that must hold up on one: 50,000
// appointments over the 20 years 2007-2026, in the period files the store would put them in
// (mostly day files, some month and year files, a few in "Y"), each with an item file of a few
// kilobytes as cvcal writes it. One day, 2026-12-07, is busy: 5,000 appointments from noon on.
//
// The files are written directly, in the store's own format, which takes seconds where adding
// each appointment through the exports would take minutes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/bench_store.h"

namespace cvbench {

class HistoryStore {
  public:
    static constexpr int kAppointments = 50000;
    static constexpr int kBusyDayAppointments = 5000;
    static constexpr int32_t kBusyNoon = 1796601600 + 12 * 3600;  // 2026-12-07 12:00 UTC

    explicit HistoryStore(const std::string& name);

    const BenchStore& store() const { return store_; }
    // False when a file could not be written.
    bool ok() const { return ok_; }
    // Every item file's name, in the order written.
    const std::vector<std::string>& item_ids() const { return item_ids_; }
    // The busy day's appointments lie in [kBusyNoon, busy_day_end()]; no other appointment does.
    static int32_t busy_day_end() { return kBusyNoon + 12 * 3600 - 1; }

  private:
    BenchStore store_;
    bool ok_ = true;
    std::vector<std::string> item_ids_;
};

}  // namespace cvbench
