#pragma once
// The suite's text and naming utilities: names for pictures saved before they are
// placed into a document, a dataset's table name, markup escaping, field classes,
// conversion to the DOS (OEM) code page and padding with blanks. They keep no state.
//
// Text is UTF-8 bytes (the system's 8-bit text). A byte that does not belong to a
// valid UTF-8 sequence is taken as a character of the Windows-1252 code page, so text
// that arrives in that older encoding still converts sensibly.

#include "framework/picture.h"

#include <string>

class QObject;
class TField;

// A file name for saving a picture before it is put into a document.
// - FileName not empty: the folder part of FileName (with its trailing delimiter) +
//   "img" + Index ("/out/report.doc", 3 -> "/out/img3" + extension). The folder ends
//   at the system's own delimiter: on POSIX systems only "/".
// - FileName empty: a unique name in the temporary folder, prefix "KVE" and
//   hexadecimal digits. The temporary-file service reserves the name by creating
//   "KVE....tmp", which is deleted at once: the call leaves no file behind, and it
//   never returns a name under which something already exists.
// The extension follows the picture: ".bmp" for a bitmap, ".emf" for an enhanced
// metafile, ".wmf" for another metafile, ".ico" for an icon, ".bmp" for anything else
// and for no picture. The picture is not changed. The caller saves the picture under
// the name and deletes the file when done with it.
std::string GetFileNameByGraphic(const std::string& FileName, int Index, const TPicture* Picture);
std::string GetFileNameByGraphic(const std::string& FileName, int Index, const TPicture& Picture);
std::string GetFileNameByGraphic(const std::string& FileName, int Index, TGraphicKind Kind, bool Enhanced = false);

// For a control (a widget) whose class publishes a property "SelectedRows" holding an
// object, that object (a grid's list of selected-row bookmarks); otherwise none.
QObject* GetPropAsSelectedList(QObject* Component);

// The table name of a dataset, found through its published properties:
// "TableName" (text) when it is not empty; else the statement in "SQL" (an object
// with a "Text" property, or a list of lines): the text after the first "FROM "
// (case-sensitive, when there is one) up to the first delimiter (codes 0..32 and
// " ' ( ) , . / : ; [ \ ] ` { }). Only the part before a "." is returned. Empty
// without a dataset or without either property.
std::string TblName(QObject* DataSet);

// S with markup characters replaced by entities: LF "&car;", CR "&ret;", '"' "&quot;",
// '&' "&amp;", "'" "&apos;", '<' "&lt;", '>' "&gt;", '|' "&brvbar;", and the signs
// ™ "&trade;", © "&copy;", ° "&deg;", ± "&plusmn;", ¶ "&para;". The signs are
// recognised as UTF-8 characters and also as lone Windows-1252 bytes (0x99, 0xA9,
// 0xB0, 0xB1, 0xB6) that are not part of a UTF-8 sequence.
std::string ReplaceHTMLSystemChars(const std::string& S);

// Whether the field holds a number (small, integer, word, float, currency, BCD,
// auto-increment, large integer). False for no field.
bool IsNumericField(const TField* Field);
// Whether the field holds text (string, memo, formatted memo) or is a large-object
// field, graphic fields included. False for no field.
bool IsStringField(const TField* Field);

// The DOS (OEM) code page of the system, following the locale as Windows does: 437
// for US English and the C locale, 850 for Western Europe, 866 for Russian,
// Ukrainian and Belarusian, 852 for Central Europe, 737 for Greek, 857 for Turkish,
// 775 for the Baltic languages, 862 for Hebrew, 437 for any other. The locale is the
// first non-empty of LC_ALL, LC_CTYPE and LANG.
int OemCodePage();
// The OEM code page for a locale name such as "de_DE.UTF-8".
int OemCodePageForLocale(const std::string& LocaleName);

// S converted from the system's text (UTF-8) to the DOS code page: one byte for each
// character, so the result has as many bytes as S has characters (fewer bytes than S
// when S holds characters beyond ASCII). A character with no form in the code page
// becomes "?". ASCII, control characters and NUL bytes are kept. CodePage 0 means
// OemCodePage(); a code page the system cannot convert to raises EConvertError.
std::string StrToOem(const std::string& S, int CodePage = 0);

// StrToOem(S) when ToOem is true, else empty text.
std::string UECode(bool ToOem, const std::string& S);

// S right-aligned (PadLSpace) or left-aligned (PadRSpace) in Width characters: blanks
// are added until S has Width characters; a longer S is returned whole, never cut.
// Characters are counted as in StrToOem.
std::string PadLSpace(const std::string& S, int Width);
std::string PadRSpace(const std::string& S, int Width);
