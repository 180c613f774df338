#include "export/message_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

struct ExpectedText {
    int Id;
    const char* Name;
    const char* Text;
};

// An independent copy of the whole table, to catch a changed, lost or renumbered text.
const std::vector<ExpectedText> Expected = {
    {0, "strPropertyError", "Property %s is not specified."},
    {1, "strIsNotDBGrid", "Assigned DBGrid (%s) is not a supported type"},
    {2, "strExportFinished", "The %s file was successfully generated with exported data."},
    {3, "strExportError", "Error of data export."},
    {4, "strExportOk", "Data export was successfully completed."},
    {5, "strFileCreateError", "Could not create the %s file."},
    {6, "strHTMLTitle", "Data exported by Tabrix generator"},
    {7, "strFilePrompt", "File %s already exists. Do you want to replace it?"},
    {8, "strExporting", "Exporting..."},
    {9, "strLoadError", "Can't create a process dialog"},
    {10, "strSetupDlgCaption", "Data Export Setup"},
    {11, "strBtnOk", "&OK"},
    {12, "strBtnCancel", "&Cancel"},
    {13, "strBtnBack", "< &Back"},
    {14, "strBtnNext", "&Next >"},
    {15, "strExecute", "&Execute"},
    {16, "strExportCanceled", "Data export was canceled by user."},
    {17, "strKVEWizardCaption", "Export Wizard"},
    {18, "strStepDisplay", "Step %d of %d"},
    {19, "strWizardAbort", "Wizard is incomplete. If you quit the Wizard now, the new export will not be created. Abort wizard?"},
    {20, "strLblStep1", "This wizard allows you to specify details of how to export your data. Which export format would you like?"},
    {21, "strLblStep2", "Specify custom options for data exporting"},
    {22, "strLblStep3", "Select the appropriate delimiter to separate your fields."},
    {23, "strLblStep5", "You can define custom properties for the exported columns."},
    {24, "strLblStep6", "You can add a custom header and/or footer."},
    {25, "strLblStep8", "That's all of the information the wizard needs to export your data."},
    {26, "strHeader", "Header"},
    {27, "strFooter", "Footer"},
    {28, "strTableType", " Table type "},
    {29, "strFormat1", "Paradox file (*.db)"},
    {30, "strFormat2", "DBase file (*.dbf)"},
    {31, "strFormat3", "Text file (*.txt)"},
    {32, "strFormat4", "HTML file (*.htm)"},
    {33, "strFormat5", "Excel spreadsheet (*.xls)"},
    {34, "strFormat6", "Excel file (*.xls)"},
    {35, "strFormat7", "Word file (*.doc)"},
    {36, "strFormat8", "SYLK (Symbolic Link) (*.slk)"},
    {37, "strFormat9", "DIF (Data Interchange Format) (*.dif)"},
    {38, "strFormatA", "Lotus 1-2-3 file (*.wk1)"},
    {39, "strFormatB", "QuattroPro file (*.wq1)"},
    {40, "strFormatC", "SQL script file (*.sql)"},
    {41, "strFormatD", "XML file (*.xml)"},
    {42, "strFormatE", "MS Access database (*.mdb)"},
    {43, "strFormatF", "MS Windows clipboard"},
    {44, "strFormatG", "Rich Text format (*.rtf)"},
    {45, "strFormatH", "SPSS format (*.sav)"},
    {46, "strFormatI", "Adobe Acrobat Document (*.pdf)"},
    {47, "strFormatJ", "LDAP DataInterchangeFormat (*.ldif)"},
    {50, "strFileOrigin", "File Origin:"},
    {51, "strSelectedOnly", "Selected records only"},
    {52, "strAddCaption", "Include column titles"},
    {53, "strAddTitle", "Put field titles on the first row"},
    {54, "strBlankIfZero", "Blank if zero"},
    {55, "strActionAfterExport", "Action after exporting"},
    {56, "strAENone", "None"},
    {57, "strAEOpenView", "open for file view"},
    {58, "strAEEMail", "e-mail with file attachment"},
    {59, "strSeparatorType", " Field delimiter "},
    {60, "strDelimiter1", "Tab"},
    {61, "strDelimiter2", "Semicolon"},
    {62, "strDelimiter3", "Comma"},
    {63, "strDelimiter4", "Space"},
    {64, "strDelimiter5", "Other symbol:"},
    {65, "strFixed", "Fixed column length"},
    {66, "strText1", "&Delimited - Characters such as commas or tabs separate each field"},
    {67, "strText2", "Fixed &Width - Fields are aligned in columns with spaces between each field"},
    {68, "strFileName", "Export to a File:"},
    {69, "strSaveDlgTitle", "Export to"},
    {70, "strAllFiles", "All files (*.*)|*.*"},
    {71, "strTableName", "Table name:"},
    {72, "SgbTitle", " Title "},
    {73, "SgbData", " Data "},
    {74, "STitleCaption", "Caption:"},
    {75, "STitleAlignment", "Alignment:"},
    {76, "STitleColor", "Background:"},
    {77, "STitleFont", "Font:"},
    {78, "SWidth", "Width:"},
    {79, "SWidthFix", "characters"},
    {80, "SAlignLeft", "left"},
    {81, "SAlignRight", "right"},
    {82, "SAlignCenter", "center"},
    {83, "strESpecs", "Specifications..."},
    {84, "strERecordSeparator", "Record separator:"},
    {85, "strETextQualifier", "Text qualifier:"},
    {86, "strENone", "none"},
    {87, "strERowsPerFile", "Records per each file"},
    {88, "strLblStep7", "You can select desired layout of exported data"},
    {89, "strLayout", " Layout "},
    {90, "strColumnar", "columnar"},
    {91, "strReversedColumnar", "reversed columnar"},
    {92, "strTabularForm", "tabular form"},
    {93, "strColorStyle", "Color Style:"},
    {94, "strSelectAll", "Select &All"},
    {95, "strUnSelectAll", "&Unselect All"},
    {96, "strRevertSelection", "&Revert selection"},
    {97, "strAddBlankRow", "add a blank row after field names"},
    {98, "strPreviewLayout", "Preview"},
    {99, "strDateNumFormat", " Dates, Times and Numbers "},
    {100, "strDateOrder", "Date &Order:"},
    {101, "strMDY", "MDY"},
    {102, "strDMY", "DMY"},
    {103, "strYMD", "YMD"},
    {104, "strYDM", "YDM"},
    {105, "strDYM", "DYM"},
    {106, "strMYD", "MYD"},
    {107, "strDateDelimiter", "Date De&limiter:"},
    {108, "strTimeDelimiter", "Time Deli&miter:"},
    {109, "strFourDigitYears", "Four Digit &Years"},
    {110, "strLeadingZerosInDate", "Leading &Zeros in Dates"},
    {111, "strDecimalSymbol", "Decimal Sym&bol:"},
    {112, "strThousandSymbol", "&Thousand Separator:"},
    {113, "strCurrencyString", "&Currency Symbol:"},
    {114, "strLogicalValues", "Logical values:"},
    {115, "strLblStep4", "You can define any custom data formats."},
    {116, "strMergeFile", "Merge existing file"},
    {117, "strStepHeader1", "File Format"},
    {118, "strStepHeader2", "Data Origin"},
    {119, "strStepHeader3", "Text Settings"},
    {120, "strStepHeader4", "Data Formats"},
    {121, "strStepHeader5", "Columns"},
    {122, "strStepHeader6", "Header and Footer"},
    {123, "strStepHeader7", "Layout"},
    {124, "strStepHeader8", "File Name"},
    {125, "strExportColorsFonts", "export data and colors/fonts"},
    {126, "strExportDataOnly", "export data only"},
    {127, "strExportOriginalValueTypes", "export the original value types"},
    {-1, "strExportStart", "Do you want to start the export process?"},
    {-1, "strFileOverwrite", "%s file exists. To overwrite this file?"},
    {-1, "strESpecCaption", "Export specification"},
    {-1, "strESpecPrompt", "List of available specifications:"},
    {-1, "strELoad", "Load"},
    {-1, "strESave", "Save"},
    {-1, "strEDelete", "Delete"},
    {-1, "strEClose", "Close"},
    {-1, "strEDeleteSpecPrompt", "Delete import specification %s?"},
    {-1, "strTrue", "True"},
    {-1, "strFalse", "False"},
    {-1, "strField", "Field"},
    {-1, "strTextFieldName", "Text"},
};

