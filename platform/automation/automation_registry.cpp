#include "platform/automation/automation.h"

#include "platform/automation/dao/dao_server.h"
#include "platform/automation/excel/excel_server.h"
#include "platform/automation/word/word_server.h"

#include <map>
#include <vector>

namespace {

std::string FoldCase(const std::string& s)
{
    std::string r = s;
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return r;
}

struct Registry {
    std::map<std::string, AutomationServerFactory> Factories;
    std::map<std::string, std::vector<std::shared_ptr<AutomationObject>>> Running;
    bool NativeDone = false;
};

Registry& TheRegistry()
{
    static Registry registry;
    return registry;
}

void EnsureNative()
{
    if (!TheRegistry().NativeDone) RegisterNativeServers();
}

void PruneQuit(std::vector<std::shared_ptr<AutomationObject>>& list)
{
    std::erase_if(list, [](const auto& o) { return o->HasQuit(); });
}

} // namespace

void RegisterNativeServers()
{
    Registry& r = TheRegistry();
    if (r.NativeDone) return;
    r.NativeDone = true;
    // Registrations made before this call (a test's stand-in) win over the native ones.
    r.Factories.emplace(FoldCase("Word.Application"), [] { return CreateWordApplication(); });
    r.Factories.emplace(FoldCase("DAO.DBEngine.36"), [] { return CreateDaoEngine(); });
    r.Factories.emplace(FoldCase("DAO.DBEngine.35"), [] { return CreateDaoEngine(); });
    r.Factories.emplace(FoldCase("Excel.Application"), [] { return CreateExcelApplication(); });
}

void RegisterAutomationServer(const std::string& progId, AutomationServerFactory factory)
{
    EnsureNative();
    if (!factory) throw Exception("No factory given for the automation server '" + progId + "'");
    TheRegistry().Factories[FoldCase(progId)] = std::move(factory);
}

void UnregisterAutomationServer(const std::string& progId)
{
    EnsureNative();
    TheRegistry().Factories.erase(FoldCase(progId));
}

bool IsAutomationServerRegistered(const std::string& progId)
{
    EnsureNative();
    return TheRegistry().Factories.count(FoldCase(progId)) != 0;
}

AutomationServerFactory RegisteredAutomationServer(const std::string& progId)
{
    EnsureNative();
    auto it = TheRegistry().Factories.find(FoldCase(progId));
    return it == TheRegistry().Factories.end() ? AutomationServerFactory() : it->second;
}

AutomationValue CreateAutomationObject(const std::string& progId)
{
    AutomationServerFactory factory = RegisteredAutomationServer(progId);
    if (!factory) throw Exception("Invalid class string: no automation server is registered as '" + progId + "'");
    std::shared_ptr<AutomationObject> object = factory();
    if (!object) throw Exception("Server execution failed: '" + progId + "' did not start");
    auto& list = TheRegistry().Running[FoldCase(progId)];
    PruneQuit(list);
    list.push_back(object);
    return AutomationValue(object);
}

AutomationValue GetActiveAutomationObject(const std::string& progId)
{
    EnsureNative();
    auto it = TheRegistry().Running.find(FoldCase(progId));
    if (it != TheRegistry().Running.end()) {
        PruneQuit(it->second);
        if (!it->second.empty()) return AutomationValue(it->second.back());
    }
    throw Exception("Operation unavailable: no running instance of '" + progId + "'");
}

void ForgetRunningAutomationObjects()
{
    TheRegistry().Running.clear();
}

bool MSWordIsInstalled() { return IsAutomationServerRegistered("Word.Application"); }
bool MSExcelIsInstalled() { return IsAutomationServerRegistered("Excel.Application"); }
bool MSAccessIsInstalled()
{
    return IsAutomationServerRegistered("DAO.DBEngine.35") || IsAutomationServerRegistered("DAO.DBEngine.36");
}

ScopedAutomationServer::ScopedAutomationServer(std::string progId, AutomationServerFactory factory)
    : FProgId(std::move(progId)), FPrevious(RegisteredAutomationServer(FProgId))
{
    RegisterAutomationServer(FProgId, std::move(factory));
    // While the stand-in is registered, the previous server's instances are not running.
    auto& running = TheRegistry().Running;
    if (auto it = running.find(FoldCase(FProgId)); it != running.end()) {
        FPreviousRunning = std::move(it->second);
        running.erase(it);
    }
}

ScopedAutomationServer::~ScopedAutomationServer()
{
    // Instances of the stand-in must not be found as running once it is gone.
    TheRegistry().Running.erase(FoldCase(FProgId));
    if (!FPreviousRunning.empty()) TheRegistry().Running[FoldCase(FProgId)] = std::move(FPreviousRunning);
    if (FPrevious)
        TheRegistry().Factories[FoldCase(FProgId)] = std::move(FPrevious);
    else
        TheRegistry().Factories.erase(FoldCase(FProgId));
}
