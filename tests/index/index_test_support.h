// What the index tests share: a COM-ready main thread, tree shapes for comparing documents across
// DOMs, and folder index records of the test mailbox.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "index/store_index.h"
#include "index/xml_document.h"

namespace cv {
namespace testing {

// A subtree written out so that DOMs that differ in white space, declarations and empty text
// nodes give the same text: name[ID=..] followed by ="text" for an element holding only text
// (or nothing), else by its children in parentheses. A document without a root is "(no root)".
std::string Shape(const XmlNode& node);
std::string Shape(const XmlDocument& document);

// The element children of an element as name and text pairs, in order.
using Children = std::vector<std::pair<std::string, std::string>>;
Children ChildrenOf(const XmlNode& element);

// The ID attributes of the document element's children (in order, or sorted where the order is
// the directory's); none without a document.
std::vector<std::string> IdsOf(const XmlDocument& document, bool sorted = false);

// A folder index record for a folder of example\<mailbox>.
std::unique_ptr<StoreIndex> NamedIndex(const char* folder, const char* mailbox = "anna");

}  // namespace testing
}  // namespace cv
