// tabrix-pictures: the picture export program without a window. Writes the given
// bitmap files into a word-processor document, one table row per picture, with the
// same exporter settings and header lines as the program's Export button.
//
//   tabrix-pictures [-o FILE] PICTURE...
//
// Exit codes: 0 the document was written, 1 the export failed (the reason is on
// standard error), 2 bad usage.

#include "app/picture_export_job.h"
#include "framework/exceptions.h"
#include "framework/ui_services.h"

#include <QCoreApplication>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace {

const char* const Usage =
    "Usage: tabrix-pictures [-o FILE] PICTURE...\n"
    "Writes the bitmap files PICTURE... into a word-processor document: three header\n"
    "lines, then a table with the file name and the picture of each file in a row.\n"
    "\n"
    "  -o, --output FILE  the document to write (default: tabrix.doc in the current\n"
    "                     folder); a name ending in .docx is written as Office Open\n"
    "                     XML, any other as RTF\n"
    "  -h, --help         show this help and exit\n"
    "\n"
    "Exit status: 0 written, 1 the export failed, 2 bad usage.\n";

struct TCommandLine {
    std::string Output;
    std::vector<std::string> Pictures;
    bool Help = false;
};

int UsageError(const std::string& Message)
{
    std::cerr << "tabrix-pictures: " << Message << "\n"
              << "Try 'tabrix-pictures --help' for more information.\n";
    return 2;
}

// Returns -1 when the command line is usable, else the exit code to end with.
int ParseCommandLine(int argc, char** argv, TCommandLine& Line)
{
    bool optionsEnd = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnd || arg.empty() || arg[0] != '-' || arg == "-") {
            Line.Pictures.push_back(arg);
        } else if (arg == "--") {
            optionsEnd = true;
        } else if (arg == "-h" || arg == "--help") {
            Line.Help = true;
        } else if (arg == "-o" || arg == "--output") {
            if (i + 1 >= argc || std::string(argv[i + 1]).empty())
                return UsageError("option " + arg + " needs a file name");
            Line.Output = argv[++i];
        } else if (arg.rfind("--output=", 0) == 0) {
            Line.Output = arg.substr(9);
            if (Line.Output.empty())
                return UsageError("option --output needs a file name");
        } else {
            return UsageError("unknown option " + arg);
        }
    }
    if (Line.Help)
        return -1;
    if (Line.Pictures.empty())
        return UsageError("no pictures given");
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    TCommandLine line;
    if (int code = ParseCommandLine(argc, argv, line); code >= 0)
        return code;
    if (line.Help) {
        std::cout << Usage;
        return 0;
    }

    try {
        QCoreApplication app(argc, argv);
        // Boxes (the closing message, a failure) go to standard error.
        TConsoleUIServices console;
        TUIServicesScope scope(&console);

        TPictureExportJob job;
        job.FormCreate(nullptr);
        std::string output = line.Output.empty() ? TPictureExportJob::DefaultDocumentName : line.Output;
        std::error_code ec;
        const std::filesystem::path absolute = std::filesystem::absolute(output, ec);
        if (!ec)
            output = absolute.string();

        TKVExportToWord& exporter = *job.KVExportToWord1;
        exporter.SetFileName(output);
        // Without a window system there is no progress window; the progress goes to
        // the terminal instead.
        exporter.AnimatedStatus = false;
        exporter.OnProgress = [&job](TPersistent*, int CurValue, int MaxValue, bool&) {
            if (CurValue >= MaxValue || !job.PictureFiles() || CurValue >= job.PictureFiles()->Count())
                return;
            const std::string& file = job.PictureFiles()->Strings(CurValue);
            std::cout << "[" << CurValue + 1 << "/" << MaxValue << "] ";
            std::cout.write(file.data(), static_cast<std::streamsize>(file.size()));
            std::cout << std::endl;
        };

        job.ExportPictures(line.Pictures);
        const TKVEResult result = exporter.Statistic().Result;
        if (result == erCompleted) {
            std::cout << "Document written: ";
            std::cout.write(output.data(), static_cast<std::streamsize>(output.size()));
            std::cout << std::endl;
            return 0;
        }
        if (result == erCanceled)
            std::cerr << "tabrix-pictures: the export was cancelled\n";
        return 1;
    } catch (const Exception& e) {
        std::cerr << "tabrix-pictures: " << e.Message() << "\n";
    } catch (const std::exception& e) {
        std::cerr << "tabrix-pictures: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "tabrix-pictures: the export failed\n";
    }
    return 1;
}
