// The index element built from an item file's headers: any bytes in an item file give an element
// with its three fixed children followed by what the headers feed, and the index document that
// holds it saves and loads back, whatever the header values carry. The folder's scan written as it
// goes gives the same file as the document's save, or steps aside.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_folder.h"
#include "host/host_platform.h"
#include "host/registry_writer.h"
#include "include/cvaicp.h"
#include "index/calendar_scan.h"
#include "index/store_index.h"
#include "index/xml_document.h"
#include "common/file_helpers.h"
#include "common/text_helpers.h"
#include "host/host_files.h"
#include "index_api/folder_scan.h"
#include "index_api/index_file.h"
#include "platform/platform.h"
#include "platform/registry.h"
#include "provider/module_hooks.h"

namespace {
std::string g_calendar;

int32_t ChildCount(const cv::XmlNode& node) {
    cv::XmlNode child;
    int32_t count = 0;
    for (bool more = node.FirstChild(&child); more; more = child.NextSibling(&child)) ++count;
    return count;
}

std::unique_ptr<cv::StoreIndex> CalendarIndex() {
    std::unique_ptr<cv::StoreIndex> index(new cv::StoreIndex);
    cv::CopyBounded(index->PostofficeName, "po", sizeof index->PostofficeName);
    cv::CopyBounded(index->MailboxName, "anna", sizeof index->MailboxName);
    cv::CopyBounded(index->FolderName, "Calendar", sizeof index->FolderName);
    return index;
}
}  // namespace

// The fuzz folder as a mail root with the mailbox po\MAILROOT\anna and its Calendar folder,
// configured in a private registry file with the blocking-file waits 0, and the module attached.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string path = cv::fuzzing::FuzzFolder();
    std::string registry = path + "\\registry.reg";
    for (char& c : registry) c = c == '\\' ? '/' : c;
    cv::SetProcessEnvironment("CVAICP_REGISTRY", registry.c_str());
    cv::SetRegistryString(cv::Hive::kLocalMachine, cv::kStoreKey, "Mail Root", path);
    for (const char* name :
         {"Write Wait Timeout", "Read Wait Timeout", "UnBlock Timeout", "Apply Timeout"}) {
        cv::SetRegistryDword(cv::Hive::kLocalMachine, cv::kProvidersKey, name, 0);
    }
    for (const char* level : {"po", "MAILROOT", "anna", "Calendar"}) {
        path = path + "\\" + level;
        cv::MakeDirectory(path.c_str());
    }
    if (!cv::OnProcessAttach()) std::abort();
    g_calendar = path;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string item_path = g_calendar + "\\item.eml";
    {
        cv::File file;
        FUZZ_CHECK(file.Open(item_path.c_str(), cv::File::Mode::kWriteTruncate));
        FUZZ_CHECK(file.Write(data, size) && file.Close());
    }
    cv::XmlDocument document;
    FUZZ_CHECK(cv::CreateIndexDocument(&document) == 1 && cv::CreateIndexRoot(document) == 1);
    ListItem item{};
    std::strcpy(item.Mailbox, "anna");
    std::strcpy(item.Postoffice, "po");
    std::strcpy(item.ItemId, "item.eml");
    item.StartTime = 1110196800;
    item.FinishTime = 1110200400;
    cv::XmlNode element = cv::BuildCalendarElement(document, cv::XmlNode(), item);
    FUZZ_CHECK(!element.IsNull());
    const int32_t children = ChildCount(element);
    FUZZ_CHECK(children >= 3);
    std::string id;
    FUZZ_CHECK(element.Attribute("ID", &id) && id == "item.eml");
    // The element as XML text loads as a document of its own, with the same children.
    std::string xml;
    FUZZ_CHECK(element.Xml(&xml));
    cv::XmlDocument copy;
    cv::XmlParseError parse_error;
    FUZZ_CHECK(cv::XmlDocument::Create(&copy));
    FUZZ_CHECK(copy.LoadText(xml.c_str(), &parse_error) == cv::XmlLoadResult::kLoaded);
    cv::XmlNode root;
    FUZZ_CHECK(copy.DocumentElement(&root) && ChildCount(root) == children);
    // And so does the index file it is saved in.
    const std::string index_path = g_calendar + "\\_index.xml";
    FUZZ_CHECK(cv::SaveIndexDocument(document, index_path.c_str()) == 1);
    cv::XmlDocument loaded;
    FUZZ_CHECK(cv::XmlDocument::Create(&loaded));
    FUZZ_CHECK(loaded.Load(index_path.c_str(), &parse_error) == cv::XmlLoadResult::kLoaded);

    // The item in a period file: the folder's scan into a document, saved, against the scan
    // written as it goes.
    FUZZ_CHECK(
        cv::WriteWholeFile((g_calendar + "\\Y.CAL").c_str(), "1110196800\t1110200400\titem.eml"));
    std::unique_ptr<cv::StoreIndex> scanned = CalendarIndex();
    FUZZ_CHECK(cv::ScanCalendarIndex(scanned.get(), nullptr) == 1 && scanned->Dirty == 0);
    cv::StoreIndex_Close(scanned.get());
    std::string saved, streamed;
    FUZZ_CHECK(cv::ReadWholeFile(index_path.c_str(), &saved));
    std::unique_ptr<cv::StoreIndex> written = CalendarIndex();
    int32_t items = 0;
    if (cv::ScanCalendarIndexToFile(written.get(), &items) == 1) {
        FUZZ_CHECK(items == 1 && cv::ReadWholeFile(index_path.c_str(), &streamed));
        FUZZ_CHECK(streamed == saved);
    }
    cv::StoreIndex_Close(written.get());
    return 0;
}
