// The XML DOM: "MSXML2.DOMDocument" through COM.
#include <msxml2.h>

#include <optional>
#include <vector>

#include "platform/win32/com_support.h"
#include "platform/win32/win32_facets.h"
#include "platform/xml.h"

namespace platform::win32 {
namespace {

// The nodes handed out are kept, each with its own reference, as long as the document; a
// node's handle is its place in that list (0 is no node, 1 the document itself).
class Win32XmlDocument final : public XmlDocument {
public:
    explicit Win32XmlDocument(UniqueCom<IXMLDOMDocument> document)
        : document_(std::move(document)) {
        nodes_.emplace_back();
        IXMLDOMNode* self = nullptr;
        if (SUCCEEDED(document_.get()->QueryInterface(IID_IXMLDOMNode,
                                                      reinterpret_cast<void**>(&self)))) {
            nodes_.emplace_back(self);
        }
    }

    LONG LoadXML(const std::string& text, bool* parsed) override {
        const UniqueBstr bstr(BstrOf(text));
        VARIANT_BOOL ok = VARIANT_FALSE;
        const HRESULT hr = document_.get()->loadXML(bstr.get(), &ok);
        if (parsed) *parsed = SUCCEEDED(hr) && ok == VARIANT_TRUE;
        return hr;
    }

    XmlNode DocumentNode() override { return nodes_.size() > 1 ? 1 : 0; }

    LONG HasChildNodes(XmlNode node, bool* has) override {
        IXMLDOMNode* found = Node(node);
        if (!found || !has) return E_INVALIDARG;
        VARIANT_BOOL answer = VARIANT_FALSE;
        const HRESULT hr = found->hasChildNodes(&answer);
        *has = answer == VARIANT_TRUE;
        return hr;
    }

    LONG GetElementsByTagName(const std::string& tagName, std::vector<XmlNode>* elements) override {
        if (!elements) return E_POINTER;
        elements->clear();
        const UniqueBstr name(BstrOf(tagName));
        IXMLDOMNodeList* raw = nullptr;
        const HRESULT hr = document_.get()->getElementsByTagName(name.get(), &raw);
        const UniqueCom<IXMLDOMNodeList> list(raw);
        if (FAILED(hr)) return hr;
        return Collect(list.get(), elements);
    }

    LONG ChildNodes(XmlNode node, std::vector<XmlNode>* children) override {
        IXMLDOMNode* found = Node(node);
        if (!found || !children) return E_INVALIDARG;
        children->clear();
        IXMLDOMNodeList* raw = nullptr;
        const HRESULT hr = found->get_childNodes(&raw);
        const UniqueCom<IXMLDOMNodeList> list(raw);
        if (FAILED(hr)) return hr;
        return Collect(list.get(), children);
    }

    LONG NodeType(XmlNode node, int* type) override {
        IXMLDOMNode* found = Node(node);
        if (!found || !type) return E_INVALIDARG;
        DOMNodeType value = NODE_INVALID;
        const HRESULT hr = found->get_nodeType(&value);
        *type = static_cast<int>(value);
        return hr;
    }

    LONG NodeName(XmlNode node, std::string* name) override {
        IXMLDOMNode* found = Node(node);
        if (!found || !name) return E_INVALIDARG;
        BSTR raw = nullptr;
        const HRESULT hr = found->get_nodeName(&raw);
        const UniqueBstr text(raw);
        *name = TextOfBstr(text.get());
        return hr;
    }

    LONG BaseName(XmlNode node, std::string* name) override {
        IXMLDOMNode* found = Node(node);
        if (!found || !name) return E_INVALIDARG;
        BSTR raw = nullptr;
        const HRESULT hr = found->get_baseName(&raw);
        const UniqueBstr text(raw);
        *name = TextOfBstr(text.get());
        return hr;
    }

