#include "morlane_text.h"

#include "next_parameter.h"

#include <cctype>

namespace {

const char kInvalidSwitch[] = "Invalid command line switch: ";
const char kHive[] = "HKEY";
const char kMachineHive[] = "HKEY_LOCAL_MACHINE";

// Lower case of the plain letters, as the data file and the registry paths are compared.
std::string ToLower(const std::string& text)
{
    std::string lower = text;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// Every occurrence of pattern (lower case) in text, found in lower, becomes replacement;
// lower follows. The number replaced.
int ReplaceAll(std::string& text, std::string& lower, const std::string& pattern, const std::string& replacement)
{
    if (pattern.empty())
        return 0;
    int count = 0;
    for (std::string::size_type at = lower.find(pattern); at != std::string::npos;
         at = lower.find(pattern, at + replacement.size())) {
        text.replace(at, pattern.size(), replacement);
        lower.replace(at, pattern.size(), ToLower(replacement));
        ++count;
    }
    return count;
}

} // namespace

MorlaneArguments ParseMorlaneCommandLine(const std::string& commandLine)
{
    MorlaneArguments arguments;
    // Parsed all the same: whether /l is there decides whether the refusal is logged.
    arguments.tooLong = commandLine.size() > kMaxMorlaneCommandLine;
    const std::string lower = ToLower(commandLine);
    bool haveFirst = false;
    for (int position = 0;;) {
        std::string parameter;
        std::string problem;
        const int next = NextParameter(lower, position, parameter, problem);
        if (!problem.empty() && arguments.log)
            arguments.messages.push_back(problem);
        int after = next;
        if (!parameter.empty() && (parameter[0] == '/' || parameter[0] == '-')) {
            const char which = parameter.size() > 1 ? parameter[1] : '\0';
            if (which == 'l') {
                arguments.log = true;
            } else if (which == 't') {
                // Record mode is asked for by "/t" alone: "-t" is taken and does nothing.
                arguments.record = arguments.record || parameter[0] == '/';
            } else if (which == 'm' || which == 'u') {
                // The key is the next parameter; a switch at the end ends the parse.
                if (next < 0)
                    break;
                std::string key;
                after = NextParameter(lower, next, key, problem);
                (which == 'm' ? arguments.machineKey : arguments.userKey) = key;
            } else if (arguments.log) {
                arguments.messages.push_back(kInvalidSwitch + parameter);
            }
        } else if (!parameter.empty()) {
            (haveFirst ? arguments.second : arguments.first) = parameter;
            haveFirst = true;
        }
        if (after < 0)
            break;
        position = after;
    }
    return arguments;
}

bool IsRecordMode(const std::string& commandLine)
{
    // A parameter of its own: "C:/TEMP/LATE.TXT" holds "/T" and asks for nothing.
    return ParseMorlaneCommandLine(commandLine).record;
}

std::vector<std::string> FormatDriveReferenceRecord(const std::string& hiveName, const std::string& keyPath,
                                                    const std::string& valueName, const std::string& lateBindText)
{
    return {hiveName + "\\" + keyPath, valueName, ToLower(lateBindText)};
}

bool ParseDriveReferenceRecord(const std::string& keyLine, const std::string& valueName, const std::string& text,
                               DriveReference& reference)
{
    // An empty value name is the key's default value, as record mode writes it.
    if (keyLine.find(kHive) == std::string::npos || text.empty())
        return false;
    reference.machine = keyLine.compare(0, std::string(kMachineHive).size(), kMachineHive) == 0;
    const std::string::size_type slash = keyLine.find('\\');
    reference.keyPath = slash == std::string::npos ? std::string() : keyLine.substr(slash + 1);
    reference.valueName = valueName;
    reference.text = ToLower(text);
    reference.text[0] = 'c';
    return true;
}

DriveReferenceFile ReadDriveReferenceFile(const std::function<DataLine(std::string&)>& readLine)
{
    DriveReferenceFile file;
    // A line that could not be read is empty, whatever the reader left in it; after a
    // failed read nothing more is read.
    const auto read = [&readLine, &file](std::string& line) {
        line.clear();
        const DataLine got = file.readFailed ? DataLine::Failed : readLine(line);
        if (got == DataLine::Read)
            return true;
        line.clear();
        file.readFailed = got == DataLine::Failed;
        return false;
    };
    std::string keyLine;
    bool haveKeyLine = read(keyLine);
    for (;;) {
        std::string valueName;
        std::string text;
        const bool complete = haveKeyLine && read(valueName) && read(text);
        DriveReference reference;
        if (file.readFailed)
            return file;
        if (!complete || !ParseDriveReferenceRecord(keyLine, valueName, text, reference)) {
            file.invalid = true;
            file.keyLine = keyLine;
            file.valueName = valueName;
            file.text = text;
            return file;
        }
        file.records.push_back(reference);
        // Another record follows only where the next line begins with "H".
        haveKeyLine = read(keyLine);
        if (!haveKeyLine || keyLine.empty() || keyLine[0] != 'H')
            return file;
    }
}

char ReplaceLateBindText(std::string& data, const std::string& text, const std::string& root, bool& repairedDouble)
{
    repairedDouble = false;
    if (text.empty())
        return 0;
    std::string pattern = ToLower(text);
    for (char letter = 'c'; letter <= 'i'; ++letter) {
        pattern[0] = letter;
        std::string lower = ToLower(data);
        if (ReplaceAll(data, lower, pattern, root) == 0)
            continue;
        repairedDouble = ReplaceAll(data, lower, ToLower(root) + "\\", root) > 0;
        return letter;
    }
    return 0;
}
