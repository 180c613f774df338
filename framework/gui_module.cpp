#include "framework/gui_module.h"

#include <QCoreApplication>

#include <dlfcn.h>
#include <unistd.h>

#include <mutex>

namespace {

struct TModuleState {
    std::mutex Lock;
    std::vector<std::string> Candidates;
    bool Tried = false;
    bool Loaded = false;
    std::string Error;
};

TGuiApplicationMaker gApplicationMaker = nullptr;

TModuleState& State()
{
    static TModuleState state;
    return state;
}

} // namespace

void SetGuiModuleCandidates(std::vector<std::string> Paths)
{
    TModuleState& s = State();
    std::lock_guard<std::mutex> guard(s.Lock);
    s.Candidates = std::move(Paths);
}

bool LoadGuiModule(std::string& Error)
{
    TModuleState& s = State();
    std::lock_guard<std::mutex> guard(s.Lock);
    if (!s.Tried) {
        s.Tried = true;
        std::string path;
        for (const std::string& candidate : s.Candidates)
            if (::access(candidate.c_str(), R_OK) == 0) {
                path = candidate;
                break;
            }
        if (s.Candidates.empty()) {
            s.Error = "this program does not load the Tabrix Gui module";
        } else if (path.empty()) {
            s.Error = "the Tabrix Gui module is not installed (looked for " + s.Candidates.front() + ")";
        } else if (void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            // Kept open for the life of the process: what it registered points into it.
            if (auto init = reinterpret_cast<void (*)()>(::dlsym(handle, "tabrix_gui_module_init")))
                init();
            s.Loaded = true;
        } else {
            const char* why = ::dlerror();
            s.Error = "the Tabrix Gui module " + path + " cannot be loaded: " + (why ? why : "unknown error");
        }
    }
    if (!s.Loaded)
        Error = s.Error;
    return s.Loaded;
}

void SetGuiApplicationMaker(TGuiApplicationMaker Maker)
{
    gApplicationMaker = Maker;
}

std::unique_ptr<QCoreApplication> MakeApplication(int& argc, char** argv, bool NeedGui, std::string& Error)
{
    if (NeedGui && (gApplicationMaker || LoadGuiModule(Error)) && gApplicationMaker)
        return std::unique_ptr<QCoreApplication>(gApplicationMaker(argc, argv));
    return std::make_unique<QCoreApplication>(argc, argv);
}
