// The native word processor under load, through the automation bridge:
//   - 100 (and 200) pictures of 640 x 480, 24-bit BMP, into a two-column table, saved as
//     .docx, against python-docx building the same document;
//   - 100,000 rows x 5 text cells, saved as .docx and as RTF (.doc).
// Each export runs in a child process of its own, so that its wall time and peak memory
// (maximum resident set size, from wait4) are its alone.
//
// usage: bench_word_server_bench [--pictures N] [--rows N] [--python PATH]

#include "platform/automation/automation.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

void MakePictures(const std::string& dir, int count)
{
    for (int i = 0; i < count; ++i) {
        std::string name = dir + "/pic" + std::to_string(i) + ".bmp";
        if (std::filesystem::exists(name)) continue;
        QImage image(640, 480, QImage::Format_RGB888);
        for (int y = 0; y < 480; ++y) {
            uchar* line = image.scanLine(y);
            for (int x = 0; x < 640; ++x) { // a photo-like gradient with some texture, distinct per picture
                line[x * 3] = static_cast<uchar>((x + i * 7) & 255);
                line[x * 3 + 1] = static_cast<uchar>((y * 2 + i * 13) & 255);
                line[x * 3 + 2] = static_cast<uchar>(((x ^ y) + i) & 255);
            }
        }
        if (!image.save(QString::fromStdString(name), "BMP")) {
            std::fprintf(stderr, "cannot write %s\n", name.c_str());
            std::exit(2);
        }
    }
}

void Line(AutomationValue& doc, const std::string& text)
{
    doc.Call("Range").Call("ParagraphFormat").Put("Alignment", 0);
    AutomationValue t = text;
    doc.Call("Range").Call("InsertAfter", {ByRef(t)});
    doc.Call("Range").Call("InsertParagraphAfter");
}

AutomationValue AddTable(AutomationValue& doc, int cols)
{
    int start = doc.Call("Content").Call("End").ToInteger() - 1;
    AutomationValue where = doc.Call("Range", {start, start});
    AutomationValue table = doc.Call("Range").Call("Tables").Call(
        "Add", {Named("Range", where), Named("NumRows", 1), Named("NumColumns", cols)});
    for (int i : {-2, -4, -6, -1, -3, -5}) table.Call("Borders").Call("Item", {i}).Put("LineStyle", 1);
    return table;
}

void TextCell(AutomationValue& table, int row, int col, const std::string& text)
{
    AutomationValue r = row;
    AutomationValue range = table.Call("Cell", {ByRef(r), col}).Call("Range");
    if (!(range.Call("ParagraphFormat").Call("Alignment") == 0)) range.Call("ParagraphFormat").Put("Alignment", 0);
    AutomationValue t = text;
    range.Call("InsertAfter", {ByRef(t)});
}

void Finish(AutomationValue& app, AutomationValue& doc, const std::string& out)
{
    Line(doc, "Footer");
    AutomationValue name = out;
    doc.Call("SaveAs", {ByRef(name)});
    doc.Call("Close");
    app.Call("Quit");
}

int ChildPictures(const std::string& dir, int count, const std::string& out)
{
    AutomationValue app = CreateAutomationObject("Word.Application");
    app.Call("Documents").Call("Add");
    AutomationValue doc = app.Call("ActiveDocument");
    for (const char* l : {"Tabrix 4.61", "Pictures", ""}) Line(doc, l);
    AutomationValue table = AddTable(doc, 2);
    table.Call("Rows").Call("Add");
    TextCell(table, 1, 1, "Picture filename");
    TextCell(table, 1, 2, "Picture");
    for (int i = 0; i < count; ++i) {
        table.Call("Rows").Call("Add");
        std::string file = dir + "/pic" + std::to_string(i) + ".bmp";
        TextCell(table, i + 2, 1, "pic" + std::to_string(i) + ".bmp");
        AutomationValue r = i + 2;
        AutomationValue where = table.Call("Cell", {ByRef(r), 2}).Call("Range");
        AutomationValue name = file;
        doc.Call("InlineShapes").Call("AddPicture", {Named("FileName", ByRef(name)), Named("LinkToFile", false),
                                                     Named("SaveWithDocument", true), Named("Range", where)});
    }
    Finish(app, doc, out);
    return 0;
}

