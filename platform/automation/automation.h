#pragma once
// The automation bridge: server objects found by ProgID and reached by member name.
//
// Servers are registered by ProgID in a process-wide registry. The native servers of this
// suite (the word processor under "Word.Application", the database engine under
// "DAO.DBEngine.36" and "DAO.DBEngine.35") are registered the first time the
// registry is used. A test may register its own factory under a ProgID; the previous
// registration comes back when the ScopedAutomationServer goes.
//
// "Running" means: an instance created through CreateAutomationObject in this process that
// has not quit (its application object was told to Quit). The registry holds each running
// instance, so a server that is not told to quit stays running, as a real one would.

#include "platform/automation/automation_value.h"

#include <functional>
#include <string>
#include <vector>

using AutomationServerFactory = std::function<std::shared_ptr<AutomationObject>()>;

// Registers (or replaces) the factory of ProgID `progId` (compared without regard to case).
void RegisterAutomationServer(const std::string& progId, AutomationServerFactory factory);
// Removes the registration; running instances are not touched.
void UnregisterAutomationServer(const std::string& progId);
bool IsAutomationServerRegistered(const std::string& progId);
// The factory registered under progId (empty when none).
AutomationServerFactory RegisteredAutomationServer(const std::string& progId);

// Registers the suite's own servers. Called once, automatically, by the functions below;
// calling it again does nothing.
void RegisterNativeServers();

// Starts a new instance of the server registered under progId.
// Raises Exception "Invalid class string" naming the ProgID when none is registered.
AutomationValue CreateAutomationObject(const std::string& progId);
// The most recently created instance of progId that is still running.
// Raises Exception "Operation unavailable" when none runs.
AutomationValue GetActiveAutomationObject(const std::string& progId);
// Forgets every running instance (they are no longer found by GetActiveAutomationObject).
// For tests that must start from a process without running servers.
void ForgetRunningAutomationObjects();

bool MSWordIsInstalled();
bool MSExcelIsInstalled();
bool MSAccessIsInstalled();

// Registers a factory for the lifetime of this object and restores the previous
// registration (or none) afterwards. While it is registered, instances of the previous
// server are not found as running; afterwards the stand-in's instances are forgotten and
// the previous ones are running again.
class ScopedAutomationServer {
public:
    ScopedAutomationServer(std::string progId, AutomationServerFactory factory);
    ~ScopedAutomationServer();
    ScopedAutomationServer(const ScopedAutomationServer&) = delete;
    ScopedAutomationServer& operator=(const ScopedAutomationServer&) = delete;

private:
    std::string FProgId;
    AutomationServerFactory FPrevious;
    std::vector<std::shared_ptr<AutomationObject>> FPreviousRunning;
};