class MessageTableTest : public ::testing::Test {
protected:
    void TearDown() override { ResetMessageTable(); }
};

TEST_F(MessageTableTest, EveryTextNameAndIdMatchesTheEnglishTable)
{
    ASSERT_EQ(MessageTable.size(), Expected.size());
    ASSERT_EQ(Expected.size(), 139u);
    for (std::size_t i = 0; i < Expected.size(); ++i) {
        SCOPED_TRACE(Expected[i].Name);
        EXPECT_EQ(MessageTable[i].Id, Expected[i].Id);
        EXPECT_STREQ(MessageTable[i].Name, Expected[i].Name);
        EXPECT_EQ(*MessageTable[i].Text, Expected[i].Text);
        EXPECT_STREQ(MessageTable[i].DefaultText, Expected[i].Text);
        if (Expected[i].Id >= 0) {
            EXPECT_EQ(LanguageStringById(Expected[i].Id), Expected[i].Text);
            EXPECT_EQ(LanguageStringVariable(Expected[i].Id), MessageTable[i].Text);
        }
    }
}

TEST_F(MessageTableTest, VariablesAreDistinctAndReachableByName)
{
    std::set<const std::string*> addresses;
    for (const TMessageTableEntry& entry : MessageTable)
        addresses.insert(entry.Text);
    EXPECT_EQ(addresses.size(), MessageTableSize);

    EXPECT_EQ(&strPropertyError, LanguageStringVariable(0));
    EXPECT_EQ(&strExportCanceled, LanguageStringVariable(16));
    EXPECT_EQ(&strExportOriginalValueTypes, LanguageStringVariable(127));
    EXPECT_EQ(strTrue, "True");
    EXPECT_EQ(strFalse, "False");
    EXPECT_EQ(strLoadError, "Can't create a process dialog");
    EXPECT_EQ(std::string(GeneratorVer), "Tabrix 4.61");
}

