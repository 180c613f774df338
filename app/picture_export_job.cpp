#include "app/picture_export_job.h"

#include "framework/bitmap_reader.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/ui_services.h"

#include <new>

const std::string TPictureExportJob::VendorURL = "https://tabrix.example.org";
const std::string TPictureExportJob::DefaultDocumentName = "tabrix.doc";

std::string TPictureExportJob::HeaderText()
{
    return "Tabrix suite: " + VendorURL + "\r\nPicture exporting\r\n\r\n";
}

TPictureExportJob::TPictureExportJob()
    : KVExportToWord1(new TKVExportToWord())
    , KVEVirtualDataEngine1(new TKVEVirtualDataEngine())
{
    KVExportToWord1->SetName("KVExportToWord1");
    KVEVirtualDataEngine1->SetName("KVEVirtualDataEngine1");

    // The engine feeds the rows from the picture list.
    KVEVirtualDataEngine1->OnFirst = [this](TPersistent* Sender) { KVEVirtualDataEngine1First(Sender); };
    KVEVirtualDataEngine1->OnNext = [this](TPersistent* Sender, bool& Abort) {
        KVEVirtualDataEngine1Next(Sender, Abort);
    };
    KVEVirtualDataEngine1->OnCount = [this](TPersistent* Sender, int& Count) {
        KVEVirtualDataEngine1Count(Sender, Count);
    };
    KVEVirtualDataEngine1->OnFillColumns = [this](TPersistent* Sender) { KVEVirtualDataEngine1FillColumns(Sender); };
    KVEVirtualDataEngine1->OnGetValue = [this](TPersistent* Sender, TKVEColumn* Column, Variant& Value) {
        KVEVirtualDataEngine1GetValue(Sender, Column, Value);
    };

    // The exporter's stored settings.
    TKVExportToWord& w = *KVExportToWord1;
    w.SetDataEngine(KVEVirtualDataEngine1);
    w.ColumnSource = csDataEngine;
    w.Columns().Clear();
    w.SetFileName("Tabrix.DOC");
    w.AddTitle = true;
    w.AnimatedStatus = true;
    w.CharacterSet = csANSI_WINDOWS;
    w.SelectedRecord = false;
    w.BlankIfZero = false;
    w.RightToLeft = false;
    w.ExportStyle().SetStyle(esNormal);
    w.ExportStyle().OddColor = 0;
    w.ExportStyle().EvenColor = 0;
    w.Statistic().TotalCount = 0;
    w.Statistic().Result = erInProgress;
    TKVEDataFormats& f = w.DataFormats();
    f.DateSeparator = "/";
    f.TimeSeparator = ":";
    f.FourDigitYear = true;
    f.LeadingZerosInDate = true;
    f.ThousandSeparator = "\xC2\xA0"; // no-break space
    f.DecimalSeparator = ",";
    f.CurrencyString = "\xD1\x80."; // "р."
    f.BooleanTrue = "True";
    f.BooleanFalse = "False";
    f.UseRegionalSettings = false;
}

TPictureExportJob::~TPictureExportJob()
{
    delete KVExportToWord1;
    delete KVEVirtualDataEngine1;
}

void TPictureExportJob::FormCreate(TPersistent*)
{
    FPictureFiles = std::make_unique<TStringList>();
    KVExportToWord1->SetFileName(ProgramFolder() + DefaultDocumentName);
}

void TPictureExportJob::FormDestroy(TPersistent*)
{
    FPictureFiles.reset();
}

void TPictureExportJob::ExportPictures(const std::vector<std::string>& Files)
{
    if (FRunning)
        throw Exception("The pictures are still being exported; wait until that export has ended");
    struct RunningFlag {
        bool& Flag;
        explicit RunningFlag(bool& F) : Flag(F) { Flag = true; }
        ~RunningFlag() { Flag = false; }
    } running(FRunning);
    if (!FPictureFiles)
        FPictureFiles = std::make_unique<TStringList>();
    FPictureFiles->Clear();
    for (const std::string& file : Files)
        FPictureFiles->Add(file);
    KVExportToWord1->Header().SetText(HeaderText());
    try {
        KVExportToWord1->Execute();
    } catch (const std::bad_alloc&) {
        // The run has failed and closed; what is left to say is which picture it was
        // writing (none once the rows are done: the document's save).
        if (FPictureFiles && FRowIndex >= 0 && FRowIndex < FPictureFiles->Count())
            throw Exception("Not enough memory for the picture file " + CurrentPictureFile());
        throw Exception("Not enough memory to save the document " + KVExportToWord1->FileName() + " with its pictures");
    }
}

void TPictureExportJob::KVEVirtualDataEngine1Count(TPersistent*, int& Count)
{
    Count = FPictureFiles ? FPictureFiles->Count() : 0;
}

void TPictureExportJob::KVEVirtualDataEngine1First(TPersistent*)
{
    FRowIndex = 0;
}

void TPictureExportJob::KVEVirtualDataEngine1Next(TPersistent*, bool&)
{
    ++FRowIndex;
}

void TPictureExportJob::KVEVirtualDataEngine1FillColumns(TPersistent*)
{
    TKVEColumns& columns = KVExportToWord1->Columns();
    columns.Clear();

    TKVEColumn* name = columns.Add();
    name->FieldName = "FileName";
    name->Title().Caption = "Picture filename";
    name->DataType = ctString;
    name->Alignment = taCenter;
    name->Width = 20;

    TKVEColumn* graphic = columns.Add();
    graphic->FieldName = "Graphic";
    graphic->Title().Caption = "Picture";
    graphic->DataType = ctGraphic;
    graphic->Width = 30;
}

void TPictureExportJob::KVEVirtualDataEngine1GetValue(TPersistent*, TKVEColumn* Column, Variant& Value)
{
    if (!Column)
        return;
    // Field names compare exactly, letter case included.
    if (Column->FieldName == "FileName") {
        Value = Variant(ExtractFileName(CurrentPictureFile()));
        return;
    }
    if (Column->FieldName == "Graphic") {
        // The picture is proven whole here, where its file is known, so that a damaged
        // one is reported by its name.
        const std::string& file = CurrentPictureFile();
        std::string bytes = ReadPictureFile(file);
        CheckBitmap(bytes, file);
        Value = Variant(std::move(bytes));
    }
}

const std::string& TPictureExportJob::CurrentPictureFile() const
{
    if (!FPictureFiles)
        throw EListError::OutOfBounds(FRowIndex);
    return FPictureFiles->Strings(FRowIndex);
}

std::string TPictureExportJob::ReadPictureFile(const std::string& FileName)
{
    // Opened without waiting (a named pipe is no picture), examined through the open
    // handle and read whole; the bytes travel unchanged, NUL bytes included.
    try {
        return ReadRegularFile(FileName, MaxPictureFileSize);
    } catch (const std::bad_alloc&) {
        throw Exception("Not enough memory to read the picture file " + FileName);
    }
}
