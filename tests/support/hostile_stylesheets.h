// Stylesheets that try to reach outside the listing they are given: to read a file, to fetch from
// the network, to write a file, to run script. Each is built around a folder that holds a secret
// document and an includable stylesheet, and a loopback port where a listener counts whoever
// comes. A listing must refuse every one of them whole.
#pragma once

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "tests/remote/scripted_peer.h"
#include "tests/support/test_store.h"

namespace cv {
namespace testing {

constexpr const char* kSecret = "CONFIDENTIAL";

struct HostileSheet {
    const char* what;
    std::string text;
};

// The folder's secret.xml and part.xsl, with the URLs that name them.
class OutsideWorld {
  public:
    OutsideWorld() {
        WriteFileBytes(folder_.Join("secret.xml"), std::string("<secret>") + kSecret + "</secret>");
        WriteFileBytes(folder_.Join("part.xsl"),
                       "<xsl:stylesheet version=\"1.0\" "
                       "xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\"><xsl:template "
                       "match=\"/\"><BASEELEMENT><ELEMENT ID=\"" +
                           std::string(kSecret) +
                           "\"/></BASEELEMENT></xsl:template></xsl:stylesheet>");
    }
    std::string Url(const std::string& name) const {
        std::string path = folder_.Join(name);
        std::replace(path.begin(), path.end(), '\\', '/');
        return (path[0] == '/' ? "file://" : "file:///") + path;
    }
    std::string Written() const { return folder_.Join("written.xml"); }
    uint16_t port() const { return listener_.port(); }

    // How many connections the listener has had, counted once it has had one more of its own:
    // connections are accepted in the order they were made.
    int Connections() {
        SocketHandle own = CreateTcpSocket();
        uint32_t loopback = 0;
        ResolveIPv4("127.0.0.1", &loopback);
        ConnectSocket(own, loopback, listener_.port());
        for (int i = 0; i < 1000 && listener_.connections() == before_; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        CloseSocket(own);
        return listener_.connections() - 1 - before_;
    }

  private:
    TempFolder folder_;
    ScriptedPeer listener_;
    int before_ = 0;
};

inline std::vector<HostileSheet> HostileStylesheets(const OutsideWorld& world) {
    const std::string head =
        "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\"";
    const std::string http = "http://127.0.0.1:" + std::to_string(world.port()) + "/";
    // A template that puts what `select` gives into the one element of the output.
    auto showing = [&](const std::string& select, const std::string& more = "",
                       const std::string& attributes = "") {
        return head + attributes + ">" + more +
               "<xsl:template match=\"/\"><BASEELEMENT><ELEMENT ID=\"x\"><xsl:copy-of select=\"" +
               select + "\"/></ELEMENT></BASEELEMENT></xsl:template></xsl:stylesheet>";
    };
    const std::string plain = showing("/");
    const std::string one = "<BASEELEMENT><ELEMENT ID=\"x\"/></BASEELEMENT>";
    const std::string writes = "href=\"" + world.Url("written.xml") + "\"><X/>";
    return {
        {"document() of a file", showing("document('" + world.Url("secret.xml") + "')")},
        {"document() of the network", showing("document('" + http + "d.xml')")},
        {"document() with white space and a computed name",
         showing("document (concat('" + world.Url("secret") + "', '.xml'))")},
        {"document() in an attribute value template",
         head + "><xsl:template match=\"/\"><BASEELEMENT><ELEMENT ID=\"'{document('" +
             world.Url("secret.xml") + "')}\"/></BASEELEMENT></xsl:template></xsl:stylesheet>"},
        {"xsl:include of a file",
         showing("/", "<xsl:include href=\"" + world.Url("part.xsl") + "\"/>")},
        {"xsl:include of the network", showing("/", "<xsl:include href=\"" + http + "i.xsl\"/>")},
        {"xsl:import of a file",
         head + "><xsl:import href=\"" + world.Url("part.xsl") + "\"/></xsl:stylesheet>"},
        {"xsl:import of the network",
         head + "><xsl:import href=\"" + http + "i.xsl\"/></xsl:stylesheet>"},
        {"an external entity",
         "<!DOCTYPE xsl:stylesheet [<!ENTITY e SYSTEM \"" + world.Url("secret.xml") + "\">]>" +
             head +
             "><xsl:template match=\"/\"><BASEELEMENT><ELEMENT ID=\"x\">&e;</ELEMENT>"
             "</BASEELEMENT></xsl:template></xsl:stylesheet>"},
        {"an external DTD",
         "<?xml version=\"1.0\"?><!DOCTYPE x SYSTEM \"" + http + "d.dtd\">" + plain},
        {"an internal DTD", "<!-- c --><!DOCTYPE x [<!ENTITY a \"aaaaaaaa\">]>" + plain},
        {"msxsl:script",
         showing("u:f()",
                 "<msxsl:script language=\"JScript\" implements-prefix=\"u\">function f() { "
                 "return 1; }</msxsl:script>",
                 " xmlns:msxsl=\"urn:schemas-microsoft-com:xslt\" xmlns:u=\"urn:u\"")},
        {"exsl:document writing a file",
         head +
             " xmlns:exsl=\"http://exslt.org/common\" extension-element-prefixes=\"exsl\">"
             "<xsl:template match=\"/\"><exsl:document " +
             writes + "</exsl:document>" + one + "</xsl:template></xsl:stylesheet>"},
        {"xsl:document writing a file", head + "><xsl:template match=\"/\"><xsl:document " +
                                            writes + "</xsl:document>" + one +
                                            "</xsl:template></xsl:stylesheet>"},
        {"an evaluated text",
         showing("dyn:evaluate(&quot;document('" + world.Url("secret.xml") + "')&quot;)", "",
                 " xmlns:dyn=\"http://exslt.org/dynamic\"")},
    };
}

// A stylesheet that only looks like those: the names it calls and tests are harmless ones. It
// lists the elements of the index as they are.
inline std::string LookAlikeStylesheet() {
    return "<?xml version=\"1.0\"?><!-- document('x') --><xsl:stylesheet version=\"1.0\" "
           "xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\"><xsl:template match=\"/\">"
           "<BASEELEMENT><xsl:for-each select=\"BASEELEMENT/ELEMENT[not(SUBJECT = "
           "'document(1)')] | document\"><ELEMENT ID=\"{@ID}\" NOTE=\"a document (1)\"/>"
           "</xsl:for-each></BASEELEMENT></xsl:template></xsl:stylesheet>";
}

}  // namespace testing
}  // namespace cv
