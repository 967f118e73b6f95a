#include "json_check_support.h"

#include "common/text.h"

namespace testing_support {

namespace {

class Reader {
public:
    explicit Reader(const std::string& text) : text_(text) {}

    JsonValue Document() {
        JsonValue value = Value();
        Space();
        if (at_ != text_.size()) Fail("text after the value");
        return value;
    }

private:
    [[noreturn]] void Fail(const std::string& what) const {
        throw JsonError(what + " at offset " + std::to_string(at_));
    }
    void Space() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                      text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }
    char Peek() {
        Space();
        if (at_ >= text_.size()) Fail("unexpected end");
        return text_[at_];
    }
    void Expect(char c) {
        if (Peek() != c) Fail(std::string("expected '") + c + "'");
        ++at_;
    }
    bool Literal(const char* word) {
        const std::string w = word;
        if (text_.compare(at_, w.size(), w) != 0) return false;
        at_ += w.size();
        return true;
    }
    JsonValue Value() {
        const char c = Peek();
        JsonValue result;
        if (c == '{') {
            ++at_;
            auto object = std::make_shared<JsonObject>();
            if (Peek() == '}') {
                ++at_;
            } else {
                for (;;) {
                    if (Peek() != '"') Fail("expected a member name");
                    std::string name = String();
                    Expect(':');
                    object->emplace_back(std::move(name), Value());
                    if (Peek() == ',') {
                        ++at_;
                        continue;
                    }
                    Expect('}');
                    break;
                }
            }
            result.value.emplace<5>(object);
        } else if (c == '[') {
            ++at_;
            auto array = std::make_shared<JsonArray>();
            if (Peek() == ']') {
                ++at_;
            } else {
                for (;;) {
                    array->push_back(Value());
                    if (Peek() == ',') {
                        ++at_;
                        continue;
                    }
                    Expect(']');
                    break;
                }
            }
            result.value.emplace<4>(array);
        } else if (c == '"') {
            result.value.emplace<3>(String());
        } else if (Literal("true")) {
            result.value.emplace<1>(true);
        } else if (Literal("false")) {
            result.value.emplace<1>(false);
        } else if (Literal("null")) {
            result.value.emplace<0>(nullptr);
        } else {
            result.value.emplace<2>(Number());
        }
        return result;
    }
    std::string Number() {
        const std::size_t start = at_;
        if (at_ < text_.size() && text_[at_] == '-') ++at_;
        if (at_ >= text_.size() || !isdigit(static_cast<unsigned char>(text_[at_])))
            Fail("bad value");
        if (text_[at_] == '0') {
            ++at_;
            if (at_ < text_.size() && isdigit(static_cast<unsigned char>(text_[at_])))
                Fail("leading zero");
        } else {
            while (at_ < text_.size() && isdigit(static_cast<unsigned char>(text_[at_]))) ++at_;
        }
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            if (at_ >= text_.size() || !isdigit(static_cast<unsigned char>(text_[at_])))
                Fail("bad fraction");
            while (at_ < text_.size() && isdigit(static_cast<unsigned char>(text_[at_]))) ++at_;
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
            if (at_ >= text_.size() || !isdigit(static_cast<unsigned char>(text_[at_])))
                Fail("bad exponent");
            while (at_ < text_.size() && isdigit(static_cast<unsigned char>(text_[at_]))) ++at_;
        }
        return text_.substr(start, at_ - start);
    }
    unsigned Hex4() {
        if (at_ + 4 > text_.size()) Fail("short \\u escape");
        const std::string digits = text_.substr(at_, 4);
        for (char d : digits) {
            if (!isxdigit(static_cast<unsigned char>(d))) Fail("bad \\u escape");
        }
        at_ += 4;
        return static_cast<unsigned>(std::stoul(digits, nullptr, 16));
    }
    std::string String() {
        ++at_;  // the opening quote
        std::string out;
        for (;;) {
            if (at_ >= text_.size()) Fail("unterminated string");
            const char c = text_[at_++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) Fail("raw control character in a string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size()) Fail("unterminated escape");
            const char e = text_[at_++];
            switch (e) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    unsigned code = Hex4();
                    if (code >= 0xD800 && code < 0xDC00 && text_.compare(at_, 2, "\\u") == 0) {
                        at_ += 2;
                        code = 0x10000 + ((code - 0xD800) << 10) + (Hex4() - 0xDC00);
                    }
                    common::AppendUtf8(out, code);
                    break;
                }
                default:
                    Fail("bad escape");
            }
        }
    }

    const std::string& text_;
    std::size_t at_ = 0;
};

}  // namespace

const JsonValue& JsonValue::operator[](const std::string& name) const {
    for (const auto& [key, member] : Object()) {
        if (key == name) return member;
    }
    throw JsonError("no member " + name);
}

JsonValue ParseJson(const std::string& text) {
    return Reader(text).Document();
}

}  // namespace testing_support
