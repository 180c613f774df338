// The factory: every extension the suite writes reaches its table type and exporter, a
// .csv / .tsv name brings its delimiter and qualifier, an unknown one reaches none, and
// exporters registered from other libraries are found like the suite's own.

#include "cellfile/rtf_exporter.h"
#include "cellfile/text_exporter.h"
#include "cellfile/xls_exporter.h"
#include "office/exporter_factory.h"
#include "office/excel_exporter.h"
#include "office/word_exporter.h"
#include "tests/common/qt_application.h"

#include <gtest/gtest.h>

namespace {

TEST(ExporterFactoryTest, ExtensionsReachTheirExporterAndSettings)
{
    EnsureQtApplication();
    struct TCase {
        std::string Name;
        TTableTypeExport Type;
        std::string Delimiter, Qualifier;
    };
    for (const TCase& c : {TCase{"a.CSV", teText, ",", "\""}, TCase{"a.tsv", teText, "\t", "\""},
                           TCase{"a.txt", teText, "\t", ""}, TCase{"a.docx", teWord, "\t", ""},
                           TCase{"a.xlsx", teExcel, "\t", ""}, TCase{"a.DBF", teDBase, "\t", ""},
                           TCase{"a.sav", teSPSS, "\t", ""}, TCase{"a.wk1", teWKS, "\t", ""},
                           TCase{"a.WQ1", teQuattro, "\t", ""}, TCase{"a.ldif", teLDIF, "\t", ""}}) {
        SCOPED_TRACE(c.Name);
        auto exporter = CreateExporterForFile(c.Name);
        ASSERT_TRUE(exporter);
        EXPECT_EQ(exporter->TableType(), c.Type);
        EXPECT_EQ(exporter->FileName(), c.Name);
        EXPECT_EQ(exporter->FieldDelimiter, c.Delimiter);
        EXPECT_EQ(exporter->TextQualifier, c.Qualifier);
        // Text and the table files on the pipeline write through the text target's file.
        EXPECT_EQ(dynamic_cast<TKVExportToText*>(exporter.get()) != nullptr, c.Type != teWord && c.Type != teExcel);
    }
    // The markup and interchange formats: their own table type and default extension.
    for (const auto& [name, type] : {std::pair{"a.htm", teHTML}, {"a.HTML", teHTML}, {"a.xml", teXML}, {"a.sql", teSQL},
                                     {"a.slk", teSYLK}, {"a.dif", teDIF}}) {
        auto exporter = CreateExporterForFile(name);
        ASSERT_TRUE(exporter) << name;
        EXPECT_EQ(exporter->TableType(), type) << name;
        EXPECT_EQ(exporter->Extension(), TKVExportBaseComponent::GetDefExt(type)) << name;
    }
    EXPECT_FALSE(CreateExporterForFile("a.xyz"));
    EXPECT_FALSE(CreateExporterForFile("noextension"));
    EXPECT_FALSE(CreateExporterForFile("a.db")); // a Paradox table or a database: the caller says
    EXPECT_EQ(CreateExporter(teParadox)->TableType(), teParadox);
    // .xls and RTF by table type are the direct writers; by name, the bridged exporters.
    EXPECT_TRUE(dynamic_cast<TKVExportToXLS*>(CreateExporter(teXLS).get()));
    EXPECT_TRUE(dynamic_cast<TKVExportToRTF*>(CreateExporter(teRTF).get()));
}

// Exporters of other libraries (PDF needs Qt Gui) join by registering; the newest
// registration for a table type stands, and its extensions find it in any letter case.
TEST(ExporterFactoryTest, RegisteredExportersAreFoundByTableTypeAndExtension)
{
    EnsureQtApplication();
    int made = 0;
    for (const char* delimiter : {";", "|"}) {
        RegisterExporter(tePDF, {".Pdf"}, [&made, delimiter] {
            ++made;
            auto exporter = std::make_unique<TKVExportToText>();
            exporter->FieldDelimiter = delimiter;
            return exporter;
        });
    }
    auto byType = CreateExporter(tePDF);
    ASSERT_TRUE(byType);
    EXPECT_EQ(byType->TableType(), tePDF);
    auto byName = CreateExporterForFile("report.PDF");
    ASSERT_TRUE(byName);
    EXPECT_EQ(byName->FieldDelimiter, "|");
    EXPECT_EQ(byName->FileName(), "report.PDF");
    EXPECT_EQ(made, 2);
    EXPECT_FALSE(CreateExporterForFile("report.pdfx"));
}

} // namespace