int ChildRows(int rows, const std::string& out)
{
    AutomationValue app = CreateAutomationObject("Word.Application");
    app.Call("Documents").Call("Add");
    AutomationValue doc = app.Call("ActiveDocument");
    Line(doc, "Rows");
    AutomationValue table = AddTable(doc, 5);
    for (int r = 0; r < rows; ++r) {
        table.Call("Rows").Call("Add");
        for (int c = 1; c <= 5; ++c)
            TextCell(table, r + 1, c, "Row " + std::to_string(r) + " column " + std::to_string(c));
    }
    Finish(app, doc, out);
    return 0;
}

struct Run {
    double Seconds = 0;
    long MaxRssKb = 0;
    int Status = 0;
};

Run Spawn(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    auto t0 = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        execv(argv[0], argv.data());
        std::perror("execv");
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Run r;
    r.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.MaxRssKb = usage.ru_maxrss;
    r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

long FileKb(const std::string& f)
{
    std::error_code ec;
    auto n = std::filesystem::file_size(f, ec);
    return ec ? -1 : static_cast<long>(n / 1024);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 5 && std::strcmp(argv[1], "--child-pictures") == 0) return ChildPictures(argv[2], std::atoi(argv[3]), argv[4]);
    if (argc >= 4 && std::strcmp(argv[1], "--child-rows") == 0) return ChildRows(std::atoi(argv[2]), argv[3]);

    int pictures = 100, rows = 100000;
    std::string python = "/usr/bin/python3";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--pictures") == 0) pictures = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--rows") == 0) rows = std::atoi(argv[i + 1]);
        else if (std::strcmp(argv[i], "--python") == 0) python = argv[i + 1];
    }
    std::string self = std::filesystem::canonical("/proc/self/exe").string();
    std::string script = (std::filesystem::path(__FILE__).parent_path() / "word_server_bench_docx.py").string();
    QTemporaryDir tmp(QDir::tempPath() + "/tabrix-bench-XXXXXX");
    std::string dir = tmp.path().toStdString();
    std::printf("making %d pictures of 640 x 480, 24-bit BMP in %s ...\n", pictures * 2, dir.c_str());
    MakePictures(dir, pictures * 2);

    std::printf("\n%-44s %9s %12s %10s\n", "export", "wall s", "max RSS MB", "file MB");
    auto report = [](const char* what, const Run& r, const std::string& file) {
        std::printf("%-44s %9.2f %12.1f %10.1f%s\n", what, r.Seconds, r.MaxRssKb / 1024.0, FileKb(file) / 1024.0,
                    r.Status ? "  FAILED" : "");
    };
    std::string n1 = std::to_string(pictures), n2 = std::to_string(pictures * 2);
    Run native1 = Spawn({self, "--child-pictures", dir, n1, dir + "/native1.docx"});
    report(("native, " + n1 + " pictures, .docx").c_str(), native1, dir + "/native1.docx");
    Run native2 = Spawn({self, "--child-pictures", dir, n2, dir + "/native2.docx"});
    report(("native, " + n2 + " pictures, .docx").c_str(), native2, dir + "/native2.docx");
    Run py1 = Spawn({python, script, dir, n1, dir + "/python1.docx"});
    report(("python-docx, " + n1 + " pictures").c_str(), py1, dir + "/python1.docx");
    if (py1.Status == 0 && native1.Status == 0)
        std::printf("native / python-docx wall time: %.2f (target at most 0.5)\n", native1.Seconds / py1.Seconds);
    std::printf("peak memory %s -> %s pictures: %.1f -> %.1f MB (target at most 64 MB, flat)\n", n1.c_str(), n2.c_str(),
                native1.MaxRssKb / 1024.0, native2.MaxRssKb / 1024.0);

    std::string rn = std::to_string(rows);
    Run rowsDocx = Spawn({self, "--child-rows", rn, dir + "/rows.docx"});
    report(("native, " + rn + " rows x 5 cells, .docx").c_str(), rowsDocx, dir + "/rows.docx");
    Run rowsRtf = Spawn({self, "--child-rows", rn, dir + "/rows.doc"});
    report(("native, " + rn + " rows x 5 cells, RTF .doc").c_str(), rowsRtf, dir + "/rows.doc");
    return native1.Status || native2.Status || rowsDocx.Status || rowsRtf.Status;
}