    LONG Attributes(XmlNode node, std::vector<XmlAttribute>* attributes) override {
        IXMLDOMNode* found = Node(node);
        if (!found || !attributes) return E_INVALIDARG;
        attributes->clear();
        IXMLDOMNamedNodeMap* raw = nullptr;
        HRESULT hr = found->get_attributes(&raw);
        const UniqueCom<IXMLDOMNamedNodeMap> map(raw);
        if (FAILED(hr)) return hr;
        if (!map) return S_FALSE;
        long length = 0;
        if (FAILED(hr = map.get()->get_length(&length))) return hr;
        for (long i = 0; i < length; ++i) {
            IXMLDOMNode* rawAttribute = nullptr;
            hr = map.get()->get_item(i, &rawAttribute);
            const UniqueCom<IXMLDOMNode> attribute(rawAttribute);
            if (FAILED(hr)) return hr;
            if (!attribute) return E_FAIL;
            XmlAttribute entry;
            BSTR rawName = nullptr;
            hr = attribute.get()->get_nodeName(&rawName);
            const UniqueBstr attributeName(rawName);
            if (FAILED(hr)) return hr;
            entry.name = TextOfBstr(attributeName.get());
            UniqueVariant typed;
            hr = attribute.get()->get_nodeTypedValue(typed.put());
            if (SUCCEEDED(hr) && typed.get().vt != VT_NULL && typed.get().vt != VT_EMPTY) {
                UniqueVariant text;
                hr = ::VariantChangeType(text.put(), typed.addressof(), 0, VT_BSTR);
                if (SUCCEEDED(hr)) entry.value = TextOfBstr(text.get().bstrVal);
            }
            if (FAILED(hr)) return hr;
            attributes->push_back(std::move(entry));
        }
        return S_OK;
    }

private:
    IXMLDOMNode* Node(XmlNode handle) const {
        return handle > 0 && handle < nodes_.size() ? nodes_[handle].get() : nullptr;
    }

    HRESULT Collect(IXMLDOMNodeList* list, std::vector<XmlNode>* nodes) {
        long length = 0;
        if (!list) return S_OK;
        HRESULT hr = list->get_length(&length);
        if (FAILED(hr)) return hr;
        for (long i = 0; i < length; ++i) {
            IXMLDOMNode* raw = nullptr;
            hr = list->get_item(i, &raw);
            if (FAILED(hr)) return hr;
            if (!raw) continue;
            nodes_.emplace_back(raw);
            nodes->push_back(nodes_.size() - 1);
        }
        return S_OK;
    }

    UniqueCom<IXMLDOMDocument> document_;
    std::vector<UniqueCom<IXMLDOMNode>> nodes_;
};

// MSXML 3.0 validates while parsing, fetches external entities and DTDs and expands entities by
// default: a configuration file with a doctype could make the program fetch addresses as the
// local system account, or exhaust its memory. None of that is wanted, and a document the
// emulated host refuses is refused here too: no validation, no externals, no DTD at all, at most
// 256 levels of elements. The two properties are MSXML's own; an older MSXML that does not know
// one keeps its default, and the document is still made.
// IXMLDOMDocument2's interface id; MinGW-w64's uuid library lacks it.
constexpr IID kIidXmlDomDocument2 = {
    0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

HRESULT Harden(IXMLDOMDocument* document) {
    HRESULT hr = document->put_validateOnParse(VARIANT_FALSE);
    if (FAILED(hr)) return hr;
    if (FAILED(hr = document->put_resolveExternals(VARIANT_FALSE))) return hr;
    IXMLDOMDocument2* second = nullptr;
    if (SUCCEEDED(
            document->QueryInterface(kIidXmlDomDocument2, reinterpret_cast<void**>(&second))) &&
        second) {
        UniqueCom<IXMLDOMDocument2> owned(second);
        VARIANT prohibit;
        ::VariantInit(&prohibit);
        prohibit.vt = VT_BOOL;
        prohibit.boolVal = VARIANT_TRUE;
        const UniqueBstr prohibitName(::SysAllocString(L"ProhibitDTD"));
        (void)owned.get()->setProperty(prohibitName.get(), prohibit);
        VARIANT depth;
        ::VariantInit(&depth);
        depth.vt = VT_I4;
        depth.lVal = 256;
        const UniqueBstr depthName(::SysAllocString(L"MaxElementDepth"));
        (void)owned.get()->setProperty(depthName.get(), depth);
    }
    return S_OK;
}

class Win32Xml final : public Xml {
public:
    LONG CreateDocument(std::unique_ptr<XmlDocument>* document) override {
        if (!document) return E_POINTER;
        document->reset();
        // The apartment stays joined for the facet's lifetime: the documents made here live in it.
        if (!apartment_) apartment_.emplace();
        CLSID clsid;
        HRESULT hr = ::CLSIDFromProgID(ToWide(kXmlDomProgId).c_str(), &clsid);
        if (FAILED(hr)) return hr;
        IXMLDOMDocument* raw = nullptr;
        hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_SERVER, IID_IXMLDOMDocument,
                                reinterpret_cast<void**>(&raw));
        UniqueCom<IXMLDOMDocument> created(raw);
        if (FAILED(hr)) return hr;
        if (FAILED(hr = created.get()->put_preserveWhiteSpace(VARIANT_FALSE))) return hr;
        if (FAILED(hr = Harden(created.get()))) return hr;
        *document = std::make_unique<Win32XmlDocument>(std::move(created));
        return S_OK;
    }

private:
    std::optional<ComApartment> apartment_;
};

}  // namespace

std::unique_ptr<Xml> MakeWin32Xml() {
    return std::make_unique<Win32Xml>();
}

}  // namespace platform::win32
