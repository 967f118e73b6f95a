// Text helpers with the program's own rules: trimming removes spaces only, upper-casing and
// searching are plain character operations, and the three loose readings of a value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace common {

std::string Trim(std::string_view text);  // leading and trailing spaces
std::string Upper(std::string_view text);
void UpperInPlace(std::string& text);  // a buffer used again, as Upper
std::string Lower(std::string_view text);
std::string RemoveAll(std::string_view text, char c);
bool Contains(std::string_view text, std::string_view part);  // an empty part is always found
bool EndsWith(std::string_view text, std::string_view end);

// "Reads as the number 1": a text that is a number equal to 1 (" 1", "1.0", "01").
bool ReadsAsNumberOne(std::string_view text);
// "The number at the start of the text": leading blanks skipped, digits with an optional sign and
// fraction; 0 when the text does not start with a number.
double LeadingNumber(std::string_view text);
// The Boolean conversion of a setting: a number (zero false, any other true) or the words True
// and False in any case; nothing for any other text, the empty text included.
std::optional<bool> ToBoolean(std::string_view text);
// The whole text as a number, or nothing (blanks around it allowed).
std::optional<double> ToNumber(std::string_view text);
// Appends a Unicode code point as UTF-8.
void AppendUtf8(std::string& out, std::uint32_t code);

}  // namespace common