TEST_F(MessageTableTest, IdsWithoutTextGiveEmptyText)
{
    for (int id : {48, 49, -1, 128, -1000, 100000}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(LanguageStringById(id), "");
        EXPECT_EQ(LanguageStringVariable(id), nullptr);
    }
    int withText = 0;
    for (int id = LanguageStringMinId; id <= LanguageStringMaxId; ++id)
        if (LanguageStringVariable(id))
            ++withText;
    EXPECT_EQ(withText, 126);
}

TEST_F(MessageTableTest, AssigningAVariableChangesItsTextUntilReset)
{
    strExportCanceled = "Abgebrochen.";
    EXPECT_EQ(LanguageStringById(16), "Abgebrochen.");
    EXPECT_EQ(GetLanguageStringWith(16, nullptr), "Abgebrochen.");
    // A text may hold any bytes, a NUL among them.
    strExporting = std::string("Ex\0port", 7);
    EXPECT_EQ(LanguageStringById(8), std::string("Ex\0port", 7));

    ResetMessageTable();
    EXPECT_EQ(LanguageStringById(16), "Data export was canceled by user.");
    EXPECT_EQ(strExporting, "Exporting...");
}

TEST_F(MessageTableTest, HandlerSeesIdAndDefaultTextAndMayReplaceIt)
{
    std::vector<std::pair<int, std::string>> seen;
    auto record = [&](int id, std::string& text) { seen.emplace_back(id, text); };
    EXPECT_EQ(GetLanguageStringWith(2, record), "The %s file was successfully generated with exported data.");
    EXPECT_EQ(GetLanguageStringWith(48, record), "");
    EXPECT_EQ(GetLanguageStringWith(-1, record), "");
    EXPECT_EQ(GetLanguageStringWith(128, record), "");
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[0], std::make_pair(2, std::string("The %s file was successfully generated with exported data.")));
    EXPECT_EQ(seen[1], std::make_pair(48, std::string()));
    EXPECT_EQ(seen[2], std::make_pair(-1, std::string()));
    EXPECT_EQ(seen[3], std::make_pair(128, std::string()));

    auto replace = [](int id, std::string& text) { text = "#" + std::to_string(id); };
    EXPECT_EQ(GetLanguageStringWith(49, replace), "#49");
    EXPECT_EQ(GetLanguageStringWith(12, replace), "#12");
    // The handler changes only the answer, never the table.
    EXPECT_EQ(strBtnCancel, "&Cancel");
}

} // namespace
