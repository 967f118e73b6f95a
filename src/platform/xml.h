// XML DOM facet: the "MSXML2.DOMDocument" object as the program walks it. A document is loaded
// from text with whitespace not preserved: text nodes of whitespace only are dropped, comments,
// processing instructions and the XML declaration are nodes of their own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/com_types.h"

namespace platform {

// A node of one document, valid while its document lives; 0 is "no node".
using XmlNode = std::uintptr_t;

// DOMNodeType values.
inline constexpr int kXmlElementNode = 1;
inline constexpr int kXmlTextNode = 3;
inline constexpr int kXmlCDataNode = 4;
inline constexpr int kXmlProcessingInstructionNode = 7;
inline constexpr int kXmlCommentNode = 8;
inline constexpr int kXmlDocumentNode = 9;
inline constexpr int kXmlDocumentTypeNode = 10;

inline constexpr const char* kXmlDomProgId = "MSXML2.DOMDocument";

struct XmlAttribute {
    std::string name;   // nodeName, with its prefix
    std::string value;  // nodeTypedValue converted to text
    friend bool operator==(const XmlAttribute&, const XmlAttribute&) = default;
};

class XmlDocument {
public:
    virtual ~XmlDocument() = default;

    // loadXML. *parsed is false when the text is not well-formed; the document is then empty.
    virtual LONG LoadXML(const std::string& text, bool* parsed) = 0;
    // The document node itself.
    virtual XmlNode DocumentNode() = 0;
    // S_OK when the node has children, S_FALSE when it has none.
    virtual LONG HasChildNodes(XmlNode node, bool* has) = 0;
    // getElementsByTagName: the elements below the document whose nodeName (prefix included)
    // is tagName, in document order.
    virtual LONG GetElementsByTagName(const std::string& tagName,
                                      std::vector<XmlNode>* elements) = 0;
    // childNodes, in order.
    virtual LONG ChildNodes(XmlNode node, std::vector<XmlNode>* children) = 0;
    virtual LONG NodeType(XmlNode node, int* type) = 0;
    virtual LONG NodeName(XmlNode node, std::string* name) = 0;
    // baseName: the local name without its prefix; empty for nodes without a name.
    virtual LONG BaseName(XmlNode node, std::string* name) = 0;
    // attributes, in order (namespace declarations included, as attributes). S_FALSE and no
    // attributes for a node that has no attribute collection (text, comment, processing
    // instruction, ...): for the program, that is a missing object.
    virtual LONG Attributes(XmlNode node, std::vector<XmlAttribute>* attributes) = 0;
};

class Xml {
public:
    virtual ~Xml() = default;

    // CLSIDFromProgID("MSXML2.DOMDocument") and CoCreateInstance, preserveWhiteSpace false.
    // The object lives as long as *document.
    virtual LONG CreateDocument(std::unique_ptr<XmlDocument>* document) = 0;
};

}  // namespace platform
