// The XML DOM of the emulation's Windows build, which serves the contract tests only (they hold
// the real DOM there) and has no parser: CreateDocument answers REGDB_E_CLASSNOTREG.
#include "platform/emulated/emulated_xml.h"

namespace platform::emulated {

LONG EmulatedXml::CreateDocument(std::unique_ptr<XmlDocument>* document) {
    if (document) document->reset();
    return kRegdbEClassNotReg;
}

}  // namespace platform::emulated
