#pragma once
// The message table: every text the suite shows or writes on its own (messages,
// dialog captions, format names, the default boolean texts) as process-wide string
// variables holding the English texts. Assigning a variable changes that text for
// every later use in the process. Texts may hold "%s" / "%d" placeholders that the
// caller fills (FormatMessage) and "&" accelerator marks for captions.
//
// 126 of the texts are reachable by a number, 0..127 (48 and 49 name no text); the
// other 13 are read directly by the code that needs them.

#include <array>
#include <functional>
#include <string>

// The suite's title: progress window caption, default mail subject, sheet name.
inline constexpr char GeneratorVer[] = "Tabrix 4.61";

extern std::string strPropertyError;            // 0
extern std::string strIsNotDBGrid;              // 1
extern std::string strExportFinished;           // 2
extern std::string strExportError;              // 3
extern std::string strExportOk;                 // 4
extern std::string strFileCreateError;          // 5
extern std::string strHTMLTitle;                // 6
extern std::string strFilePrompt;               // 7
extern std::string strExporting;                // 8
extern std::string strLoadError;                // 9
extern std::string strSetupDlgCaption;          // 10
extern std::string strBtnOk;                    // 11
extern std::string strBtnCancel;                // 12
extern std::string strBtnBack;                  // 13
extern std::string strBtnNext;                  // 14
extern std::string strExecute;                  // 15
extern std::string strExportCanceled;           // 16
extern std::string strKVEWizardCaption;         // 17
extern std::string strStepDisplay;              // 18
extern std::string strWizardAbort;              // 19
extern std::string strLblStep1;                 // 20
extern std::string strLblStep2;                 // 21
extern std::string strLblStep3;                 // 22
extern std::string strLblStep5;                 // 23
extern std::string strLblStep6;                 // 24
extern std::string strLblStep8;                 // 25
extern std::string strHeader;                   // 26
extern std::string strFooter;                   // 27
extern std::string strTableType;                // 28
extern std::string strFormat1;                  // 29
extern std::string strFormat2;                  // 30
extern std::string strFormat3;                  // 31
extern std::string strFormat4;                  // 32
extern std::string strFormat5;                  // 33
extern std::string strFormat6;                  // 34
extern std::string strFormat7;                  // 35
extern std::string strFormat8;                  // 36
extern std::string strFormat9;                  // 37
extern std::string strFormatA;                  // 38
extern std::string strFormatB;                  // 39
extern std::string strFormatC;                  // 40
extern std::string strFormatD;                  // 41
extern std::string strFormatE;                  // 42
extern std::string strFormatF;                  // 43
extern std::string strFormatG;                  // 44
extern std::string strFormatH;                  // 45
extern std::string strFormatI;                  // 46
extern std::string strFormatJ;                  // 47
extern std::string strFileOrigin;               // 50
extern std::string strSelectedOnly;             // 51
extern std::string strAddCaption;               // 52
extern std::string strAddTitle;                 // 53
extern std::string strBlankIfZero;              // 54
extern std::string strActionAfterExport;        // 55
extern std::string strAENone;                   // 56
extern std::string strAEOpenView;               // 57
extern std::string strAEEMail;                  // 58
extern std::string strSeparatorType;            // 59
extern std::string strDelimiter1;               // 60
extern std::string strDelimiter2;               // 61
extern std::string strDelimiter3;               // 62
extern std::string strDelimiter4;               // 63
extern std::string strDelimiter5;               // 64
extern std::string strFixed;                    // 65
extern std::string strText1;                    // 66
extern std::string strText2;                    // 67
extern std::string strFileName;                 // 68
extern std::string strSaveDlgTitle;             // 69
extern std::string strAllFiles;                 // 70
extern std::string strTableName;                // 71
extern std::string SgbTitle;                    // 72
extern std::string SgbData;                     // 73
extern std::string STitleCaption;               // 74
extern std::string STitleAlignment;             // 75
extern std::string STitleColor;                 // 76
extern std::string STitleFont;                  // 77
extern std::string SWidth;                      // 78
extern std::string SWidthFix;                   // 79
extern std::string SAlignLeft;                  // 80
extern std::string SAlignRight;                 // 81
extern std::string SAlignCenter;                // 82
extern std::string strESpecs;                   // 83
extern std::string strERecordSeparator;         // 84
extern std::string strETextQualifier;           // 85
extern std::string strENone;                    // 86
extern std::string strERowsPerFile;             // 87
extern std::string strLblStep7;                 // 88
extern std::string strLayout;                   // 89
extern std::string strColumnar;                 // 90
extern std::string strReversedColumnar;         // 91
extern std::string strTabularForm;              // 92
extern std::string strColorStyle;               // 93
extern std::string strSelectAll;                // 94
extern std::string strUnSelectAll;              // 95
extern std::string strRevertSelection;          // 96
extern std::string strAddBlankRow;              // 97
extern std::string strPreviewLayout;            // 98
extern std::string strDateNumFormat;            // 99
extern std::string strDateOrder;                // 100
extern std::string strMDY;                      // 101
extern std::string strDMY;                      // 102
extern std::string strYMD;                      // 103
extern std::string strYDM;                      // 104
extern std::string strDYM;                      // 105
extern std::string strMYD;                      // 106
extern std::string strDateDelimiter;            // 107
extern std::string strTimeDelimiter;            // 108
extern std::string strFourDigitYears;           // 109
extern std::string strLeadingZerosInDate;       // 110
extern std::string strDecimalSymbol;            // 111
extern std::string strThousandSymbol;           // 112
extern std::string strCurrencyString;           // 113
extern std::string strLogicalValues;            // 114
extern std::string strLblStep4;                 // 115
extern std::string strMergeFile;                // 116
extern std::string strStepHeader1;              // 117
extern std::string strStepHeader2;              // 118
extern std::string strStepHeader3;              // 119
extern std::string strStepHeader4;              // 120
extern std::string strStepHeader5;              // 121
extern std::string strStepHeader6;              // 122
extern std::string strStepHeader7;              // 123
extern std::string strStepHeader8;              // 124
extern std::string strExportColorsFonts;        // 125
extern std::string strExportDataOnly;           // 126
extern std::string strExportOriginalValueTypes; // 127
// Texts without an id, read directly by the code that needs them.
extern std::string strExportStart;
extern std::string strFileOverwrite;
extern std::string strESpecCaption;
extern std::string strESpecPrompt;
extern std::string strELoad;
extern std::string strESave;
extern std::string strEDelete;
extern std::string strEClose;
extern std::string strEDeleteSpecPrompt;
extern std::string strTrue;
extern std::string strFalse;
extern std::string strField;
extern std::string strTextFieldName;

// The id space of LanguageStringById.
inline constexpr int LanguageStringMinId = 0;
inline constexpr int LanguageStringMaxId = 127;

// One text of the table: its id (-1 for a text without one), the variable's name,
// the variable itself and the English text it starts with.
struct TMessageTableEntry {
    int Id;
    const char* Name;
    std::string* Text;
    const char* DefaultText;
};

inline constexpr std::size_t MessageTableSize = 139;

// Every text: ids 0..127 in order (without 48 and 49), then the 13 without an id.
extern const std::array<TMessageTableEntry, MessageTableSize> MessageTable;

// The variable that an id names, or nullptr (48, 49, and ids outside 0..127).
std::string* LanguageStringVariable(int Id);

// The current value of the variable that Id names; empty text when it names none.
std::string LanguageStringById(int Id);

// LanguageStringById(Id), then Handler (when set) sees the id and that text and may
// replace it; the result is the text afterwards. This is the lookup of a component
// that has a language-string event.
std::string GetLanguageStringWith(int Id, const std::function<void(int, std::string&)>& Handler);

// Puts every variable back to its English text.
void ResetMessageTable();
