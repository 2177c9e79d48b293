#include "tools/cvcal/xml_indent.h"

#include <vector>

namespace cvcal {
namespace {

struct Token {
    std::string text;
    enum { kOpen, kClose, kEmpty, kOther, kText } kind;
};

// Tags (comments, declarations and processing instructions among them) and the text between.
std::vector<Token> Tokens(const std::string& xml) {
    std::vector<Token> tokens;
    for (std::string::size_type at = 0; at < xml.size();) {
        if (xml[at] != '<') {
            std::string::size_type next = xml.find('<', at);
            if (next == std::string::npos) next = xml.size();
            std::string text = xml.substr(at, next - at);
            if (text.find_first_not_of(" \t\r\n") != std::string::npos) {
                tokens.push_back({text, Token::kText});
            }
            at = next;
            continue;
        }
        const char* close = xml.compare(at, 4, "<!--") == 0 ? "-->" : ">";
        std::string::size_type end = xml.find(close, at);
        end = end == std::string::npos ? xml.size() : end + std::char_traits<char>::length(close);
        std::string tag = xml.substr(at, end - at);
        auto kind = Token::kOpen;
        if (tag.compare(0, 2, "</") == 0) {
            kind = Token::kClose;
        } else if (tag.compare(0, 2, "<?") == 0 || tag.compare(0, 2, "<!") == 0) {
            kind = Token::kOther;
        } else if (tag.size() >= 2 && tag[tag.size() - 2] == '/') {
            kind = Token::kEmpty;
        }
        tokens.push_back({tag, kind});
        at = end;
    }
    return tokens;
}

}  // namespace

std::string IndentXml(const std::string& xml) {
    std::vector<Token> tokens = Tokens(xml);
    std::string out;
    int depth = 0;
    auto line = [&](const std::string& text) {
        out += std::string(static_cast<size_t>(depth > 0 ? depth : 0) * 2, ' ') + text + "\n";
    };
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token& t = tokens[i];
        if (t.kind == Token::kOpen && i + 2 < tokens.size() && tokens[i + 1].kind == Token::kText &&
            tokens[i + 2].kind == Token::kClose) {
            line(t.text + tokens[i + 1].text + tokens[i + 2].text);
            i += 2;
        } else if (t.kind == Token::kOpen && i + 1 < tokens.size() &&
                   tokens[i + 1].kind == Token::kClose) {
            line(t.text + tokens[i + 1].text);
            i += 1;
        } else if (t.kind == Token::kOpen) {
            line(t.text);
            ++depth;
        } else if (t.kind == Token::kClose) {
            --depth;
            line(t.text);
        } else {
            line(t.text);
        }
    }
    return out;
}

}  // namespace cvcal
