#include "support/call_log.h"

#include <cstdio>

namespace {

std::vector<std::string> calls;

void AppendNumbered(std::string& out, const char* title, const std::vector<std::string>& lines)
{
    out += title;
    out += " (" + std::to_string(lines.size()) + " calls):\n";
    for (size_t i = 0; i < lines.size(); ++i)
        out += "  " + std::to_string(i) + ": " + lines[i] + "\n";
}

}  // namespace

void RecordCall(const std::string& line) { calls.push_back(line); }
void ClearRecordedCalls() { calls.clear(); }
const std::vector<std::string>& RecordedCalls() { return calls; }

std::vector<std::string> CallsOf(const std::vector<std::string>& lines,
                                 std::initializer_list<const char*> prefixes)
{
    std::vector<std::string> chosen;
    for (const std::string& line : lines) {
        for (const char* prefix : prefixes) {
            if (line.rfind(prefix, 0) == 0) {
                chosen.push_back(line);
                break;
            }
        }
    }
    return chosen;
}

std::vector<std::string> RecordedCallsOf(std::initializer_list<const char*> prefixes)
{
    return CallsOf(calls, prefixes);
}

testing::AssertionResult CallsMatch(const std::vector<std::string>& actual,
                                    const std::vector<std::string>& expected)
{
    if (actual == expected)
        return testing::AssertionSuccess();
    std::string message = "recorded calls differ from the expected ones\n";
    AppendNumbered(message, "expected", expected);
    AppendNumbered(message, "actual", actual);
    return testing::AssertionFailure() << message;
}

std::string Hex(uintptr_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string Hex(const void* pointer)
{
    return pointer ? Hex(reinterpret_cast<uintptr_t>(pointer)) : "null";
}

std::string Quoted(const char* text)
{
    return text ? "\"" + std::string(text) + "\"" : "null";
}
