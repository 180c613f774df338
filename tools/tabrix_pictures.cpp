// tabrix-pictures: the picture export program without a window. Writes the given
// bitmap files into a word-processor document, one table row per picture, with the
// same exporter settings and header lines as the program's Export button.
//
//   tabrix-pictures [-q] [-o FILE] PICTURE...
//
// Exit codes: 0 the document was written, 1 the export failed or was cancelled (the
// reason is on standard error), 2 bad usage. Interrupted by SIGINT, SIGTERM or SIGHUP,
// it stops the run as the Cancel button does, removes its temporary files and ends by
// that signal.

#include "app/picture_export_job.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/ui_services.h"
#include "tools/command_line.h"

#include <tabrix/version.h>

#include <QCoreApplication>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>


namespace {

const char* const Usage =
    "Usage: tabrix-pictures [-q] [-o FILE] PICTURE...\n"
    "Writes the bitmap files PICTURE... into a word-processor document: three header\n"
    "lines, then a table with the file name and the picture of each file in a row.\n"
    "\n"
    "  -o, --output FILE  the document to write (default: tabrix.doc in the current\n"
    "                     folder); a name ending in .docx is written as Office Open\n"
    "                     XML, any other as RTF; a name without an extension\n"
    "                     gets \".DOC\"\n"
    "  -q, --quiet        print nothing but errors\n"
    "  -h, --help         show this help and exit\n"
    "      --version      show the version and exit\n"
    "\n"
    "Exit status: 0 written, 1 the export failed, 2 bad usage.\n";

struct TCommandLine {
    std::string Output;
    std::vector<std::string> Pictures;
    bool Help = false;
    bool Version = false;
    bool Quiet = false;
};

int UsageError(const std::string& Message)
{
    return ToolUsageError("tabrix-pictures", Message);
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
        } else if (arg == "--version") {
            Line.Version = true;
        } else if (arg == "-q" || arg == "--quiet") {
            Line.Quiet = true;
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
    if (Line.Help || Line.Version)
        return -1;
    if (Line.Pictures.empty())
        return UsageError("no pictures given");
    return -1;
}

void WriteLine(std::ostream& Out, const std::string& Text)
{
    Out.write(Text.data(), static_cast<std::streamsize>(Text.size()));
    Out << std::endl;
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
    if (line.Version) {
        std::cout << "tabrix-pictures " TABRIX_VERSION "\n";
        return 0;
    }
    if (!line.Output.empty())
        if (std::string problem = OutputProblem(line.Output); !problem.empty())
            return UsageError(problem);

    // A signal only records itself; the run polls it and winds down.
    InstallInterruptHandler();
    int code = 1;
    try {
        QCoreApplication app(argc, argv);
        // Boxes are collected and written once the run is over: a failure's reason to
        // standard error, and one success line instead of the closing box.
        TRecordingUIServices boxes;
        boxes.ForceHasGui = 0;
        TUIServicesScope scope(&boxes);

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
        exporter.OnProgress = [&job, &line](TPersistent*, int CurValue, int MaxValue, bool& Abort) {
            if (InterruptRequested())
                Abort = true;
            if (line.Quiet || CurValue >= MaxValue || !job.PictureFiles() || CurValue >= job.PictureFiles()->Count())
                return;
            std::cout << "[" << CurValue + 1 << "/" << MaxValue << "] ";
            WriteLine(std::cout, job.PictureFiles()->Strings(CurValue));
        };

        job.ExportPictures(line.Pictures);
        const TKVEResult result = exporter.Statistic().Result;
        if (result == erCompleted) {
            if (!line.Quiet)
                WriteLine(std::cout, "Document written: " + exporter.FileName());
            code = 0;
        } else {
            for (const auto& box : boxes.Boxes)
                WriteLine(std::cerr, box.Text);
            if (result == erCanceled && !InterruptRequested())
                std::cerr << "tabrix-pictures: the export was cancelled\n";
        }
    } catch (const Exception& e) {
        std::cerr << "tabrix-pictures: " << e.Message() << "\n";
    } catch (const std::exception& e) {
        std::cerr << "tabrix-pictures: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "tabrix-pictures: the export failed\n";
    }
    if (InterruptRequested()) {
        std::cerr << "tabrix-pictures: interrupted by signal " << InterruptSignal()
                  << (code == 0 ? " after the document was written\n" : "\n");
        std::cout.flush();
        ExitAfterInterrupt();
    }
    return code;
}
