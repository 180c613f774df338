#include "message_table.h"

// The single list of texts; everything else is generated from it.
#define TABRIX_MESSAGE_TEXTS(X) \
    X(0, strPropertyError, "Property %s is not specified.") \
    X(1, strIsNotDBGrid, "Assigned DBGrid (%s) is not a supported type") \
    X(2, strExportFinished, "The %s file was successfully generated with exported data.") \
    X(3, strExportError, "Error of data export.") \
    X(4, strExportOk, "Data export was successfully completed.") \
    X(5, strFileCreateError, "Could not create the %s file.") \
    X(6, strHTMLTitle, "Data exported by Tabrix generator") \
    X(7, strFilePrompt, "File %s already exists. Do you want to replace it?") \
    X(8, strExporting, "Exporting...") \
    X(9, strLoadError, "Can't create a process dialog") \
    X(10, strSetupDlgCaption, "Data Export Setup") \
    X(11, strBtnOk, "&OK") \
    X(12, strBtnCancel, "&Cancel") \
    X(13, strBtnBack, "< &Back") \
    X(14, strBtnNext, "&Next >") \
    X(15, strExecute, "&Execute") \
    X(16, strExportCanceled, "Data export was canceled by user.") \
    X(17, strKVEWizardCaption, "Export Wizard") \
    X(18, strStepDisplay, "Step %d of %d") \
    X(19, strWizardAbort, "Wizard is incomplete. If you quit the Wizard now, the new export will not be created. Abort wizard?") \
    X(20, strLblStep1, "This wizard allows you to specify details of how to export your data. Which export format would you like?") \
    X(21, strLblStep2, "Specify custom options for data exporting") \
    X(22, strLblStep3, "Select the appropriate delimiter to separate your fields.") \
    X(23, strLblStep5, "You can define custom properties for the exported columns.") \
    X(24, strLblStep6, "You can add a custom header and/or footer.") \
    X(25, strLblStep8, "That's all of the information the wizard needs to export your data.") \
    X(26, strHeader, "Header") \
    X(27, strFooter, "Footer") \
    X(28, strTableType, " Table type ") \
    X(29, strFormat1, "Paradox file (*.db)") \
    X(30, strFormat2, "DBase file (*.dbf)") \
    X(31, strFormat3, "Text file (*.txt)") \
    X(32, strFormat4, "HTML file (*.htm)") \
    X(33, strFormat5, "Excel spreadsheet (*.xls)") \
    X(34, strFormat6, "Excel file (*.xls)") \
    X(35, strFormat7, "Word file (*.doc)") \
    X(36, strFormat8, "SYLK (Symbolic Link) (*.slk)") \
    X(37, strFormat9, "DIF (Data Interchange Format) (*.dif)") \
    X(38, strFormatA, "Lotus 1-2-3 file (*.wk1)") \
    X(39, strFormatB, "QuattroPro file (*.wq1)") \
    X(40, strFormatC, "SQL script file (*.sql)") \
    X(41, strFormatD, "XML file (*.xml)") \
    X(42, strFormatE, "MS Access database (*.mdb)") \
    X(43, strFormatF, "MS Windows clipboard") \
    X(44, strFormatG, "Rich Text format (*.rtf)") \
    X(45, strFormatH, "SPSS format (*.sav)") \
    X(46, strFormatI, "Adobe Acrobat Document (*.pdf)") \
    X(47, strFormatJ, "LDAP DataInterchangeFormat (*.ldif)") \
    X(50, strFileOrigin, "File Origin:") \
    X(51, strSelectedOnly, "Selected records only") \
    X(52, strAddCaption, "Include column titles") \
    X(53, strAddTitle, "Put field titles on the first row") \
    X(54, strBlankIfZero, "Blank if zero") \
    X(55, strActionAfterExport, "Action after exporting") \
    X(56, strAENone, "None") \
    X(57, strAEOpenView, "open for file view") \
    X(58, strAEEMail, "e-mail with file attachment") \
    X(59, strSeparatorType, " Field delimiter ") \
    X(60, strDelimiter1, "Tab") \
    X(61, strDelimiter2, "Semicolon") \
    X(62, strDelimiter3, "Comma") \
    X(63, strDelimiter4, "Space") \
    X(64, strDelimiter5, "Other symbol:") \
    X(65, strFixed, "Fixed column length") \
    X(66, strText1, "&Delimited - Characters such as commas or tabs separate each field") \
    X(67, strText2, "Fixed &Width - Fields are aligned in columns with spaces between each field") \
    X(68, strFileName, "Export to a File:") \
    X(69, strSaveDlgTitle, "Export to") \
    X(70, strAllFiles, "All files (*.*)|*.*") \
    X(71, strTableName, "Table name:") \
    X(72, SgbTitle, " Title ") \
    X(73, SgbData, " Data ") \
    X(74, STitleCaption, "Caption:") \
    X(75, STitleAlignment, "Alignment:") \
    X(76, STitleColor, "Background:") \
    X(77, STitleFont, "Font:") \
    X(78, SWidth, "Width:") \
    X(79, SWidthFix, "characters") \
    X(80, SAlignLeft, "left") \
    X(81, SAlignRight, "right") \
    X(82, SAlignCenter, "center") \
    X(83, strESpecs, "Specifications...") \
    X(84, strERecordSeparator, "Record separator:") \
    X(85, strETextQualifier, "Text qualifier:") \
    X(86, strENone, "none") \
    X(87, strERowsPerFile, "Records per each file") \
    X(88, strLblStep7, "You can select desired layout of exported data") \
    X(89, strLayout, " Layout ") \
    X(90, strColumnar, "columnar") \
    X(91, strReversedColumnar, "reversed columnar") \
    X(92, strTabularForm, "tabular form") \
    X(93, strColorStyle, "Color Style:") \
    X(94, strSelectAll, "Select &All") \
    X(95, strUnSelectAll, "&Unselect All") \
    X(96, strRevertSelection, "&Revert selection") \
    X(97, strAddBlankRow, "add a blank row after field names") \
    X(98, strPreviewLayout, "Preview") \
    X(99, strDateNumFormat, " Dates, Times and Numbers ") \
    X(100, strDateOrder, "Date &Order:") \
    X(101, strMDY, "MDY") \
    X(102, strDMY, "DMY") \
    X(103, strYMD, "YMD") \
    X(104, strYDM, "YDM") \
    X(105, strDYM, "DYM") \
    X(106, strMYD, "MYD") \
    X(107, strDateDelimiter, "Date De&limiter:") \
    X(108, strTimeDelimiter, "Time Deli&miter:") \
    X(109, strFourDigitYears, "Four Digit &Years") \
    X(110, strLeadingZerosInDate, "Leading &Zeros in Dates") \
    X(111, strDecimalSymbol, "Decimal Sym&bol:") \
    X(112, strThousandSymbol, "&Thousand Separator:") \
    X(113, strCurrencyString, "&Currency Symbol:") \
    X(114, strLogicalValues, "Logical values:") \
    X(115, strLblStep4, "You can define any custom data formats.") \
    X(116, strMergeFile, "Merge existing file") \
    X(117, strStepHeader1, "File Format") \
    X(118, strStepHeader2, "Data Origin") \
    X(119, strStepHeader3, "Text Settings") \
    X(120, strStepHeader4, "Data Formats") \
    X(121, strStepHeader5, "Columns") \
    X(122, strStepHeader6, "Header and Footer") \
    X(123, strStepHeader7, "Layout") \
    X(124, strStepHeader8, "File Name") \
    X(125, strExportColorsFonts, "export data and colors/fonts") \
    X(126, strExportDataOnly, "export data only") \
    X(127, strExportOriginalValueTypes, "export the original value types") \
    X(-1, strExportStart, "Do you want to start the export process?") \
    X(-1, strFileOverwrite, "%s file exists. To overwrite this file?") \
    X(-1, strESpecCaption, "Export specification") \
    X(-1, strESpecPrompt, "List of available specifications:") \
    X(-1, strELoad, "Load") \
    X(-1, strESave, "Save") \
    X(-1, strEDelete, "Delete") \
    X(-1, strEClose, "Close") \
    X(-1, strEDeleteSpecPrompt, "Delete import specification %s?") \
    X(-1, strTrue, "True") \
    X(-1, strFalse, "False") \
    X(-1, strField, "Field") \
    X(-1, strTextFieldName, "Text") \

