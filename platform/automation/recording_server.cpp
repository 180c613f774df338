#include "platform/automation/recording_server.h"

#include <charconv>
#include <map>

struct RecordingAutomationServer::State {
    std::vector<std::string> Log;
    std::map<std::string, Rule> Rules; // key folded to lower case
};

namespace {

std::string Fold(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return s;
}

std::string RealText(double v, bool single)
{
    char buf[64];
    auto [ptr, ec] = single ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(v))
                            : std::to_chars(buf, buf + sizeof buf, v);
    (void)ec;
    std::string s(buf, ptr);
    if (s.find_first_of(".eEn") == std::string::npos) s += ".0"; // "nan"/"inf" stay as they are
    if (single) s += 'f';
    return s;
}

class RecordingObject : public AutomationObject {
public:
    RecordingObject(std::shared_ptr<RecordingAutomationServer::State> state, std::string name, bool root)
        : FState(std::move(state)), FName(std::move(name)), FRoot(root) {}

    std::string TypeName() const override { return FName; }

    AutomationValue Invoke(std::string_view member, InvokeKind kind, AutomationArgs& args) override
    {
        std::string line = kind == InvokeKind::Call ? "call " : kind == InvokeKind::Get ? "get " : "put ";
        line += FName;
        line += '.';
        line += member;
        if (kind == InvokeKind::Put) {
            line += " = ";
            line += args.Count() ? RecordingAutomationServer::FormatValue(args[0].Value()) : "<none>";
            if (args.Count() && args[0].IsByRef()) line += '&';
        } else {
            line += '(';
            bool first = true;
            for (const AutomationArg& a : args) {
                if (!first) line += ", ";
                first = false;
                if (a.IsNamed()) line += a.Name() + ":=";
                line += RecordingAutomationServer::FormatValue(a.Value());
                if (a.IsByRef()) line += '&';
            }
            line += ')';
        }
        FState->Log.push_back(std::move(line));

        if (FRoot && kind == InvokeKind::Call && SameMemberName(member, "Quit")) MarkQuit();

        std::string m(member);
        auto it = FState->Rules.find(Fold(FName + "." + m));
        if (it == FState->Rules.end()) it = FState->Rules.find(Fold(m));
        if (it != FState->Rules.end()) {
            RecordedCall call{FName, m, kind, args};
            return it->second(call);
        }
        if (kind == InvokeKind::Put) return {};
        return AutomationValue(std::make_shared<RecordingObject>(FState, m, false));
    }

private:
    std::shared_ptr<RecordingAutomationServer::State> FState;
    std::string FName;
    bool FRoot;
};

} // namespace

RecordingAutomationServer::RecordingAutomationServer() : FState(std::make_shared<State>()) {}

void RecordingAutomationServer::Answer(const std::string& key, AutomationValue result)
{
    FState->Rules[Fold(key)] = [result](RecordedCall&) { return result; };
}

void RecordingAutomationServer::Answer(const std::string& key, Rule rule)
{
    FState->Rules[Fold(key)] = std::move(rule);
}

void RecordingAutomationServer::Fail(const std::string& key, const std::string& message)
{
    FState->Rules[Fold(key)] = [message](RecordedCall&) -> AutomationValue { throw Exception(message); };
}

std::shared_ptr<AutomationObject> RecordingAutomationServer::CreateRoot(const std::string& name)
{
    return std::make_shared<RecordingObject>(FState, name, true);
}

std::unique_ptr<ScopedAutomationServer> RecordingAutomationServer::Register(const std::string& progId)
{
    std::weak_ptr<State> weak = FState;
    return std::make_unique<ScopedAutomationServer>(progId, [weak, progId]() -> std::shared_ptr<AutomationObject> {
        auto state = weak.lock();
        if (!state) throw Exception("The recording server of '" + progId + "' is gone");
        state->Log.push_back("create " + progId);
        return std::make_shared<RecordingObject>(state, progId, true);
    });
}

const std::vector<std::string>& RecordingAutomationServer::Log() const { return FState->Log; }

std::string RecordingAutomationServer::LogText() const
{
    std::string s;
    for (const auto& l : FState->Log) {
        s += l;
        s += '\n';
    }
    return s;
}

void RecordingAutomationServer::ClearLog() { FState->Log.clear(); }

std::string RecordingAutomationServer::FormatValue(const AutomationValue& value)
{
    using K = AutomationValue::Kind;
    switch (value.GetKind()) {
    case K::Empty: return "<empty>";
    case K::Null: return "<null>";
    case K::Integer:
    case K::Boolean: return std::to_string(value.ToInteger());
    case K::Single: return RealText(value.ToReal(), true);
    case K::Double: return RealText(value.ToReal(), false);
    case K::Object: return "<" + value.Object()->TypeName() + ">";
    case K::Array: {
        std::string s = "{";
        for (std::size_t i = 0; i < value.Count(); ++i) {
            if (i) s += ", ";
            s += FormatValue(value[i]);
        }
        return s + "}";
    }
    case K::Bytes:
        return "b" + FormatValue(AutomationValue(value.Bytes()));
    case K::String: {
        std::string s = "\"";
        static const char* hex = "0123456789ABCDEF";
        for (char ch : value.ToString()) {
            unsigned char c = static_cast<unsigned char>(ch);
            switch (c) {
            case '"': s += "\\\""; break;
            case '\\': s += "\\\\"; break;
            case '\n': s += "\\n"; break;
            case '\r': s += "\\r"; break;
            case '\t': s += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    s += "\\x";
                    s += hex[c >> 4];
                    s += hex[c & 15];
                } else {
                    s += ch;
                }
            }
        }
        return s + "\"";
    }
    }
    return "?";
}
