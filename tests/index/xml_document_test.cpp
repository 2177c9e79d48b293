// The DOM seam: the same effects from either DOM.
#include "index/xml_document.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "common/file_helpers.h"
#include "tests/index/index_test_support.h"
#include "tests/support/test_store.h"

namespace cv {
namespace {

using testing::Shape;

XmlDocument NewDocument() {
    XmlDocument document;
    EXPECT_TRUE(XmlDocument::Create(&document));
    return document;
}

XmlNode AddElement(XmlDocument& document, XmlNode& parent, const char* name, const char* text) {
    XmlNode element;
    EXPECT_TRUE(document.CreateElement(name, &element));
    if (text != nullptr) {
        EXPECT_TRUE(element.SetText(text));
    }
    EXPECT_TRUE(parent.AppendChild(element));
    return element;
}

// A document with a ROOT element.
XmlNode Root(XmlDocument& document) {
    XmlNode document_node, root;
    EXPECT_TRUE(document.AsNode(&document_node) && document.CreateElement("ROOT", &root) &&
                document_node.AppendChild(root));
    return root;
}

TEST(XmlDocumentTest, BuildsNavigatesAndSerialisesATree) {
    XmlDocument document = NewDocument();
    XmlNode root = Root(document), id, child;
    XmlNode item = AddElement(document, root, "ITEM", nullptr);
    ASSERT_TRUE(document.CreateNode(XmlNodeType::kAttribute, "ID", &id));
    ASSERT_TRUE(id.SetText("a&b<c>\"d\"") && item.SetAttributeNode(id));
    AddElement(document, item, "START", "100");
    AddElement(document, item, "START", "200");
    AddElement(document, item, "EMPTY", "");
    std::string value, xml;
    EXPECT_FALSE(item.Attribute("MISSING", &value));
    EXPECT_TRUE(item.ChildElementText("START", &value));
    EXPECT_EQ("100", value);  // the first of its name
    EXPECT_FALSE(item.ChildElementText("END", &value));
    XmlNode last;
    ASSERT_TRUE(item.FirstChild(&child) && child.NextSibling(&child));
    ASSERT_TRUE(child.NextSibling(&last));
    EXPECT_FALSE(last.NextSibling(&last));
    // Replacing a text leaves no trace of the old one.
    ASSERT_TRUE(child.SetText("300"));
    EXPECT_EQ("ROOT(ITEM[ID=a&b<c>\"d\"](START=\"100\",START=\"300\",EMPTY=\"\"))",
              Shape(document));
    ASSERT_TRUE(item.Xml(&xml));
    EXPECT_EQ(0u, xml.find("<ITEM"));
    EXPECT_NE(std::string::npos, xml.find("a&amp;b&lt;c&gt;"));
    EXPECT_NE(std::string::npos, xml.find(">300</START>"));
    // An attribute set again takes the place of the old one.
    ASSERT_TRUE(document.CreateNode(XmlNodeType::kAttribute, "ID", &id));
    ASSERT_TRUE(id.SetText("e") && item.SetAttributeNode(id));
    ASSERT_TRUE(item.Xml(&xml));
    EXPECT_EQ(0u, xml.find("<ITEM ID=\"e\">")) << xml;
}

TEST(XmlDocumentTest, SavedTextsComeBackAsTheyWere) {
    testing::TempFolder folder;
    XmlDocument document = NewDocument();
    XmlNode root = Root(document);
    // 8-bit texts: UTF-8 where they are, other bytes in the code page (natively Windows-1252, on
    // Windows the ANSI code page), so that both builds read an item's text alike. They come back
    // natively as UTF-8, on Windows in the ANSI code page ('?' for what it has no byte for).
    // Control characters no XML document can carry become '?'.
    struct Text {
        const char* name;
        const char* given;
        const char* native;
        const char* windows;
    };
    const Text texts[] = {
        {"LATIN", "Caf\xE9 \x80 5\xB0", "Caf\xC3\xA9 \xE2\x82\xAC 5\xC2\xB0", "Caf\xE9 \x80 5\xB0"},
        {"UTF8", "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
         "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "Caf\xE9 \x80 ??"},
        // A surrogate, an overlong form, U+FFFF and a lone lead byte are not UTF-8.
        {"BROKEN", "\xED\xA0\x80 \xC0\xAF \xEF\xBF\xBF \xC3",
         "\xC3\xAD\xC2\xA0\xE2\x82\xAC \xC3\x80\xC2\xAF \xC3\xAF\xC2\xBF\xC2\xBF \xC3\x83",
         "\xED\xA0\x80 \xC0\xAF \xEF\xBF\xBF \xC3"},
        {"CONTROL", "a\x01z\x1F\tend", "a?z?\tend", "a?z?\tend"},
        {"MARKUP", "<x> & ]]> \"q\" 'a'", "<x> & ]]> \"q\" 'a'", "<x> & ]]> \"q\" 'a'"},
    };
    std::string expected = "ROOT(";
    for (const Text& text : texts) {
        AddElement(document, root, text.name, text.given);
#ifdef _WIN32
        const char* back = text.windows;
#else
        const char* back = text.native;
#endif
        expected += std::string(expected.size() > 5 ? "," : "") + text.name + "=\"" + back + "\"";
    }
    expected += ")";
    EXPECT_EQ(expected, Shape(document));
    std::string path = folder.Join("saved.xml");
    ASSERT_TRUE(document.Save(path.c_str()));
    XmlDocument loaded = NewDocument();
    XmlParseError parse_error;
    ASSERT_EQ(XmlLoadResult::kLoaded, loaded.Load(path.c_str(), &parse_error))
        << parse_error.reason;
    EXPECT_EQ(expected, Shape(loaded));
}

// The index's own trees, ASCII throughout: markup in texts and attribute values survives the save.
// Natively they are written as libxml2's formatted dump writes every other tree.
TEST(XmlDocumentTest, AnAsciiIndexIsSavedWithItsMarkupEscaped) {
    testing::TempFolder folder;
    XmlDocument document = NewDocument();
    XmlNode root = Root(document), id;
    XmlNode item = AddElement(document, root, "ELEMENT", nullptr);
    ASSERT_TRUE(document.CreateNode(XmlNodeType::kAttribute, "ID", &id));
    ASSERT_TRUE(id.SetText("a&b<c>\"d\"") && item.SetAttributeNode(id));
    ASSERT_TRUE(document.AppendTextElement(&item, "SUBJECT", "<x> & ]]> \"q\" 'a'"));
    AddElement(document, item, "EMPTY", nullptr);
    AddElement(document, root, "LEAF", "");
    const std::string shape = Shape(document);
    std::string path = folder.Join("index.xml");
    ASSERT_TRUE(document.Save(path.c_str()));
    XmlDocument loaded = NewDocument();
    XmlParseError parse_error;
    ASSERT_EQ(XmlLoadResult::kLoaded, loaded.Load(path.c_str(), &parse_error));
    EXPECT_EQ(shape, Shape(loaded));
#ifndef _WIN32
    std::string saved;
    ASSERT_TRUE(ReadWholeFile(path.c_str(), &saved));
    EXPECT_EQ(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ROOT>\n"
        "  <ELEMENT ID=\"a&amp;b&lt;c&gt;&quot;d&quot;\">\n"
        "    <SUBJECT>&lt;x&gt; &amp; ]]&gt; \"q\" 'a'</SUBJECT>\n    <EMPTY/>\n  </ELEMENT>\n"
        "  <LEAF></LEAF>\n</ROOT>\n",
        saved);
    // Carriage returns and tabs in an attribute come back as they were only as character
    // references; so do carriage returns in a text.
    ASSERT_TRUE(id.SetText("\t\r\n") && document.AppendTextElement(&item, "CR", "a\rb"));
    ASSERT_TRUE(document.Save(path.c_str()) && ReadWholeFile(path.c_str(), &saved));
    EXPECT_NE(std::string::npos, saved.find("ID=\"&#9;&#13;&#10;\""));
    EXPECT_NE(std::string::npos, saved.find("<CR>a&#13;b</CR>"));
#endif
}

TEST(XmlDocumentTest, NodesOutliveTheirDocumentsReferences) {
    XmlNode element;
    {
        XmlDocument document = NewDocument();
        ASSERT_TRUE(document.CreateElement("KEPT", &element));
        XmlNode discarded;
        ASSERT_TRUE(document.CreateElement("DISCARDED", &discarded));
    }
    ASSERT_TRUE(element.SetText("still here"));
    std::string text;
    ASSERT_TRUE(element.Text(&text));
    EXPECT_EQ("still here", text);
}

TEST(XmlDocumentTest, ALoadReplacesTheContentOrIsRejectedWithWhereAndWhy) {
    XmlDocument document = NewDocument();
    XmlParseError parse_error;
    EXPECT_EQ(XmlLoadResult::kRejected, document.LoadText("<A>\n<B></A>", &parse_error));
    EXPECT_NE(0u, parse_error.code);
    EXPECT_FALSE(parse_error.reason.empty());
#if !defined(_WIN32)  // Wine's DOM gives no position (the platform's does)
    EXPECT_EQ(2, parse_error.line);
    EXPECT_GT(parse_error.position, 0);
#endif
    EXPECT_EQ("(no root)", Shape(document));
    ASSERT_EQ(XmlLoadResult::kLoaded, document.LoadText("<A><B>1</B></A>", &parse_error));
    XmlNode old_root;
    ASSERT_TRUE(document.DocumentElement(&old_root));
    ASSERT_EQ(XmlLoadResult::kLoaded, document.LoadText("<C>2</C>", &parse_error));
    EXPECT_EQ("C=\"2\"", Shape(document));
    EXPECT_EQ("A(B=\"1\")", Shape(old_root));  // a node held from before is still usable
}

// A second transform into the same document replaces the first one's result.
TEST(XmlDocumentTest, TransformsIntoAnotherDocument) {
    XmlDocument source = NewDocument(), stylesheet = NewDocument(), output = NewDocument();
    XmlParseError parse_error;
    ASSERT_EQ(XmlLoadResult::kLoaded,
              source.LoadText("<BASEELEMENT><ELEMENT ID=\"a\"><START>5</START></ELEMENT>"
                              "<ELEMENT ID=\"b\"><START>70</START></ELEMENT>"
                              "<ELEMENT ID=\"c\"><START>9</START></ELEMENT></BASEELEMENT>",
                              &parse_error));
    ASSERT_EQ(XmlLoadResult::kLoaded,
              stylesheet.LoadText(
                  "<xsl:stylesheet version=\"1.0\" "
                  "xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\"><xsl:template "
                  "match=\"/BASEELEMENT\"><BASEELEMENT><xsl:for-each select=\"ELEMENT\"><xsl:sort "
                  "select=\"START\" data-type=\"number\" order=\"descending\"/><xsl:copy-of "
                  "select=\".\"/></xsl:for-each></BASEELEMENT></xsl:template></xsl:stylesheet>",
                  &parse_error))
        << parse_error.reason;
    XmlError error;
    ASSERT_TRUE(source.TransformInto(stylesheet, &output, &error)) << error.description;
    ASSERT_TRUE(source.TransformInto(stylesheet, &output));
    EXPECT_EQ(
        "BASEELEMENT(ELEMENT[ID=b](START=\"70\"),ELEMENT[ID=c](START=\"9\"),"
        "ELEMENT[ID=a](START=\"5\"))",
        Shape(output));
}

// The guard is this build's own; the Windows build's DOM is the platform's (and Wine's stand-in
// for it writes such documents).
#if !defined(_WIN32)
TEST(XmlDocumentTest, AStylesheetCannotWriteFiles) {
    testing::TempFolder folder;
    const std::string target = folder.Join("written.xml");
    std::string href = target;
    std::replace(href.begin(), href.end(), '\\', '/');
    const std::string styles[] = {
        "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\" "
        "xmlns:exsl=\"http://exslt.org/common\" extension-element-prefixes=\"exsl\">"
        "<xsl:template match=\"/\"><exsl:document href=\"" +
            href + "\"><X/></exsl:document><Y/></xsl:template></xsl:stylesheet>",
        "<xsl:stylesheet version=\"1.1\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
        "<xsl:template match=\"/\"><xsl:document href=\"" +
            href + "\"><X/></xsl:document><Y/></xsl:template></xsl:stylesheet>",
    };
    for (const std::string& style : styles) {
        XmlDocument source = NewDocument(), stylesheet = NewDocument(), output = NewDocument();
        XmlParseError parse_error;
        ASSERT_EQ(XmlLoadResult::kLoaded, source.LoadText("<A/>", &parse_error));
        ASSERT_EQ(XmlLoadResult::kLoaded, stylesheet.LoadText(style.c_str(), &parse_error));
        source.TransformInto(stylesheet, &output);  // may fail or skip the element; never write
        EXPECT_FALSE(testing::PathExists(target)) << style;
    }
}
#endif

}  // namespace
}  // namespace cv
