// Vemo_common: the helpers every layer shares.
//
// FormatNumber turns one double into text with one printf format, and
// ParseNumber turns a typed number back into a double by the C atof rules.
// Both always use "." as the decimal point: Qt programs take LC_NUMERIC
// from the environment, and a drawing written as "2,500" under a German
// locale would be a corrupt file.
//
// MessageSink is how the core reports a failure to the user: the windows
// show a message box, the command line prints to standard error, tests
// collect the texts.
#pragma once

#include <functional>
#include <string>
#include <string_view>

using MessageSink = std::function<void(const std::string&)>;

// Formats `value` with `format`, a printf format for one double such as
// "%.3lf" or " %.3lf". The text is returned whole even when it is longer
// than 31 characters: a cut number would be a wrong number.
std::string FormatNumber(const char* format, double value);

// atof rules: leading white space skipped, then the longest prefix of the
// form [sign] digits [. digits] [e|E [sign] digits]; 0.0 when there is none.
// "inf", "nan" and hexadecimal texts give 0.0 (only decimal forms count).
double ParseNumber(std::string_view text);

// True when the whole of `text` is one decimal number as ParseNumber reads
// it (leading white space allowed, nothing after the number): a text
// that atof would read only in part, or as 0 for want of digits, is not.
bool IsDecimalNumber(std::string_view text);
