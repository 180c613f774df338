// Writes an XlWorkbook as an Office Open XML workbook (.xlsx).

#include "platform/automation/excel/excel_workbook.h"

#include "framework/files.h"
#include "platform/automation/word/word_text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <zip.h>

#include <cstdio>

namespace {

const char* const XmlHead = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
const char* const MainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const char* const RelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const char* const PkgRelNs = "http://schemas.openxmlformats.org/package/2006/relationships";

std::string Attr(std::string_view text)
{
    std::string out;
    AppendXmlAttrText(out, text);
    return out;
}

std::string Letters(int n)
{
    std::string name;
    while (n > 0) {
        name.insert(name.begin(), static_cast<char>('A' + (n - 1) % 26));
        n = (n - 1) / 26;
    }
    return name;
}

std::string Inches(double points)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4f", points / 72.0);
    return buf;
}

// Header and footer texts use "&" as the start of their codes.
std::string HeaderText(const std::string& text)
{
    std::string out;
    for (char ch : text) {
        if (ch == '&') out += "&&";
        else if (ch != '\r') out += ch;
    }
    return out;
}

class ZipPackage {
public:
    explicit ZipPackage(const std::string& fileName) : FName(fileName)
    {
        int error = 0;
        FZip = zip_open(fileName.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
        if (!FZip) {
            zip_error_t ze;
            zip_error_init_with_code(&ze, error);
            std::string msg = zip_error_strerror(&ze);
            zip_error_fini(&ze);
            throw EFOpenError("Cannot create '" + fileName + "': " + msg);
        }
    }
    ~ZipPackage()
    {
        if (FZip) zip_discard(FZip);
    }
    void AddText(const std::string& name, std::string text)
    {
        FTexts.push_back(std::make_unique<std::string>(std::move(text)));
        const std::string& t = *FTexts.back();
        Add(name, zip_source_buffer(FZip, t.data(), t.size(), 0));
    }
    void AddFile(const std::string& name, const std::string& file, int64_t offset = 0, int64_t size = -1)
    {
        Add(name, zip_source_file(FZip, file.c_str(), static_cast<zip_uint64_t>(offset), size));
    }
    void Close()
    {
        if (zip_close(FZip) != 0) {
            std::string msg = zip_strerror(FZip);
            throw EStreamError("Cannot write '" + FName + "': " + msg);
        }
        FZip = nullptr;
    }

private:
    void Add(const std::string& name, zip_source_t* src)
    {
        if (!src) throw EStreamError("Cannot add '" + name + "' to '" + FName + "': " + zip_strerror(FZip));
        zip_int64_t idx = zip_file_add(FZip, name.c_str(), src, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
        if (idx < 0) {
            zip_source_free(src);
            throw EStreamError("Cannot add '" + name + "' to '" + FName + "': " + zip_strerror(FZip));
        }
        // Fast deflate: the rows are the bulk of a workbook and compress well anyway.
        zip_set_file_compression(FZip, static_cast<zip_uint64_t>(idx), ZIP_CM_DEFLATE, 1);
    }
    std::string FName;
    zip_t* FZip = nullptr;
    std::vector<std::unique_ptr<std::string>> FTexts;
};

std::string SheetHead(const XlSheet& sheet, bool active)
{
    std::string x = XmlHead;
    x += std::string("<worksheet xmlns=\"") + MainNs + "\" xmlns:r=\"" + RelNs + "\">";
    x += "<dimension ref=\"A1";
    if (sheet.LastRow() > 0 && sheet.LastCol() > 0) x += ":" + Letters(sheet.LastCol()) + std::to_string(sheet.LastRow());
    x += "\"/>";
    x += "<sheetViews><sheetView workbookViewId=\"0\"";
    if (active) x += " tabSelected=\"1\"";
    x += ">";
    if (sheet.FreezeRows > 0 || sheet.FreezeCols > 0) {
        const std::string topLeft = Letters(sheet.FreezeCols + 1) + std::to_string(sheet.FreezeRows + 1);
        const char* pane = sheet.FreezeRows > 0 && sheet.FreezeCols > 0 ? "bottomRight"
            : sheet.FreezeRows > 0                                      ? "bottomLeft"
                                                                        : "topRight";
        x += "<pane";
        if (sheet.FreezeCols > 0) x += " xSplit=\"" + std::to_string(sheet.FreezeCols) + "\"";
        if (sheet.FreezeRows > 0) x += " ySplit=\"" + std::to_string(sheet.FreezeRows) + "\"";
        x += " topLeftCell=\"" + topLeft + "\" activePane=\"" + pane + "\" state=\"frozen\"/>";
        x += std::string("<selection pane=\"") + pane + "\" activeCell=\"" + topLeft + "\" sqref=\"" + topLeft
            + "\"/>";
    }
    x += "</sheetView></sheetViews><sheetFormatPr defaultRowHeight=\"15\"/>";
    bool cols = false;
    for (const auto& [c, column] : sheet.Columns()) {
        if (column.Width < 0 && !column.Hidden && column.Style == 0) continue;
        if (!cols) x += "<cols>";
        cols = true;
        x += "<col min=\"" + std::to_string(c) + "\" max=\"" + std::to_string(c) + "\" width=\"";
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.4g", column.Width < 0 ? 8.43 : column.Width);
        x += buf;
        x += "\"";
        if (column.Style) x += " style=\"" + std::to_string(column.Style) + "\"";
        if (column.Hidden) x += " hidden=\"1\"";
        if (column.Width >= 0) x += " customWidth=\"1\"";
        x += "/>";
    }
    if (cols) x += "</cols>";
    x += "<sheetData>";
    return x;
}

std::string SheetTail(const XlSheet& sheet, bool drawing)
{
    std::string x = "</sheetData>";
    if (sheet.Protected)
        x += "<sheetProtection algorithmName=\"SHA-512\" hashValue=\"" + sheet.HashValue + "\" saltValue=\""
            + sheet.SaltValue + "\" spinCount=\"" + std::to_string(sheet.SpinCount)
            + "\" sheet=\"1\" objects=\"1\" scenarios=\"1\"/>";
    x += "<pageMargins left=\"" + Inches(sheet.LeftMargin) + "\" right=\"" + Inches(sheet.RightMargin) + "\" top=\""
        + Inches(sheet.TopMargin) + "\" bottom=\"" + Inches(sheet.BottomMargin)
        + "\" header=\"0.3\" footer=\"0.3\"/>";
    if (sheet.Orientation)
        x += std::string("<pageSetup orientation=\"") + (sheet.Orientation == 2 ? "landscape" : "portrait") + "\"/>";
    if (!sheet.LeftHeader.empty() || !sheet.LeftFooter.empty()) {
        x += "<headerFooter>";
        if (!sheet.LeftHeader.empty()) {
            x += "<oddHeader>";
            AppendXmlAttrText(x, "&L" + HeaderText(sheet.LeftHeader));
            x += "</oddHeader>";
        }
        if (!sheet.LeftFooter.empty()) {
            x += "<oddFooter>";
            AppendXmlAttrText(x, "&L" + HeaderText(sheet.LeftFooter));
            x += "</oddFooter>";
        }
        x += "</headerFooter>";
    }
    if (drawing) x += "<drawing r:id=\"rId1\"/>";
    x += "</worksheet>";
    return x;
}

} // namespace

void XlWorkbook::SaveXlsx(const std::string& fileName)
{
    const QFileInfo target(QString::fromStdString(fileName));
    const QString folder = target.absolutePath();
    if (!QFileInfo(folder).isDir()) throw EFOpenError("Cannot create file \"" + fileName + "\": no such folder");
    QTemporaryFile temp(folder + "/.~" + target.fileName() + "-XXXXXX.tmp");
    temp.setAutoRemove(true);
    if (!temp.open()) throw EFOpenError("Cannot create file \"" + fileName + "\": " + temp.errorString().toStdString());
    temp.close();
    // The new file gets the permissions of the one it replaces, else the usual ones.
    temp.setPermissions(target.exists() ? QFile::permissions(target.absoluteFilePath())
                                        : QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    const std::string tempName = temp.fileName().toStdString();

    std::vector<std::unique_ptr<QTemporaryFile>> sheetFiles;
    {
        ZipPackage zip(tempName);
        std::string types = std::string(XmlHead)
            + "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
              "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
              "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
              "<Default Extension=\"png\" ContentType=\"image/png\"/>"
              "<Override PartName=\"/xl/workbook.xml\" "
              "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
              "<Override PartName=\"/xl/styles.xml\" "
              "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>";
        std::string book = std::string(XmlHead) + "<workbook xmlns=\"" + MainNs + "\" xmlns:r=\"" + RelNs
            + "\"><bookViews><workbookView activeTab=\"" + std::to_string(Active) + "\"/></bookViews><sheets>";
        std::string bookRels = std::string(XmlHead) + "<Relationships xmlns=\"" + PkgRelNs + "\">";
        int drawings = 0;
        for (std::size_t i = 0; i < Sheets.size(); ++i) {
            XlSheet& sheet = *Sheets[i];
            const std::string n = std::to_string(i + 1);
            types += "<Override PartName=\"/xl/worksheets/sheet" + n
                + ".xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
            book += "<sheet name=\"" + Attr(sheet.Name) + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
            bookRels += "<Relationship Id=\"rId" + n + "\" Type=\"" + RelNs + "/worksheet\" Target=\"worksheets/sheet"
                + n + ".xml\"/>";

            const std::string rows = sheet.FinishRows();
            const bool drawing = !sheet.Pictures.empty();
            auto file = std::make_unique<QTemporaryFile>(QDir::tempPath() + "/tabrix-part-XXXXXX.xml");
            if (!file->open()) throw EStreamError("Cannot create a temporary file for sheet '" + sheet.Name + "'");
            const std::string head = SheetHead(sheet, static_cast<int>(i) == Active);
            const std::string tail = SheetTail(sheet, drawing);
            bool ok = file->write(head.data(), static_cast<qint64>(head.size())) == static_cast<qint64>(head.size());
            QFile spool(QString::fromStdString(rows));
            ok = ok && spool.open(QIODevice::ReadOnly);
            std::string chunk(1 << 20, '\0');
            while (ok) {
                const qint64 got = spool.read(chunk.data(), static_cast<qint64>(chunk.size()));
                if (got < 0) ok = false;
                if (got <= 0) break;
                ok = file->write(chunk.data(), got) == got;
            }
            ok = ok && file->write(tail.data(), static_cast<qint64>(tail.size())) == static_cast<qint64>(tail.size());
            ok = ok && file->flush();
            if (!ok) throw EStreamError("Cannot write sheet '" + sheet.Name + "' to the temporary folder");
            zip.AddFile("xl/worksheets/sheet" + n + ".xml", file->fileName().toStdString());
            sheetFiles.push_back(std::move(file));

            if (drawing) {
                const std::string d = std::to_string(++drawings);
                types += "<Override PartName=\"/xl/drawings/drawing" + d
                    + ".xml\" ContentType=\"application/vnd.openxmlformats-officedocument.drawing+xml\"/>";
                zip.AddText("xl/worksheets/_rels/sheet" + n + ".xml.rels",
                            std::string(XmlHead) + "<Relationships xmlns=\"" + PkgRelNs
                                + "\"><Relationship Id=\"rId1\" Type=\"" + RelNs
                                + "/drawing\" Target=\"../drawings/drawing" + d + ".xml\"/></Relationships>");
                std::string dx = std::string(XmlHead)
                    + "<xdr:wsDr xmlns:xdr=\"http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing\" "
                      "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" xmlns:r=\""
                    + RelNs + "\">";
                std::string dr = std::string(XmlHead) + "<Relationships xmlns=\"" + PkgRelNs + "\">";
                int id = 0;
                for (const XlPicture& p : sheet.Pictures) {
                    const WordPicture& pic = PictureStore().Picture(p.Index);
                    const std::string k = std::to_string(++id);
                    dx += "<xdr:oneCellAnchor><xdr:from><xdr:col>" + std::to_string(p.Col - 1)
                        + "</xdr:col><xdr:colOff>0</xdr:colOff><xdr:row>" + std::to_string(p.Row - 1)
                        + "</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:from><xdr:ext cx=\""
                        + std::to_string(int64_t(pic.PixelWidth) * 9525) + "\" cy=\""
                        + std::to_string(int64_t(pic.PixelHeight) * 9525)
                        + "\"/><xdr:pic><xdr:nvPicPr><xdr:cNvPr id=\"" + std::to_string(id + 1) + "\" name=\"Picture "
                        + k + "\"/><xdr:cNvPicPr><a:picLocks noChangeAspect=\"1\"/></xdr:cNvPicPr></xdr:nvPicPr>"
                          "<xdr:blipFill><a:blip r:embed=\"rId" + k
                        + "\"/><a:stretch><a:fillRect/></a:stretch></xdr:blipFill><xdr:spPr><a:xfrm><a:off x=\"0\" "
                          "y=\"0\"/><a:ext cx=\""
                        + std::to_string(int64_t(pic.PixelWidth) * 9525) + "\" cy=\""
                        + std::to_string(int64_t(pic.PixelHeight) * 9525)
                        + "\"/></a:xfrm><a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></xdr:spPr></xdr:pic>"
                          "<xdr:clientData/></xdr:oneCellAnchor>";
                    dr += "<Relationship Id=\"rId" + k + "\" Type=\"" + RelNs + "/image\" Target=\"../media/image"
                        + std::to_string(p.Index + 1) + ".png\"/>";
                }
                zip.AddText("xl/drawings/drawing" + d + ".xml", dx + "</xdr:wsDr>");
                zip.AddText("xl/drawings/_rels/drawing" + d + ".xml.rels", dr + "</Relationships>");
            }
        }
        if (FPictures) {
            const std::string spool = FPictures->SpoolFileName();
            for (int i = 0; i < FPictures->Count(); ++i) {
                const WordPicture& pic = FPictures->Picture(i);
                zip.AddFile("xl/media/image" + std::to_string(i + 1) + ".png", spool, pic.Offset, pic.Size);
            }
        }
        const std::string styles = std::to_string(Sheets.size() + 1);
        bookRels += "<Relationship Id=\"rId" + styles + "\" Type=\"" + RelNs
            + "/styles\" Target=\"styles.xml\"/></Relationships>";
        zip.AddText("[Content_Types].xml", types + "</Types>");
        zip.AddText("_rels/.rels", std::string(XmlHead) + "<Relationships xmlns=\"" + PkgRelNs
                                       + "\"><Relationship Id=\"rId1\" Type=\"" + RelNs
                                       + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
        zip.AddText("xl/workbook.xml", book + "</sheets></workbook>");
        zip.AddText("xl/_rels/workbook.xml.rels", bookRels);
        zip.AddText("xl/styles.xml", Styles.Xml());
        zip.Close();
    }
    if (std::rename(tempName.c_str(), fileName.c_str()) != 0)
        throw EFOpenError("Cannot create file \"" + fileName + "\": the finished workbook could not replace it");
    temp.setAutoRemove(false);
}
