#pragma once
// Export specification files: a component's reusable settings in a small ".kve" text
// file. The four operations themselves are members of TKVExportBaseComponent
// (SaveSpecificationToStream, LoadSpecificationFromStream, SaveSpecification,
// LoadSpecification); this header offers the pieces other front ends share.
//
// Text is held as UTF-8 and written as the bytes held. A value that is not valid
// UTF-8 comes from a program that writes single-byte Windows text: its bytes outside
// valid UTF-8 sequences are read as Windows-1252, so its accents and its no-break
// space (byte A0) arrive as our characters. Each value is read on its own, and the
// export file's name is kept byte for byte, since on this system a file name is bytes
// and need not be UTF-8.

#include "export/export_component.h"

#include <string>

// The largest specification file read; real ones are a few kilobytes.
inline constexpr long long SpecificationMaxFileSize = 1 << 20;

// The table type's name without its "te" prefix ("Word" for teWord).
std::string TableTypeName(TTableTypeExport Value);
// The table type whose name (without "te") equals Name in any letter case; -1 when
// none does.
int TableTypeByName(const std::string& Name);

// The file filter of the specification dialogs: "Export specification|*.KVE|All
// files (*.*)|*.*".
std::string SpecificationFileFilter();

// Why Text is not a specification the reader can take whole; empty when it is. A
// specification has the "[Common]" section its writer always puts first; a value the
// reader would silently pass over (an integer that does not parse, an ordinal outside
// its enumeration, a flag other than 0 or 1, an unknown table type, a hex value that
// is not pairs of hexadecimal digits) is named with its key. The reader itself keeps
// its lenient rules; front ends that want strictness ask here first.
std::string SpecificationTextProblem(const std::string& Text);

// Whether Text has a line for Key, as the reader finds keys (letter case ignored,
// wherever the line stands). The reader takes a text or flag the file lacks as empty or
// 0; a front end that wants such a setting kept asks here first.
bool SpecificationTextHasKey(const std::string& Text, const std::string& Key);

// Text as the reader takes a value: its valid UTF-8 sequences unchanged, every other
// byte read as a Windows-1252 character.
std::string SpecificationTextToUtf8(const std::string& Text);
