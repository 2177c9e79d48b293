#include "tests/index/index_test_support.h"

#include <gtest/gtest.h>

#include <memory>

#include "common/host_thread.h"
#include "index/store_index.h"

namespace cv {
namespace testing {
namespace {

// The tests' main thread is a host thread: COM is started on it before the first test and
// stopped after the last, once the process-wide index has given its documents back.
class HostEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { host_ = std::make_unique<HostThread>(); }
    void TearDown() override {
        StoreIndex_Close(&ProviderStoreIndex());
        host_.reset();
    }

  private:
    std::unique_ptr<HostThread> host_;
};

::testing::Environment* const g_host_environment =
    ::testing::AddGlobalTestEnvironment(new HostEnvironment);

}  // namespace

std::string Shape(const XmlNode& node) {
    std::string name;
    std::string text;
    switch (node.Type()) {
        case XmlNodeType::kText:
            node.Text(&text);
            return "'" + text + "'";
        case XmlNodeType::kElement:
            break;
        default:
            return "?";
    }
    node.Name(&name);
    std::string shape = name;
    std::string id;
    if (node.Attribute("ID", &id)) shape += "[ID=" + id + "]";
    int32_t count = 0;
    node.ChildCount(&count);
    bool only_text = true;
    for (int32_t i = 0; i < count; ++i) {
        XmlNode child;
        node.ChildAt(i, &child);
        if (child.Type() != XmlNodeType::kText) only_text = false;
    }
    if (only_text) {
        node.Text(&text);
        return shape + "=\"" + text + "\"";
    }
    shape += "(";
    for (int32_t i = 0; i < count; ++i) {
        XmlNode child;
        node.ChildAt(i, &child);
        shape += (i > 0 ? "," : "") + Shape(child);
    }
    return shape + ")";
}

std::string Shape(const XmlDocument& document) {
    XmlNode root;
    return document.DocumentElement(&root) ? Shape(root) : "(no root)";
}

Children ChildrenOf(const XmlNode& element) {
    Children children;
    int32_t count = 0;
    element.ChildCount(&count);
    for (int32_t i = 0; i < count; ++i) {
        XmlNode child;
        std::string name;
        std::string text;
        if (!element.ChildAt(i, &child) || child.Type() != XmlNodeType::kElement) continue;
        child.Name(&name);
        child.Text(&text);
        children.emplace_back(name, text);
    }
    return children;
}

std::vector<std::string> IdsOf(const XmlDocument& document) {
    std::vector<std::string> ids;
    XmlNode root;
    XmlNode child;
    if (document.IsNull() || !document.DocumentElement(&root)) return ids;
    for (bool more = root.ChildAt(0, &child); more; more = child.NextSibling(&child)) {
        std::string id;
        child.Attribute("ID", &id);
        ids.push_back(id);
    }
    return ids;
}

std::string SourceTreePath(const std::string& unix_path) {
    std::string path = "Z:" + unix_path;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

}  // namespace testing
}  // namespace cv
