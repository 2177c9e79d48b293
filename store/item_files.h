// Whole item files, for the hosts that write an item at once (the iCalendar engine): the path the
// item exports use, and a new body put in place in one step, as their first chunk is. No export
// reaches them, so the DLL does not carry them.
#pragma once

#include <string>

namespace cv {

// Writes the bytes beside the item ("<item>.TMP") and puts them in its place in one step, so that
// a reader sees the old body or the new, never a part. False (the old body kept) when a name is
// not a single path component that fits an item record, the bytes hold a NUL (the item exports
// cannot write one), or the file system refused.
bool WriteItemFile(const std::string& postoffice, const std::string& mailbox,
                   const std::string& name, const std::string& bytes);

// Deletes the item file. False when a name is unusable or the file is there and cannot be deleted.
bool DeleteItemFile(const std::string& postoffice, const std::string& mailbox,
                    const std::string& name);

}  // namespace cv
