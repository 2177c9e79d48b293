// The check of a caller's stylesheet, read as the check reads it: where a call can hide in a
// stylesheet's text (literals, templates, prefixes, foreign namespaces, the prolog), and what
// merely looks like one.
#include <gtest/gtest.h>

#include <string>

#include "host/host_thread.h"
#include "index/stylesheet_policy.h"

namespace cv {
namespace {

const std::string kHead =
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\" "
    "xmlns:f=\"urn:f\" xmlns:w=\"http://www.w3.org/TR/WD-xsl\">";

// A stylesheet whose one template holds `body`.
std::string Sheet(const std::string& body) {
    return kHead + "<xsl:template match=\"/\">" + body + "</xsl:template></xsl:stylesheet>";
}

TEST(StylesheetPolicyTest, CallsAreFoundWhereverTheyHideAndLookAlikesPass) {
    HostThread host;
    const struct {
        std::string text;
        bool refused;
    } kCases[] = {
        // The prolog: comments, processing instructions and a byte order mark, but no DTD.
        {"\xEF\xBB\xBF<?xml version=\"1.0\"?>\n<!-- <!DOCTYPE --> <?note x?>" + Sheet("<R/>"),
         false},
        {"<!-- c --><!DOCTYPE x>" + Sheet("<R/>"), true},
        {"\xEF\xBB\xBF<!DOCTYPE x>" + Sheet("<R/>"), true},
        {"<!-- never closed" + Sheet("<R/>"), true},
        {"x" + Sheet("<R/>"), true},
        {"<?xml version=\"1.0\"?>", true},
        // Expressions: literals, name tests and other functions are no calls.
        {Sheet("<xsl:value-of select=\"concat('document(', &quot;eval(&quot;)\"/>"), false},
        {Sheet("<xsl:value-of select=\"document | my-document(1) | zdocument(2) | "
               "f:documents(3)\"/>"),
         false},
        {Sheet("<xsl:value-of select=\"count(/|document('x'))\"/>"), true},
        {Sheet("<xsl:value-of select=\"document\n\t('x')\"/>"), true},
        {Sheet("<xsl:value-of select=\"f:document('x')\"/>"), true},
        {Sheet("<xsl:if test=\"f:evaluate('1')\"/>"), true},
        // Templates: only what lies between braces is an expression.
        {Sheet("<R A=\"a document (1)\" B=\"{{document('x')}}\" C=\"Anna's\"/>"), false},
        {Sheet("<xsl:number format=\"document (1)\"/>"), false},
        {Sheet("<R A=\"{{{document('x')}\"/>"), true},
        {Sheet("<R A=\"{'}'}{document('x')}\"/>"), true},
        {Sheet("<xsl:element name=\"{document('x')}\"/>"), true},
        // Elements of other namespaces: their attributes are read both ways.
        {Sheet("<f:e a=\"Anna's list\" b=\"{1}\"/>"), false},
        {Sheet("<f:e a=\"document('x')\"/>"), true},
        {Sheet("<w:if expr=\"1\"/>"), true},
        {Sheet("<w:if test=\"x\"/>"), false},
        // Elements go by their namespace, whatever the prefix.
        {kHead + "<t:include xmlns:t=\"http://www.w3.org/1999/XSL/Transform\" href=\"x\"/>" +
             "</xsl:stylesheet>",
         true},
        {Sheet("<include href=\"x\"/><script/><f:document/>"), false},
        {Sheet("<x:document xmlns:x=\"http://exslt.org/common\" href=\"x\"/>"), true},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.text);
        XmlDocument sheet;
        std::string why;
        EXPECT_EQ(!c.refused, LoadConfinedStylesheet(c.text.c_str(), &sheet, &why));
        EXPECT_EQ(c.refused, sheet.IsNull());
        EXPECT_EQ(c.refused, !why.empty()) << why;
    }
}

}  // namespace
}  // namespace cv
