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
                           TCase{"a.xlsx", teExcel, "\t", ""}}) {
        SCOPED_TRACE(c.Name);
        auto exporter = CreateExporterForFile(c.Name);
        ASSERT_TRUE(exporter);
        EXPECT_EQ(exporter->TableType(), c.Type);
        EXPECT_EQ(exporter->FileName(), c.Name);
        EXPECT_EQ(exporter->FieldDelimiter, c.Delimiter);
        EXPECT_EQ(exporter->TextQualifier, c.Qualifier);
        EXPECT_EQ(dynamic_cast<TKVExportToText*>(exporter.get()) != nullptr, c.Type == teText);
    }
    // The markup and interchange formats: their own table type and default extension.
    for (const auto& [name, type] : {std::pair{"a.htm", teHTML}, {"a.HTML", teHTML}, {"a.xml", teXML}, {"a.sql", teSQL},
                                     {"a.slk", teSYLK}, {"a.dif", teDIF}}) {
        auto exporter = CreateExporterForFile(name);
        ASSERT_TRUE(exporter) << name;
        EXPECT_EQ(exporter->TableType(), type) << name;
        EXPECT_EQ(exporter->Extension(), TKVExportBaseComponent::GetDefExt(type)) << name;
    }
    EXPECT_FALSE(CreateExporterForFile("a.pdf"));
    EXPECT_FALSE(CreateExporterForFile("noextension"));
    EXPECT_FALSE(CreateExporter(teLDIF));
}

} // namespace
