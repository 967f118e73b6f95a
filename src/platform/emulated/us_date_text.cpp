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
        } else if (c == '/' || c == '-' || c == ':' || c == ',') {
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

int FullYear(int year, std::size_t digits) {
    // The calendar's two-digit year limit, 2049 on current Windows (and Wine).
    if (digits <= 2) return year <= 49 ? 2000 + year : 1900 + year;
    return year;
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

// The month of a United States month name, full or in its three letters; 0 for other words.
int MonthOfName(const std::string& word) {
    static const char* const kMonths[] = {"JANUARY",   "FEBRUARY", "MARCH",    "APRIL",
                                          "MAY",       "JUNE",     "JULY",     "AUGUST",
                                          "SEPTEMBER", "OCTOBER",  "NOVEMBER", "DECEMBER"};
    for (int i = 0; i < 12; ++i) {
        const std::string name = kMonths[i];
        if (word == name || (word.size() == 3 && name.compare(0, 3, word) == 0)) return i + 1;
    }
    return 0;
}

bool IsMark(const Token* token) {
    return token && token->kind == Token::Kind::Word &&
           (token->text == "AM" || token->text == "PM" || token->text == "A" || token->text == "P");
}

// Whether the reader stands at a time: a number followed by ":" or by an AM or PM mark.
bool AtTime(const Reader& in) {
    const Token* first = in.Peek();
    if (!first || first->kind != Token::Kind::Number) return false;
    const Token* next = in.Peek(1);
    if (next && next->kind == Token::Kind::Separator && next->text == ":") return true;
    if (IsMark(next)) return true;
    return next && next->kind == Token::Kind::Separator && next->text == " " && IsMark(in.Peek(2));
}

// One element of a date: a number or a month name.
struct Element {
    int value = 0;
    std::size_t digits = 0;  // 0 for a month name
};

bool PlausibleDay(const Element& e) {
    return e.digits > 0 && e.digits <= 2 && e.value >= 1 && e.value <= 31;
}

// Two or three numbers and at most one month name, apart by "/", "-", blanks or a comma:
//   M/D/Y, M-D-Y (a first number above 12 that fits as a day is the day), Y/M/D and Y-M-D
//   (a first number of three digits or more), M/D and M-D (this year);
//   with a month name, the number that fits as a day is the day and the other the year:
//   "March 1, 2021", "1 Mar 2021", "1-Mar-2021", "Mar 1" (this year).
std::optional<Date> ReadDate(Reader& in, int currentYear) {
    std::vector<Element> elements;
    int monthNames = 0;
    for (;;) {
        if (const auto number = in.Number()) {
            elements.push_back({number->value, number->text.size()});
        } else if (const auto word = in.Word()) {
            const int month = MonthOfName(*word);
            if (month == 0) return std::nullopt;
            elements.push_back({month, 0});
            ++monthNames;
        } else {
            return std::nullopt;
        }
        if (elements.size() == 3 || in.AtEnd()) break;
        // The separator to the next element, unless a blank ends the date before a time.
        const std::size_t before = in.position();
        if (in.Separator("/") || in.Separator("-")) {
            // as written
        } else {
            const bool blank = in.Separator(" ");
            const bool comma = in.Separator(",");
            if (!blank && !comma) return std::nullopt;
            if (blank && !comma && AtTime(in)) {
                in.Rewind(before);
                break;
            }
            in.Separator(" ");
        }
    }
    if (elements.size() < 2 || monthNames > 1) return std::nullopt;
    Date date;
    if (monthNames == 1) {
        std::vector<Element> numbers;
        for (const Element& e : elements) {
            if (e.digits == 0) {
                date.month = e.value;
            } else {
                numbers.push_back(e);
            }
        }
        if (numbers.size() == 1) {
            if (!PlausibleDay(numbers[0])) return std::nullopt;
            date.day = numbers[0].value;
            date.year = currentYear;
        } else {
            const bool firstIsDay = PlausibleDay(numbers[0]);
            if (!firstIsDay && !PlausibleDay(numbers[1])) return std::nullopt;
            const Element& day = firstIsDay ? numbers[0] : numbers[1];
            const Element& year = firstIsDay ? numbers[1] : numbers[0];
            date.day = day.value;
            date.year = FullYear(year.value, year.digits);
        }
    } else if (elements.size() == 3 && elements[0].digits >= 3) {
        date = {elements[0].value, elements[1].value, elements[2].value};
    } else {
        date.month = elements[0].value;
        date.day = elements[1].value;
        date.year = currentYear;
        if (elements.size() == 3) {
            if (elements[2].digits == 5) return std::nullopt;
            date.year = FullYear(elements[2].value, elements[2].digits);
        }
        if (date.month > 12 && date.day <= 12) std::swap(date.month, date.day);
    }
    if (date.year < 100 || date.year > 9999 ||
        !common::IsValidDate(date.year, date.month, date.day)) {
        return std::nullopt;
    }
    return date;
}

// H:MM[:SS] [mark], or H mark; the mark is AM, PM, A or P, with or without a blank before it.
std::optional<Time> ReadTime(Reader& in) {
    const auto hour = in.Number();
    if (!hour) return std::nullopt;
    Time time{hour->value, 0, 0};
    const bool minutes = in.Separator(":");
    if (minutes) {
        const auto minute = in.Number();
        if (!minute || minute->text.size() > 2) return std::nullopt;
        time.minute = minute->value;
        if (in.Separator(":")) {
            const auto second = in.Number();
            if (!second) return std::nullopt;
            time.second = second->value;
        }
    }
    if (hour->text.size() > 2 || time.minute > 59 || time.second > 59) return std::nullopt;
    const std::size_t beforeMark = in.position();
    in.Separator(" ");
    if (const auto mark = in.Word()) {
        // A mark on an hour above 12 is ignored, as Windows does.
        if (*mark == "PM" || *mark == "P") {
            if (time.hour < 12) time.hour += 12;
        } else if (*mark == "AM" || *mark == "A") {
            if (time.hour == 12) time.hour = 0;
        } else {
            return std::nullopt;
        }
    } else if (!minutes) {
        return std::nullopt;  // an hour alone needs its mark
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
    // A time alone: a number followed by ":" or by its mark.
    if (!AtTime(in)) {
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
