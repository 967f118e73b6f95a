// The agent's COM components as the program binds them: each class by its ProgID, each method
// by its name, called late-bound through IDispatch.
#pragma once

namespace web {

// The agent's text encryptor: a COM class whose method takes one text and returns its encrypted
// form.
inline constexpr const char* kXmlEncryptorProgId = "VERUZE.XmlEncryptor";
inline constexpr const char* kXmlEncryptorMethod = "Encrypt";
// The agent's web-post object and its method.
inline constexpr const char* kWebPostProgId = "Postbird.webpost";
inline constexpr const char* kWebPostMethod = "PostXMLString";

}  // namespace web
