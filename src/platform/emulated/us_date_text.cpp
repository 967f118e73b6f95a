#include "platform/emulated/us_date_text.h"

#include <cctype>
#include <vector>

#include "common/dates.h"

namespace platform::emulated {

namespace {

struct Token {
    enum class Kind { Number, Separator, Word } kind;
    std::string text;
    int value = 0;
};

std::optional<std::vector<Token>> Tokens(const std::string& text) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == ' ' || c == '\t') {
            ++i;
            // A blank between two parts counts as one separator of its own.
            if (!tokens.empty() && tokens.back().kind != Token::Kind::Separator) {
                while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
                if (i < text.size()) tokens.push_back({Token::Kind::Separator, " "});
            }
            continue;
        }
        if (std::isdigit(c)) {
            Token token{Token::Kind::Number, {}};
            while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
                if (token.text.size() >= 5) return std::nullopt;
                token.text += text[i++];
            }
            token.value = std::stoi(token.text);
            tokens.push_back(token);
        } else if (std::isalpha(c)) {
            Token token{Token::Kind::Word, {}};
            while (i < text.size() && std::isalpha(static_cast<unsigned char>(text[i]))) {
                token.text +=
                    static_cast<char>(std::toupper(static_cast<unsigned char>(text[i++])));
            }
            tokens.push_back(token);
        } else if (c == '/' || c == '-' || c == ':') {
            tokens.push_back({Token::Kind::Separator, std::string(1, text[i++])});
        } else {
            return std::nullopt;
        }
    }
    return tokens;
}

class Reader {
public:
    explicit Reader(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}
    bool AtEnd() const { return at_ >= tokens_.size(); }
    const Token* Peek(std::size_t ahead = 0) const {
        return at_ + ahead < tokens_.size() ? &tokens_[at_ + ahead] : nullptr;
    }
    bool Separator(const char* text) {
        const Token* token = Peek();
        if (!token || token->kind != Token::Kind::Separator || token->text != text) return false;
        ++at_;
        return true;
    }
    std::optional<Token> Number() {
        const Token* token = Peek();
        if (!token || token->kind != Token::Kind::Number) return std::nullopt;
        ++at_;
        return *token;
    }
    std::optional<std::string> Word() {
        const Token* token = Peek();
        if (!token || token->kind != Token::Kind::Word) return std::nullopt;
        ++at_;
        return token->text;
    }
    std::size_t position() const { return at_; }
    void Rewind(std::size_t position) { at_ = position; }

private:
    std::vector<Token> tokens_;
    std::size_t at_ = 0;
};

int FullYear(const Token& year) {
    // The calendar's two-digit year limit, 2049 on current Windows (and Wine).
    if (year.text.size() <= 2) return year.value <= 49 ? 2000 + year.value : 1900 + year.value;
    return year.value;
}

struct Date {
    int year = 1899;
    int month = 12;
    int day = 30;
};

struct Time {
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// M/D/Y or M/D, or YYYY-M-D.
std::optional<Date> ReadDate(Reader& in, int currentYear) {
    const std::size_t start = in.position();
    const auto first = in.Number();
    if (!first) return std::nullopt;
    Date date;
    if (first->text.size() == 4 && in.Separator("-")) {
        const auto month = in.Number();
        if (!month || !in.Separator("-")) return std::nullopt;
        const auto day = in.Number();
        if (!day) return std::nullopt;
        date = {first->value, month->value, day->value};
    } else if (in.Separator("/")) {
        const auto second = in.Number();
        if (!second) return std::nullopt;
        int year = currentYear;
        if (in.Separator("/")) {
            const auto third = in.Number();
            if (!third || third->text.size() == 5) return std::nullopt;
            year = FullYear(*third);
        }
        date = {year, first->value, second->value};
        if (date.month > 12 && date.day <= 12) std::swap(date.month, date.day);
    } else {
        in.Rewind(start);
        return std::nullopt;
    }
    if (date.year < 100 || date.year > 9999 ||
        !common::IsValidDate(date.year, date.month, date.day)) {
        return std::nullopt;
    }
    return date;
}

// H:MM[:SS] [AM|PM].
std::optional<Time> ReadTime(Reader& in) {
    const auto hour = in.Number();
    if (!hour || !in.Separator(":")) return std::nullopt;
    const auto minute = in.Number();
    if (!minute) return std::nullopt;
    Time time{hour->value, minute->value, 0};
    if (in.Separator(":")) {
        const auto second = in.Number();
        if (!second) return std::nullopt;
        time.second = second->value;
    }
    if (hour->text.size() > 2 || minute->text.size() > 2 || time.minute > 59 || time.second > 59) {
        return std::nullopt;
    }
    // An AM or PM mark, with or without a blank before it.
    const std::size_t beforeMark = in.position();
    in.Separator(" ");
    if (const auto mark = in.Word()) {
        if (*mark == "PM") {
            if (time.hour < 12) time.hour += 12;
        } else if (*mark == "AM") {
            if (time.hour == 12) time.hour = 0;
        } else {
            return std::nullopt;
        }
    } else {
        in.Rewind(beforeMark);
    }
    if (time.hour > 23) return std::nullopt;
    return time;
}

}  // namespace

std::optional<double> ParseUsDateText(const std::string& text, int currentYear) {
    auto tokens = Tokens(text);
    if (!tokens || tokens->empty()) return std::nullopt;
    Reader in(std::move(*tokens));
    Date date;
    Time time;
    // A time alone: a number followed by ":".
    const Token* second = in.Peek(1);
    const bool timeOnly = second && second->kind == Token::Kind::Separator && second->text == ":";
    if (!timeOnly) {
        const auto read = ReadDate(in, currentYear);
        if (!read) return std::nullopt;
        date = *read;
        if (!in.AtEnd()) {
            if (!in.Separator(" ")) return std::nullopt;
            const auto readTime = ReadTime(in);
            if (!readTime) return std::nullopt;
            time = *readTime;
        }
    } else {
        const auto readTime = ReadTime(in);
        if (!readTime) return std::nullopt;
        time = *readTime;
    }
    if (!in.AtEnd()) return std::nullopt;
    return common::OleDateOf(date.year, date.month, date.day, time.hour, time.minute, time.second);
}

}  // namespace platform::emulated
