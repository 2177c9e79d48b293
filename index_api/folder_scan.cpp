#include "index_api/folder_scan.h"

#include "common/delimited_text.h"
#include "common/file_helpers.h"
#include "common/text_helpers.h"
#include "index/calendar_scan.h"
#include "index/xml_stream.h"
#include "index_api/index_file.h"
#include "platform/platform.h"
#include "store/calendar_paths.h"
#include "store/period_file.h"

namespace cv {
namespace {

bool IsMissing(uint32_t error) {
    return error == kErrorFileNotFound || error == kErrorPathNotFound;
}

// The scan's result does not depend on the save. The document is dirty until a save clears it,
// and one that lacks what could not be read is not saved as the folder's index at all: it stays
// dirty, which tells the opening of the folder's index that the folder still needs a scan.
void SaveIndex(StoreIndex* index, bool unread) {
    index->Dirty = 1;
    if (unread) return;
    StoreIndex_Save(index);
}

// Indexes every period file of the search, from the entry found last, into the output: until the
// search ends, or the output refuses the scan. The period files stay: they are the calendar
// itself, the index only mirrors them.
void IndexPeriods(const StoreIndex& index, DirectorySearch* search, FindData* entry,
                  ScanOutput* output, bool* unread) {
    const TimeZoneInfo zone = GetTimeZoneInfo();
    // Every item file is in this folder: each is then looked up by its own name.
    FolderHandle folder;
    folder.Open(index.FolderPath);
    do {
        if (entry->attributes & kAttributeDirectory) continue;
        if (entry->name.empty() || entry->name[0] == '_' || entry->name[0] == '.') continue;
        if (entry->name.find('.') >= kPeriodNameSize) continue;  // no period has such a name
        char period[kPeriodNameSize];
        if (!DelimitedField(entry->name.c_str(), ".", 1, period, sizeof period)) continue;
        IndexPeriod(output, index.MailboxName, index.PostofficeName, period, nullptr, zone, &folder,
                    unread);
        if (output->Refused()) break;
    } while (search->Next(entry));
    if (!output->Refused() && LastSystemError() != kErrorNoMoreFiles) {
        *unread = true;  // the search broke off
    }
    search->Close();
}

int ScanWholeFolder(StoreIndex* index) {
    bool unread = false;
    char pattern[kPathSize];
    char index_file[kPathSize];
    DirectorySearch search;
    FindData entry;
    bool named = FormatBounded(pattern, sizeof pattern, "%s\\Y*.CAL", index->FolderPath);
    bool any = named && search.First(pattern, &entry, DirectorySearch::Detail::kName);
    if (!any) {
        const uint32_t why = LastSystemError();
        if (named && !IsMissing(why)) {
            // The folder could not be searched: nothing is known of its periods, and an index on
            // disk is all there is to go by.
            unread = true;
            index->Dirty = 1;
            if (FormatBounded(index_file, sizeof index_file, "%s\\_index.xml", index->FolderPath) &&
                FileExists(index_file)) {
                return 1;
            }
        }
        // No period file: the calendar is empty, whatever an older index on disk still lists (the
        // last removal deletes the last period file). Where there is no folder at all, nothing
        // is written: reading a calendar does not make one.
        CreateIndexRoot(index->FolderIndex);
        if (named && why == kErrorFileNotFound) SaveIndex(index, unread);
        return 1;
    }
    CreateIndexRoot(index->FolderIndex);
    DocumentOutput output(index->FolderIndex, XmlNode());
    IndexPeriods(*index, &search, &entry, &output, &unread);
    SaveIndex(index, unread);
    return 1;
}

// The stream's side of a scan. A text the stream refuses stops the scan: the file cannot be the
// index, and a document is scanned instead.
class StreamOutput : public ScanOutput {
  public:
    explicit StreamOutput(XmlStreamFile* stream) : stream_(*stream) {}
    bool Begin(const char* id) override { return stream_.BeginElement("ELEMENT", "ID", id); }
    bool Value(const char* name, const char* text) override {
        return stream_.TextChild(name, text);
    }
    bool Keep() override {
        stream_.EndElement(true);
        ++kept_;
        return true;
    }
    void Drop() override { stream_.EndElement(false); }
    bool Refused() const override { return stream_.refused(); }
    int32_t kept() const { return kept_; }

  private:
    XmlStreamFile& stream_;
    int32_t kept_ = 0;
};

}  // namespace

int ScanCalendarIndexToFile(StoreIndex* index, int32_t* items) {
    if (index == nullptr || !XmlStreamFile::Streams()) return 0;
    StoreIndex_SetPaths(index);
    char pattern[kPathSize];
    DirectorySearch search;
    FindData entry;
    // A folder without period files, or one that cannot be searched, is the document scan's to
    // handle: it has next to nothing to write.
    if (!FormatBounded(pattern, sizeof pattern, "%s\\Y*.CAL", index->FolderPath) ||
        !search.First(pattern, &entry, DirectorySearch::Detail::kName)) {
        return 0;
    }
    int32_t kept = 0;
    const int saved = StoreIndex_SaveStreamed(index, [&](XmlStreamFile* stream) {
        StreamOutput output(stream);
        bool unread = false;
        IndexPeriods(*index, &search, &entry, &output, &unread);
        kept = output.kept();
        // A folder not read whole is not the index: the document scan decides what happens.
        return !unread;
    });
    if (saved != 0) *items = kept;
    return saved;
}

int ScanCalendarIndex(StoreIndex* index, const ListContext* context) {
    if (index == nullptr) return 0;
    StoreIndex_SetPaths(index);
    if (index->FolderIndex.IsNull() && !CreateIndexDocument(&index->FolderIndex)) return 0;
    if (index->FolderIndex.IsNull()) return 0;
    if (context == nullptr) return ScanWholeFolder(index);
    CreateIndexRoot(index->FolderIndex);
    bool unread = false;
    ScanPeriodFiles(index, context, &unread);
    SaveIndex(index, unread);
    return 1;
}

}  // namespace cv
