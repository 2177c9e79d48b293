#include "tests/index/index_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "host/host_thread.h"
#include "tests/support/records.h"

namespace cv {
namespace testing {
namespace {

// The tests' main thread is a host thread: COM is started on it before the first test and
// stopped after the last, once the process-wide index has given its documents back.
struct HostEnvironment : ::testing::Environment {
    void SetUp() override { host = std::make_unique<HostThread>(); }
    void TearDown() override {
        StoreIndex_Close(&ProviderStoreIndex());
        host.reset();
    }
    std::unique_ptr<HostThread> host;
};

::testing::Environment* const g_host_environment =
    ::testing::AddGlobalTestEnvironment(new HostEnvironment);

}  // namespace

std::string Shape(const XmlNode& node) {
    std::string name, text, id;
    if (node.Type() == XmlNodeType::kText && node.Text(&text)) return "'" + text + "'";
    if (node.Type() != XmlNodeType::kElement) return "?";
    node.Name(&name);
    if (node.Attribute("ID", &id)) name += "[ID=" + id + "]";
    std::string children;
    bool only_text = true;
    XmlNode child;
    for (bool more = node.FirstChild(&child); more; more = child.NextSibling(&child)) {
        only_text = only_text && child.Type() == XmlNodeType::kText;
        children += (children.empty() ? "" : ",") + Shape(child);
    }
    if (only_text && node.Text(&text)) return name + "=\"" + text + "\"";
    return name + "(" + children + ")";
}

std::string Shape(const XmlDocument& document) {
    XmlNode root;
    return document.DocumentElement(&root) ? Shape(root) : "(no root)";
}

Children ChildrenOf(const XmlNode& element) {
    Children children;
    XmlNode child;
    for (bool more = element.FirstChild(&child); more; more = child.NextSibling(&child)) {
        std::string name, text;
        if (child.Type() != XmlNodeType::kElement) continue;
        child.Name(&name);
        child.Text(&text);
        children.emplace_back(name, text);
    }
    return children;
}

std::vector<std::string> IdsOf(const XmlDocument& document, bool sorted) {
    std::vector<std::string> ids;
    XmlNode root, child;
    if (document.IsNull() || !document.DocumentElement(&root)) return ids;
    for (bool more = root.FirstChild(&child); more; more = child.NextSibling(&child)) {
        std::string id;
        child.Attribute("ID", &id);
        ids.push_back(id);
    }
    if (sorted) std::sort(ids.begin(), ids.end());
    return ids;
}

std::unique_ptr<StoreIndex> NamedIndex(const char* folder, const char* mailbox) {
    auto index = std::make_unique<StoreIndex>();
    SetField(index->PostofficeName, "example");
    SetField(index->MailboxName, mailbox);
    SetField(index->FolderName, folder);
    return index;
}

}  // namespace testing
}  // namespace cv
