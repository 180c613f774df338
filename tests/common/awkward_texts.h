#pragma once
// The texts every text-like target must carry whole (separators, qualifiers, line
// breaks, leading zeros, a formula, non-ASCII, an emoji, blanks, an empty text), with
// the helpers for reading a target back through another program.

#include "export/export_component.h"
#include "framework/data_set.h"
#include "tests/common/shell.h"

#include <cstdio>
#include <string>
#include <vector>

inline const std::vector<std::string> Awkward = {
    "plain", "a,b;c\td|e", "say \"hi\" 'there'", "line1\nline2\r\nline3", "007", "=1+1", "Zoë Ünïcödé", "🎉 emoji",
    " padded ", "",
};

// DataSet with the fields Text and No: each awkward text beside its number, then a
// record of nulls; positioned on the first record.
inline void AddAwkwardRecords(TMemoryDataSet& DataSet)
{
    DataSet.AddField("Text", ftString, 100);
    DataSet.AddField("No", ftInteger);
    for (std::size_t i = 0; i < Awkward.size(); ++i)
        DataSet.AppendRecord({Variant(Awkward[i]), Variant(static_cast<int>(i))});
    DataSet.AppendRecord({Variant::Null(), Variant::Null()});
    DataSet.First();
}

// Exporter reading DataSet without a progress window or a message box.
inline void ExportQuietlyFrom(TKVExportBaseComponent& Exporter, TDataSet& DataSet)
{
    Exporter.AnimatedStatus = false;
    Exporter.Options.Exclude(soShowMessage);
    Exporter.ColumnSource = csDataSet;
    Exporter.SetDataSet(&DataSet);
}
