#include "platform/emulated/emulated_xml.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <pugixml.hpp>
#include <set>
#include <string_view>

namespace platform::emulated {

namespace {

bool StartsAt(std::string_view text, std::size_t at, std::string_view part) {
    return text.compare(at, part.size(), part) == 0;
}

bool IsXmlChar(unsigned long c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// An entity or character reference at text[at] == '&' that a parser without a DTD resolves.
bool ValidReference(std::string_view text, std::size_t at) {
    const std::size_t end = text.find(';', at);
    if (end == std::string_view::npos || end - at > 12) return false;
    const std::string_view name = text.substr(at + 1, end - at - 1);
    if (name == "amp" || name == "lt" || name == "gt" || name == "quot" || name == "apos") {
        return true;
    }
    if (name.size() < 2 || name[0] != '#') return false;
    const bool hex = name[1] == 'x';
    const std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty()) return false;
    unsigned long code = 0;
    for (const char c : digits) {
        int digit;
        if (c >= '0' && c <= '9') {
            digit = c - '0';
        } else if (hex && c >= 'a' && c <= 'f') {
            digit = c - 'a' + 10;
        } else if (hex && c >= 'A' && c <= 'F') {
            digit = c - 'A' + 10;
        } else {
            return false;
        }
        code = code * (hex ? 16 : 10) + static_cast<unsigned long>(digit);
        if (code > 0x10FFFF) return false;
    }
    return IsXmlChar(code);
}

// What pugixml lets through but an XML parser refuses, found in the raw text: a byte-order mark
// (the program's texts are ANSI, where those bytes are characters before the root), an XML
// declaration that is not at the very start, an unresolvable reference, "<" inside an attribute
// value and "]]>" in character data.
bool LexicallyWellFormed(std::string_view text) {
    if (StartsAt(text, 0, "\xEF\xBB\xBF")) return false;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const char c = text[i];
        if (c == '<') {
            std::size_t close;
            if (StartsAt(text, i, "<!--")) {
                close = text.find("-->", i + 4);
                if (close == std::string_view::npos) return false;
                i = close + 3;
                continue;
            }
            if (StartsAt(text, i, "<![CDATA[")) {
                close = text.find("]]>", i + 9);
                if (close == std::string_view::npos) return false;
                i = close + 3;
                continue;
            }
            if (StartsAt(text, i, "<?")) {
                close = text.find("?>", i + 2);
                if (close == std::string_view::npos) return false;
                std::size_t targetEnd = i + 2;
                while (targetEnd < close && !std::strchr(" \t\r\n", text[targetEnd])) ++targetEnd;
                std::string target(text.substr(i + 2, targetEnd - i - 2));
                std::transform(target.begin(), target.end(), target.begin(), [](unsigned char ch) {
                    return static_cast<char>(std::tolower(ch));
                });
                if (target == "xml" && i != 0) return false;
                i = close + 2;
                continue;
            }
            if (StartsAt(text, i, "<!DOCTYPE")) {
                int depth = 0;
                char quote = 0;
                std::size_t j = i + 9;
                for (; j < n; ++j) {
                    const char ch = text[j];
                    if (quote) {
                        if (ch == quote) quote = 0;
                    } else if (ch == '"' || ch == '\'') {
                        quote = ch;
                    } else if (ch == '[') {
                        ++depth;
                    } else if (ch == ']') {
                        --depth;
                    } else if (ch == '>' && depth <= 0) {
                        break;
                    }
                }
                if (j >= n) return false;
                i = j + 1;
                continue;
            }
            // A start or end tag: attribute values run between quotes.
            char quote = 0;
            std::size_t j = i + 1;
            for (; j < n; ++j) {
                const char ch = text[j];
                if (quote) {
                    if (ch == quote) {
                        quote = 0;
                    } else if (ch == '<' || (ch == '&' && !ValidReference(text, j))) {
                        return false;
                    }
                } else if (ch == '"' || ch == '\'') {
                    quote = ch;
                } else if (ch == '>') {
                    break;
                }
            }
            if (j >= n) return false;
            i = j + 1;
            continue;
        }
        if (c == '&' && !ValidReference(text, i)) return false;
        if (c == ']' && StartsAt(text, i, "]]>")) return false;
        ++i;
    }
    return true;
}

std::string_view Prefix(std::string_view name) {
    const auto colon = name.find(':');
    return colon == std::string_view::npos ? std::string_view{} : name.substr(0, colon);
}

bool QualifiedNameOk(std::string_view name) {
    const auto colon = name.find(':');
    if (colon == std::string_view::npos) return true;
    return colon != 0 && colon + 1 < name.size() &&
           name.find(':', colon + 1) == std::string_view::npos;
}

// The deepest nesting of elements the Windows DOM is set to take (its MaxElementDepth).
constexpr std::size_t kMaxElementDepth = 256;

// What pugixml lets through but an XML parser refuses, found in the tree: more or fewer than one
// root element, text outside it, a repeated attribute, a malformed qualified name and a prefix
// that no enclosing element declares. And what the Windows DOM is set to refuse: any document
// type declaration (its ProhibitDTD; so no entity is ever declared or expanded and nothing
// external fetched) and elements nested deeper than kMaxElementDepth.
bool StructurallyWellFormed(const pugi::xml_document& document) {
    int roots = 0;
    for (const pugi::xml_node child : document.children()) {
        switch (child.type()) {
            case pugi::node_element:
                ++roots;
                break;
            case pugi::node_pcdata:
            case pugi::node_cdata:
            case pugi::node_doctype:
                return false;
            default:
                break;
        }
    }
    if (roots != 1) return false;

    struct Frame {
        pugi::xml_node node;
        std::set<std::string> prefixes;  // declared in scope
        std::size_t depth;               // the root element is at 1
    };
    std::vector<Frame> stack;
    stack.push_back({document.document_element(), {"xml"}, 1});
    while (!stack.empty()) {
        Frame frame = std::move(stack.back());
        stack.pop_back();
        if (frame.depth > kMaxElementDepth) return false;
        const pugi::xml_node element = frame.node;
        std::set<std::string_view> names;
        for (const pugi::xml_attribute attribute : element.attributes()) {
            const std::string_view name = attribute.name();
            if (!names.insert(name).second || !QualifiedNameOk(name)) return false;
            if (Prefix(name) == "xmlns") frame.prefixes.insert(std::string(name.substr(6)));
        }
        const std::string_view elementName = element.name();
        if (!QualifiedNameOk(elementName)) return false;
        const std::string_view elementPrefix = Prefix(elementName);
        if (!elementPrefix.empty() && !frame.prefixes.count(std::string(elementPrefix)))
            return false;
        for (const pugi::xml_attribute attribute : element.attributes()) {
            const std::string_view prefix = Prefix(attribute.name());
            if (prefix.empty() || prefix == "xmlns") continue;
            if (!frame.prefixes.count(std::string(prefix))) return false;
        }
        for (const pugi::xml_node child : element.children()) {
            if (child.type() == pugi::node_element)
                stack.push_back({child, frame.prefixes, frame.depth + 1});
        }
    }
    return true;
}

class PugiDocument final : public XmlDocument {
public:
    LONG LoadXML(const std::string& text, bool* parsed) override {
        document_.reset();
        constexpr unsigned kOptions = pugi::parse_default | pugi::parse_comments | pugi::parse_pi |
                                      pugi::parse_declaration | pugi::parse_doctype |
                                      pugi::parse_fragment;
        const pugi::xml_parse_result result =
            document_.load_buffer(text.data(), text.size(), kOptions, pugi::encoding_utf8);
        const bool ok = result && LexicallyWellFormed(text) && StructurallyWellFormed(document_);
        // A text that does not parse leaves the document empty, as loadXML does.
        if (!ok) document_.reset();
        if (parsed) *parsed = ok;
        return ok ? kSOk : kSFalse;
    }

