#pragma once
// Quattro Pro worksheets (.WQ1) on the cell-file pipeline. Quattro Pro for DOS keeps the
// Lotus 1-2-3 release 2 record layout and cell records (see lotus_exporter.h) and tells
// its files apart by the BOF record's version, 0x5120; the limits are the same.

#include "cellfile/lotus_exporter.h"

class TKVExportToQuattro : public TKVExportToWKS {
    Q_OBJECT
public:
    explicit TKVExportToQuattro(QObject* AOwner = nullptr) : TKVExportToWKS(AOwner) { SetTableType(teQuattro); }

    std::string Extension() override { return ".WQ1"; }

protected:
    int FileVersion() const override { return 0x5120; }
    std::string FormatName() const override { return "a Quattro Pro worksheet"; }
};