#define TABRIX_DEFINE_TEXT(Id, Name, Text) std::string Name = Text;
TABRIX_MESSAGE_TEXTS(TABRIX_DEFINE_TEXT)
#undef TABRIX_DEFINE_TEXT

// Constant-initialised (only addresses and literals), so it is usable while other
// translation units are still being initialised.
#define TABRIX_TABLE_ENTRY(Id, Name, Text) TMessageTableEntry{Id, #Name, &Name, Text},
constexpr std::array<TMessageTableEntry, MessageTableSize> MessageTable = {{
    TABRIX_MESSAGE_TEXTS(TABRIX_TABLE_ENTRY)
}};
#undef TABRIX_TABLE_ENTRY

namespace {

constexpr int IdCount = LanguageStringMaxId - LanguageStringMinId + 1;

// Position in MessageTable of the text of each id, -1 where an id names none.
constexpr std::array<int, IdCount> BuildIdIndex()
{
    std::array<int, IdCount> index{};
    index.fill(-1);
    for (std::size_t i = 0; i < MessageTable.size(); ++i) {
        const int id = MessageTable[i].Id;
        if (id >= LanguageStringMinId && id <= LanguageStringMaxId)
            index[static_cast<std::size_t>(id - LanguageStringMinId)] = static_cast<int>(i);
    }
    return index;
}

constexpr std::array<int, IdCount> IdIndex = BuildIdIndex();

constexpr bool IdsAreUniqueAndInRange()
{
    int withId = 0;
    for (std::size_t i = 0; i < MessageTable.size(); ++i) {
        const int id = MessageTable[i].Id;
        if (id == -1)
            continue;
        if (id < LanguageStringMinId || id > LanguageStringMaxId)
            return false;
        if (IdIndex[static_cast<std::size_t>(id - LanguageStringMinId)] != static_cast<int>(i))
            return false; // the same id twice
        ++withId;
    }
    return withId == 126;
}

static_assert(IdsAreUniqueAndInRange(), "every id 0..127 except 48 and 49 names exactly one text");
static_assert(IdIndex[48] == -1 && IdIndex[49] == -1, "ids 48 and 49 name no text");

} // namespace

std::string* LanguageStringVariable(int Id)
{
    if (Id < LanguageStringMinId || Id > LanguageStringMaxId)
        return nullptr;
    const int pos = IdIndex[static_cast<std::size_t>(Id - LanguageStringMinId)];
    return pos < 0 ? nullptr : MessageTable[static_cast<std::size_t>(pos)].Text;
}

std::string LanguageStringById(int Id)
{
    const std::string* text = LanguageStringVariable(Id);
    return text ? *text : std::string();
}

std::string GetLanguageStringWith(int Id, const std::function<void(int, std::string&)>& Handler)
{
    std::string text = LanguageStringById(Id);
    if (Handler)
        Handler(Id, text);
    return text;
}

void ResetMessageTable()
{
    for (const TMessageTableEntry& entry : MessageTable)
        *entry.Text = entry.DefaultText;
}
