#pragma once
// Value texts that hold a value exactly, for the command line's targets and the typed
// cell files (SQL, XML, SYLK, DIF): numbers with every digit a double holds (the
// shortest text that reads back as the same double), money and decimals with their own
// digits, dates and times in ISO form.

#include "framework/value_contract.h"

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

class TField;
class TKVExportBaseComponent;
class Variant;

// A decimal number's sign and significant digits, and the power of ten of its first
// digit: "-0012.50" and "-1.25e1" both give ("-125", 1); zero gives ("0", 0).
std::pair<std::string, int> DecimalKey(std::string_view Text);
// The shortest text that reads back as Value, with "." as the decimal point.
std::string ShortestText(double Value, std::chars_format Format = std::chars_format::general);
// The exact decimal text of a money amount scaled by 10,000.
std::string ScaledText(std::int64_t Scaled);
// The exact decimal text (with ".") of a money or decimal value: its scaled amount,
// integer or shortest double digits; other kinds give AsString.
std::string ExactDecimalText(const Variant& Value);
// The exact text of a value by its own kind (for a field typed value by value): numbers
// as ExactDecimalText, date-times in ISO form, Booleans "True" / "False", texts as they are.
std::string ExactValueText(const Variant& Value);
// ShortestText with the process's decimal separator of the moment (the run's own), no
// grouping.
std::string NumberText(double Value);
// A date-time serial as yyyy-mm-dd, with WithTime followed by hh:mm:ss (and .zzz or
// .zzzzzz when there is a fraction of a second).
std::string IsoText(double Serial, bool WithTime);
// The text of a field's current value by its type, as above; other types give
// AsString. The field must not be null.
std::string ExactFieldText(TField* Field);
// ExactFieldText with "." as the decimal point whatever the run's separator: the text
// of a literal in a language of its own (SQL, XML).
std::string LiteralFieldText(TField* Field);

// Makes Exporter write the value of every field that is neither null nor a blob as
// ExactFieldText gives it; display texts (soFieldMask) go as the user formatted them.
// Takes OnGetFieldText, so blank-if-zero still applies.
void UseExactValueTexts(TKVExportBaseComponent& Exporter);
