#pragma once
// Validates the XML parts of an Office Open XML package (.docx, .xlsx) against the transitional
// schemas in tests/data/ooxml-schemas, with xmllint.
//
// Markup a consumer may ignore (elements and attributes of the mc:Ignorable namespaces,
// mc:AlternateContent, which keeps its mc:Fallback) is stripped first. Parts whose root
// namespace has no schema here (core properties, custom XML, ...) are not checked.
//
//   EXPECT_EQ(OoxmlSchemaFaults("out.docx"), "");
//
// Returns "" for a valid package, else one line per fault:
//   "word/document.xml /w:document/w:body/w:sectPr/w:pgMar: <xmllint's message>"
// A package that cannot be read, or a missing xmllint, is a fault too.

#include <string>

std::string OoxmlSchemaFaults(const std::string& package);
