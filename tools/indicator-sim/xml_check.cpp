#include "xml_check.h"

#include <cctype>
#include <set>
#include <vector>

namespace {

bool NameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-' || c == ':' ||
           c == '.';
}

// Checks the entity references of character data or an attribute value.
std::string EntityProblem(const std::string& text) {
    for (std::size_t at = text.find('&'); at != std::string::npos; at = text.find('&', at + 1)) {
        const std::size_t end = text.find(';', at);
        if (end == std::string::npos) {
            return "unterminated entity";
        }
        const std::string name = text.substr(at + 1, end - at - 1);
        static const std::set<std::string> kPredefined = {"amp", "lt", "gt", "quot", "apos"};
        bool numeric = name.size() > 1 && name[0] == '#';
        for (std::size_t i = 1; numeric && i < name.size(); ++i) {
            numeric = std::isxdigit(static_cast<unsigned char>(name[i])) != 0 ||
                      (i == 1 && name[i] == 'x');
        }
        if (kPredefined.count(name) == 0 && !numeric) {
            return "unknown entity &" + name + ";";
        }
    }
    return {};
}

}  // namespace

std::string XmlProblem(const std::string& document) {
    std::vector<std::string> open;
    bool rootSeen = false;
    std::size_t at = 0;
    while (at < document.size()) {
        if (document[at] != '<') {
            const std::size_t next = document.find('<', at);
            const std::string text = document.substr(at, next - at);
            if (open.empty() && text.find_first_not_of(" \t\r\n") != std::string::npos) {
                return "text outside the root element";
            }
            if (std::string problem = EntityProblem(text); !problem.empty()) {
                return problem;
            }
            at = next == std::string::npos ? document.size() : next;
            continue;
        }
        if (document.compare(at, 5, "<?xml") == 0) {
            if (at != 0) {
                return "XML declaration not at the start";
            }
            const std::size_t end = document.find("?>", at);
            if (end == std::string::npos) {
                return "unterminated XML declaration";
            }
            at = end + 2;
            continue;
        }
        if (document.compare(at, 4, "<!--") == 0) {
            const std::size_t end = document.find("-->", at);
            if (end == std::string::npos) {
                return "unterminated comment";
            }
            at = end + 3;
            continue;
        }
        const bool closing = at + 1 < document.size() && document[at + 1] == '/';
        std::size_t i = at + (closing ? 2 : 1);
        const std::size_t nameStart = i;
        while (i < document.size() && NameChar(document[i])) {
            ++i;
        }
        const std::string name = document.substr(nameStart, i - nameStart);
        if (name.empty()) {
            return "a tag without a name";
        }
        if (closing) {
            while (i < document.size() && std::isspace(static_cast<unsigned char>(document[i]))) {
                ++i;
            }
            if (i >= document.size() || document[i] != '>') {
                return "malformed end tag </" + name;
            }
            if (open.empty() || open.back() != name) {
                return "</" + name + "> does not close " +
                       (open.empty() ? "anything" : open.back());
            }
            open.pop_back();
            at = i + 1;
            continue;
        }
        if (open.empty()) {
            if (rootSeen) {
                return "a second root element <" + name + ">";
            }
            rootSeen = true;
        }
        std::set<std::string> attributes;
        for (;;) {
            const std::size_t before = i;
            while (i < document.size() && std::isspace(static_cast<unsigned char>(document[i]))) {
                ++i;
            }
            if (i >= document.size()) {
                return "unterminated tag <" + name;
            }
            if (document[i] == '>') {
                open.push_back(name);
                at = i + 1;
                break;
            }
            if (document.compare(i, 2, "/>") == 0) {
                at = i + 2;
                break;
            }
            if (i == before) {
                return "attributes of <" + name + "> not separated by white space";
            }
            const std::size_t attributeStart = i;
            while (i < document.size() && NameChar(document[i])) {
                ++i;
            }
            const std::string attribute = document.substr(attributeStart, i - attributeStart);
            if (attribute.empty() || i >= document.size() || document[i] != '=') {
                return "malformed attribute in <" + name + ">";
            }
            ++i;
            if (i >= document.size() || (document[i] != '"' && document[i] != '\'')) {
                return "unquoted value of " + attribute + " in <" + name + ">";
            }
            const char quote = document[i];
            const std::size_t end = document.find(quote, i + 1);
            if (end == std::string::npos) {
                return "unterminated value of " + attribute;
            }
            const std::string value = document.substr(i + 1, end - i - 1);
            if (value.find('<') != std::string::npos) {
                return "'<' in the value of " + attribute;
            }
            if (std::string problem = EntityProblem(value); !problem.empty()) {
                return problem;
            }
            if (!attributes.insert(attribute).second) {
                return "attribute " + attribute + " twice in <" + name + ">";
            }
            i = end + 1;
        }
    }
    if (!open.empty()) {
        return "<" + open.back() + "> not closed";
    }
    return rootSeen ? "" : "no root element";
}