    XmlNode DocumentNode() override { return Handle(document_); }

    LONG HasChildNodes(XmlNode node, bool* has) override {
        const pugi::xml_node found = Node(node);
        if (!found || !has) return kEInvalidArg;
        *has = static_cast<bool>(found.first_child());
        return *has ? kSOk : kSFalse;
    }

    LONG GetElementsByTagName(const std::string& tagName, std::vector<XmlNode>* elements) override {
        if (!elements) return kEPointer;
        elements->clear();
        // Document order is a depth-first walk, each node before its children.
        std::vector<pugi::xml_node> pending;
        for (pugi::xml_node child = document_.last_child(); child;
             child = child.previous_sibling()) {
            pending.push_back(child);
        }
        while (!pending.empty()) {
            const pugi::xml_node node = pending.back();
            pending.pop_back();
            if (node.type() != pugi::node_element) continue;
            if (tagName == "*" || tagName == node.name()) elements->push_back(Handle(node));
            for (pugi::xml_node child = node.last_child(); child;
                 child = child.previous_sibling()) {
                pending.push_back(child);
            }
        }
        return kSOk;
    }

    LONG ChildNodes(XmlNode node, std::vector<XmlNode>* children) override {
        const pugi::xml_node found = Node(node);
        if (!found || !children) return kEInvalidArg;
        children->clear();
        for (const pugi::xml_node child : found.children()) children->push_back(Handle(child));
        return kSOk;
    }

