// The factory: every extension the suite writes reaches its table type and exporter, a
// .csv / .tsv name brings its delimiter and qualifier, and an unknown one reaches none.

#include "cellfile/text_exporter.h"
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
                           TCase{"a.xlsx", teExcel, "\t", ""}, TCase{"a.ldif", teLDIF, "\t", ""},
                           TCase{"a.PDF", tePDF, "\t", ""}}) {
        SCOPED_TRACE(c.Name);
        auto exporter = CreateExporterForFile(c.Name);
        ASSERT_TRUE(exporter);
        EXPECT_EQ(exporter->TableType(), c.Type);
        EXPECT_EQ(exporter->FileName(), c.Name);
        EXPECT_EQ(exporter->FieldDelimiter, c.Delimiter);
        EXPECT_EQ(exporter->TextQualifier, c.Qualifier);
        EXPECT_EQ(dynamic_cast<TKVExportToText*>(exporter.get()) != nullptr, c.Type == teText || c.Type == teLDIF
                      || c.Type == tePDF);
    }
    EXPECT_FALSE(CreateExporterForFile("a.wq1"));
    EXPECT_FALSE(CreateExporterForFile("noextension"));
    EXPECT_FALSE(CreateExporter(teQuattro));
    ASSERT_TRUE(CreateExporter(teClipboard));
    EXPECT_EQ(CreateExporter(teClipboard)->FileName(), "");
}

} // namespace
