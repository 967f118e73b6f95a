#pragma once

#include "platform/xml.h"

namespace platform::emulated {

// The XML DOM of the emulated host: pugixml, presenting the nodes MSXML presents for the same
// text, and refusing the texts MSXML refuses (several root elements, text outside the root, an
// undefined entity, a repeated attribute, an undeclared namespace prefix, a byte-order mark, ...).
// The emulation's Windows build has no parser (the contract tests hold the real DOM there):
// CreateDocument then answers REGDB_E_CLASSNOTREG
// (src/platform/win32/emulation/emulated_xml_windows.cpp).
class EmulatedXml final : public Xml {
public:
    LONG CreateDocument(std::unique_ptr<XmlDocument>* document) override;
};

}  // namespace platform::emulated