    LONG NodeType(XmlNode node, int* type) override {
        const pugi::xml_node found = Node(node);
        if (!found || !type) return kEInvalidArg;
        switch (found.type()) {
            case pugi::node_document:
                *type = kXmlDocumentNode;
                break;
            case pugi::node_element:
                *type = kXmlElementNode;
                break;
            case pugi::node_pcdata:
                *type = kXmlTextNode;
                break;
            case pugi::node_cdata:
                *type = kXmlCDataNode;
                break;
            case pugi::node_comment:
                *type = kXmlCommentNode;
                break;
            case pugi::node_doctype:
                *type = kXmlDocumentTypeNode;
                break;
            default:
                *type = kXmlProcessingInstructionNode;
                break;  // pi and the declaration
        }
        return kSOk;
    }

    LONG NodeName(XmlNode node, std::string* name) override {
        const pugi::xml_node found = Node(node);
        if (!found || !name) return kEInvalidArg;
        switch (found.type()) {
            case pugi::node_document:
                *name = "#document";
                break;
            case pugi::node_pcdata:
                *name = "#text";
                break;
            case pugi::node_cdata:
                *name = "#cdata-section";
                break;
            case pugi::node_comment:
                *name = "#comment";
                break;
            case pugi::node_doctype: {
                // pugixml keeps the whole declaration; its name is the first word.
                const std::string_view value = found.value();
                *name = std::string(value.substr(0, value.find_first_of(" \t\r\n[")));
                break;
            }
            default:
                *name = found.name();
                break;
        }
        return kSOk;
    }

    LONG BaseName(XmlNode node, std::string* name) override {
        const pugi::xml_node found = Node(node);
        if (!found || !name) return kEInvalidArg;
        switch (found.type()) {
            case pugi::node_element:
            case pugi::node_pi:
            case pugi::node_declaration: {
                const std::string_view qualified = found.name();
                const auto colon = qualified.find(':');
                *name = std::string(colon == std::string_view::npos ? qualified
                                                                    : qualified.substr(colon + 1));
                return kSOk;
            }
            default:
                name->clear();
                return kSFalse;
        }
    }

    LONG Attributes(XmlNode node, std::vector<XmlAttribute>* attributes) override {
        const pugi::xml_node found = Node(node);
        if (!found || !attributes) return kEInvalidArg;
        attributes->clear();
        // The declaration's version, encoding and standalone count as its attributes.
        if (found.type() != pugi::node_element && found.type() != pugi::node_declaration) {
            return kSFalse;
        }
        for (const pugi::xml_attribute attribute : found.attributes()) {
            attributes->push_back({attribute.name(), attribute.value()});
        }
        return kSOk;
    }

private:
    static XmlNode Handle(const pugi::xml_node& node) {
        return reinterpret_cast<XmlNode>(node.internal_object());
    }
    static pugi::xml_node Node(XmlNode handle) {
        // The facet's node handle is the node's address.
        // NOLINTNEXTLINE(performance-no-int-to-ptr)
        return pugi::xml_node(reinterpret_cast<pugi::xml_node_struct*>(handle));
    }

    pugi::xml_document document_;
};

}  // namespace

LONG EmulatedXml::CreateDocument(std::unique_ptr<XmlDocument>* document) {
    if (!document) return kEPointer;
    *document = std::make_unique<PugiDocument>();
    return kSOk;
}

}  // namespace platform::emulated
