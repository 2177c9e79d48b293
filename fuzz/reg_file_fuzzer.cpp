// The ".reg" reader that the native build takes its configuration from. Any file: lines it cannot
// understand are skipped, and what it did understand survives being written out and read again
// unchanged, with every value found where it was.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/reg_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const cv::RegFile file = cv::RegFile::Parse(text);
    const std::string written = file.Serialize();
    const cv::RegFile again = cv::RegFile::Parse(written);
    FUZZ_CHECK(again.Serialize() == written);
    const std::vector<cv::RegFile::Entry> entries = file.Entries();
    for (const cv::RegFile::Entry& entry : entries) {
        const cv::RegFile::Value* value = again.Find(entry.hive, entry.key, entry.value.name);
        FUZZ_CHECK(value != nullptr && value->type == entry.value.type &&
                   value->data == entry.value.data);
        FUZZ_CHECK(again.HasKey(entry.hive, entry.key));
    }
    FUZZ_CHECK(again.Entries().size() == entries.size());

    // Taking a value out leaves every other one.
    if (!entries.empty()) {
        cv::RegFile changed = again;
        const cv::RegFile::Entry& gone = entries[size % entries.size()];
        FUZZ_CHECK(changed.Remove(gone.hive, gone.key, gone.value.name));
        FUZZ_CHECK(changed.Find(gone.hive, gone.key, gone.value.name) == nullptr);
        FUZZ_CHECK(changed.Entries().size() == entries.size() - 1);
    }
    return 0;
}
