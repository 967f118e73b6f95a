#include "web/web_config.h"

#include <memory>
#include <vector>

#include "common/text.h"
#include "log/activity_log.h"
#include "platform/handle_owner.h"
#include "run/failures.h"
#include "web/agent_components.h"

namespace web {

using activity_log::WriteLogLine;
using platform::LONG;
using platform::XmlAttribute;
using platform::XmlNode;

namespace {

// The DOM calls of the walk: a failing call raises the runtime's failure for it.
class DomWalk {
public:
    DomWalk(run::RunContext& ctx, platform::XmlDocument& document)
        : ctx_(ctx), document_(document) {}

    void Check(LONG hr) {
        if (hr < 0) throw run::ComFailure(ctx_, hr, {});
    }
    std::vector<XmlNode> ElementsByTagName(const std::string& name) {
        std::vector<XmlNode> nodes;
        Check(document_.GetElementsByTagName(name, &nodes));
        return nodes;
    }
    std::vector<XmlNode> ChildNodes(XmlNode node) {
        std::vector<XmlNode> nodes;
        Check(document_.ChildNodes(node, &nodes));
        return nodes;
    }
    std::string BaseName(XmlNode node) {
        std::string name;
        Check(document_.BaseName(node, &name));
        return name;
    }
    // A node without an attribute collection (a comment, a text) is a missing object.
    std::vector<XmlAttribute> Attributes(XmlNode node) {
        std::vector<XmlAttribute> attributes;
        const LONG hr = document_.Attributes(node, &attributes);
        Check(hr);
        if (hr == platform::kSFalse) throw run::ObjectNotSet();
        return attributes;
    }

private:
    run::RunContext& ctx_;
    platform::XmlDocument& document_;
};

// The attribute at a position counted from 0; one past the last is a missing object.
const std::string& At(const std::vector<XmlAttribute>& attributes, std::size_t position) {
    if (position >= attributes.size()) throw run::ObjectNotSet();
    return attributes[position].value;
}

}  // namespace

void subReadXMLWebpost(run::RunContext& ctx, const std::string& serviceName) {
    ctx.webPostPrimaryURL.clear();
    ctx.webPostSecondaryURL.clear();
    ctx.webPostEncryptFlag.clear();
    ctx.webPostPage.clear();
    ctx.webPostTagName.clear();
    try {
        std::unique_ptr<platform::XmlDocument> document;
        if (ctx.platform.xml().CreateDocument(&document) < 0 || !document) {
            throw run::CannotCreateObject();
        }
        DomWalk dom(ctx, *document);
        // Whether the text parsed is not asked: a text that does not leaves no child node.
        bool parsed = false;
        dom.Check(document->LoadXML(ctx.wpConfigXml, &parsed));
        bool hasChildNodes = false;
        dom.Check(document->HasChildNodes(document->DocumentNode(), &hasChildNodes));
        if (!hasChildNodes) return;

        const std::string wanted = common::Upper(common::Trim(serviceName));
        std::vector<XmlAttribute> entry;
        bool found = false;
        for (const XmlNode fod : dom.ElementsByTagName("fod")) {
            if (common::Upper(At(dom.Attributes(fod), 0)) != "NDATAPOST") continue;
            for (const XmlNode group : dom.ChildNodes(fod)) {
                if (common::Upper(dom.BaseName(group)) != "PR4") continue;
                for (const XmlNode service : dom.ChildNodes(group)) {
                    std::vector<XmlAttribute> attributes = dom.Attributes(service);
                    if (common::Upper(common::Trim(At(attributes, 2))) == wanted) {
                        entry = std::move(attributes);
                        found = true;
                        break;
                    }
                }
                if (found) break;
            }
            if (found) break;
        }
        if (!found) return;

        ctx.webPostEncryptFlag = At(entry, 10);
        ctx.webPostTagName = At(entry, 2);
        ctx.webPostPage = "tfr_" + At(entry, 2) + "." + At(entry, 1);
        const std::string scheme = At(entry, 4) == "0" ? "http://" : "https://";
        const bool firstPair = At(entry, 7) == "0";
        const std::string primary = At(entry, firstPair ? 5 : 8);
        const std::string secondary = At(entry, firstPair ? 6 : 9);
        if (!common::Trim(primary).empty()) {
            ctx.webPostPrimaryURL = scheme + primary + "/" + ctx.webPostPage;
        }
        if (common::Trim(secondary).empty()) return;
        ctx.webPostSecondaryURL = scheme + secondary + "/" + ctx.webPostPage;
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        WriteLogLine(ctx, "ModXML", "subReadXMLWebpost", "ERROR", failure.number,
                     failure.description, failure.lastError);
    }
}

std::string fncXMLEncrypt(run::RunContext& ctx, const std::string& xml, platform::DWORD boundMs) {
    platform::Components& components = ctx.platform.components();
    platform::OwnedComObject encryptor(components);
    try {
        const platform::Deadline deadline(ctx.platform.clock(), boundMs);
        const LONG created =
            components.CreateObject(kXmlEncryptorProgId, encryptor.put(),
                                    run::StepBound(ctx, deadline, platform::kComponentCallMs));
        if (created < 0 || !encryptor.get()) throw run::CannotCreateObject(ctx, created);
        std::string encrypted;
        std::string errorText;
        const LONG hr = components.EncryptText(
            encryptor.get(), kXmlEncryptorMethod, xml, &encrypted, &errorText,
            run::StepBound(ctx, deadline, platform::kComponentCallMs));
        if (hr < 0) throw run::ComFailure(ctx, hr, errorText);
        encryptor.reset();
        // The entry's name may have spaces around it; the element is named without them.
        const std::string tag = common::Trim(ctx.webPostTagName);
        return "<" + tag + "><![CDATA[" + encrypted + "]]></" + tag + ">";
    } catch (const std::exception& e) {
        const run::Trapped failure = run::Trap(ctx, e);
        encryptor.reset();
        WriteLogLine(ctx, "ModWebPost", "fncXMLEncrypt", "ERROR", failure.number,
                     failure.description, failure.lastError);
        return {};
    }
}

}  // namespace web
