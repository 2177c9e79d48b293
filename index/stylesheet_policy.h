// What a caller's stylesheet may do: sort, filter and reshape the index it is given, nothing
// more. The stylesheet of a listing comes from the host or, through the remote admin service, from
// any peer that holds its credentials, and it runs inside the server: it must not read the
// server's files, reach the network, write files or run script.
//
// Both DOMs are told to refuse those where they can (the transform itself, and the loading of the
// stylesheet), but not every release of them knows every switch; so a stylesheet is also checked
// before it is loaded and before it is applied, alike in both builds, and refused as a whole when
// it names anything that could reach outside: a DTD, xsl:include or xsl:import, document(),
// dynamic evaluation, script, and the extension elements that write documents.
#pragma once

#include <string>

#include "index/xml_document.h"

namespace cv {

// Loads a caller's stylesheet text into *sheet. False, with the reason in *why when one is given,
// when the text is refused or does not load as XML.
bool LoadConfinedStylesheet(const char* text, XmlDocument* sheet, std::string* why = nullptr);

}  // namespace cv
