#pragma once
// A stand-in automation server that records every member access, for tests that compare
// an exporter's whole exchange with the expected one.
//
// Log format, one line per event:
//   create Word.Application                 an instance was started by CreateAutomationObject
//   call Documents.Add()                    kind, object name, member, arguments
//   get Columns.Width()
//   put Range.Bold = -1                     a put shows the new value after " = "
// Object names: the root object is named after its ProgID, every other object after the
// member that returned it (Documents, ActiveDocument, Range, ...).
// Arguments are separated by ", "; positional ones come first, a named one is Name:=value;
// a by-reference argument ends with '&'. Values: integer 12; Boolean -1 (true) or 0;
// single 72.5f; double 72.5 (a real always shows a '.' or an exponent: 72.0f, 3.0);
// string "text" (with \" \\ \n \r \t and \xHH escapes for other bytes below 0x20 and 0x7F);
// empty <empty>; null <null>; object <Name>; array {1, 2}; byte array b"A\x00B" (escaped as a
// string).
//
// Answers: by default a call or a get returns a new recording object named after the
// member; Answer() scripts a fixed value or a function for "Member" or "Object.Member"
// (names compare without regard to case; "Object.Member" wins). A call of Quit on a root
// object marks that instance as quit.

#include "platform/automation/automation.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct RecordedCall {
    std::string Object;
    std::string Member;
    InvokeKind Kind;
    AutomationArgs& Args;
};

class RecordingAutomationServer {
public:
    using Rule = std::function<AutomationValue(RecordedCall& call)>;

    RecordingAutomationServer();

    // Scripts the answer of "Member" or "Object.Member".
    void Answer(const std::string& key, AutomationValue result);
    void Answer(const std::string& key, Rule rule);
    // Makes "Member" / "Object.Member" raise Exception(message).
    void Fail(const std::string& key, const std::string& message);

    // A new root object named `name` (what a registered factory returns).
    std::shared_ptr<AutomationObject> CreateRoot(const std::string& name);
    // Registers this server under progId until the returned guard goes.
    std::unique_ptr<ScopedAutomationServer> Register(const std::string& progId);

    const std::vector<std::string>& Log() const;
    // The log as one text, each line ended by '\n'.
    std::string LogText() const;
    void ClearLog();

    // The text form of a value as the log shows it.
    static std::string FormatValue(const AutomationValue& value);

    struct State;

private:
    std::shared_ptr<State> FState;
};
