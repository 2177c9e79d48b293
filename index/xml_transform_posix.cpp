// Stylesheets and the transform of the XML DOM seam over libxml2 and libxslt, with everything
// that keeps a caller's stylesheet from reaching beyond the document it is given: nothing it
// names is fetched when it loads, and libxslt's security settings and a bound on its XPath steps
// hold while it runs.
#include "index/xml_document_posix.h"

#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

namespace cv {
namespace {

using detail::ErrorCapture;
using detail::Fail;
using detail::InitializeLibraries;
using detail::StateOf;

constexpr unsigned long kTransformStepLimit = 1ul << 24;

// The security check of every access a transform asks for: refused, and the transform stopped,
// so that a stylesheet that tries gets no output rather than an output without the data.
int RefuseAndStop(xsltSecurityPrefsPtr, xsltTransformContextPtr context, const char*) {
    if (context != nullptr) context->state = XSLT_STATE_STOPPED;
    return 0;
}

}  // namespace

XmlLoadResult XmlDocument::LoadStylesheetText(const char* text, XmlParseError* parse_error,
                                              XmlError* error) {
    // LoadText already reads neither the network nor an external DTD, and substitutes no entity.
    return LoadText(text, parse_error, error);
}

bool XmlDocument::TransformInto(const XmlDocument& stylesheet, XmlDocument* output,
                                XmlError* error) const {
    if (IsNull() || stylesheet.IsNull() || output == nullptr || output->IsNull()) {
        return Fail(error, "No document");
    }
    InitializeLibraries();
    ErrorCapture capture;
    // libxslt takes the stylesheet's tree for its own: give it a copy.
    xmlDocPtr sheet_tree = xmlCopyDoc(StateOf(stylesheet)->doc, 1);
    if (sheet_tree == nullptr) return Fail(error, "Out of memory");
    xsltStylesheetPtr sheet = xsltParseStylesheetDoc(sheet_tree);
    if (sheet == nullptr) {
        xmlFreeDoc(sheet_tree);
        return Fail(error, capture.has_error() ? capture.message()
                                               : "The stylesheet is not a valid stylesheet");
    }
    xsltTransformContextPtr context = xsltNewTransformContext(sheet, state_->doc);
    xsltSecurityPrefsPtr prefs = xsltNewSecurityPrefs();
    if (context == nullptr || prefs == nullptr) {
        if (prefs != nullptr) xsltFreeSecurityPrefs(prefs);
        if (context != nullptr) xsltFreeTransformContext(context);
        xsltFreeStylesheet(sheet);
        return Fail(error, "Out of memory");
    }
    // A caller's stylesheet sorts and filters; it has no business with files or the network.
    for (xsltSecurityOption option :
         {XSLT_SECPREF_READ_FILE, XSLT_SECPREF_WRITE_FILE, XSLT_SECPREF_CREATE_DIRECTORY,
          XSLT_SECPREF_READ_NETWORK, XSLT_SECPREF_WRITE_NETWORK}) {
        xsltSetSecurityPrefs(prefs, option, RefuseAndStop);
    }
    xsltSetCtxtSecurityPrefs(prefs, context);
    // A stylesheet can ask for work without end (templates that call themselves twice over): the
    // transform's XPath steps are counted, and it fails at a bound some hundred times what sorting
    // the largest listing takes.
    if (context->xpathCtxt != nullptr) {
        context->xpathCtxt->opLimit = kTransformStepLimit;
        context->xpathCtxt->opCount = 0;
    }
    xsltSetTransformErrorFunc(context, nullptr, ErrorCapture::OnPrintfError);
    xmlDocPtr result =
        xsltApplyStylesheetUser(sheet, state_->doc, nullptr, nullptr, nullptr, context);
    bool failed = result == nullptr || context->state == XSLT_STATE_ERROR ||
                  context->state == XSLT_STATE_STOPPED;
    xsltFreeTransformContext(context);
    xsltFreeSecurityPrefs(prefs);
    xsltFreeStylesheet(sheet);
    if (failed) {
        if (result != nullptr) xmlFreeDoc(result);
        return Fail(error, capture.has_error() ? capture.message() : "The transformation failed");
    }
    // The result lives in libxslt's name dictionary; a plain copy can join the output's trees.
    xmlDocPtr copy = xmlCopyDoc(result, 1);
    xmlFreeDoc(result);
    if (copy == nullptr) return Fail(error, "Out of memory");
    StateOf(*output)->Replace(copy);
    return true;
}

}  // namespace cv
