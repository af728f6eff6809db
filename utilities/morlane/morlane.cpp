#include "morlane.h"

#include "file_rewrite.h"
#include "line_file.h"
#include "message_box.h"
#include "morlane_text.h"
#include "registry_view.h"
#include "text.h"
#include "utils_log.h"

#include <windows.h>

#include <cctype>
#include <cstring>
#include <new>
#include <vector>

namespace {

const char kPrefix[] = "MORLANE: ";
const char kDefaultDataFile[] = "c:\\morlane.txt";
const char kNoText[] = "No late bind text found on command line.";
const char kComplete[] = "Program Complete!";
const char kNoDataPath[] = "No data file path to data file found on command line.";
const char kNotOpened[] = "Data file %s not opened.  Check file existance.";
const char kInvalidData[] = "Data file does not contain valid data. %s, %s, %s";
const char kNotDeleted[] = "Data file %s could not be deleted (Error Number: %d)";
const char kNotRead[] = "Data file %s could not be read to its end (Error Number: %d)";
const char kDoubleBackslash[] = "Double Backslash replacement: %s to %s ";
// Refused rather than cut: a cut text, key or data file path would record or rewrite
// values nobody named, or apply and delete another file.
const char kTooLong[] = "Command line longer than 259 characters";
const char kSkippedKey[] = "runmru";

const DWORD kValueNameCharacters = 50;
const DWORD kValueDataBytes = 150000;
const DWORD kKeyNameCharacters = 260;
const std::size_t kMaxKeyPath = 259;

const int kNoDataFile = 2;
const int kInvalidRecord = 13;

std::string LowerLetter(char letter)
{
    return std::string(1, static_cast<char>(std::tolower(static_cast<unsigned char>(letter))));
}

class CMorlane
{
public:
    explicit CMorlane(const MorlaneArguments& arguments) : m_arguments(arguments) {}

    void Log(const std::string& message) const
    {
        if (m_arguments.log)
            WriteUtilsLog(kPrefix, message);
    }

    int RecordDriveReferences();
    int ApplyDriveReferences();

private:
    void WalkKey(const std::string& keyPath);
    void WriteRecord(const std::string& keyPath, const std::string& valueName);
    // FALSE with the registry's error code when the value's write failed.
    bool ApplyRecord(const DriveReference& reference, const std::string& root, LONG& error) const;

    const MorlaneArguments& m_arguments;
    std::string m_text;
    HKEY m_hive = nullptr;
    std::string m_hiveName;
    CLineFile m_dataFile;
    std::vector<BYTE> m_data;
};

int CMorlane::RecordDriveReferences()
{
    const std::string dataPath = m_arguments.second.empty() ? kDefaultDataFile : m_arguments.second;
    m_text = m_arguments.first;
    if (m_arguments.tooLong) {
        Log(kTooLong);
    } else if (m_text.empty()) {
        Log(kNoText);
    } else {
        m_data.resize(kValueDataBytes);
        // An unwritable data file yields no records and no message.
        m_dataFile.Open(dataPath, CLineFile::modeAppend);
        m_hive = HKEY_LOCAL_MACHINE;
        m_hiveName = "HKEY_LOCAL_MACHINE";
        WalkKey(m_arguments.machineKey);
        m_hive = HKEY_CURRENT_USER;
        m_hiveName = "HKEY_CURRENT_USER";
        WalkKey(m_arguments.userKey);
        m_dataFile.Close();
    }
    char program[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    ShowMessageBox(nullptr, kComplete, program, MB_OK | MB_ICONEXCLAMATION);
    return 0;
}

void CMorlane::WriteRecord(const std::string& keyPath, const std::string& valueName)
{
    for (const std::string& line : FormatDriveReferenceRecord(m_hiveName, keyPath, valueName, m_text)) {
        m_dataFile.WriteLine(line + "\n");
        m_dataFile.Flush();
    }
}

void CMorlane::WalkKey(const std::string& keyPath)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(m_hive, keyPath.c_str(), 0, KEY_READ | kRegistryView, &key) != ERROR_SUCCESS)
        return;
    const std::string upperText = MakeUpperText(m_text);
    const bool skippedKey = MakeUpperText(keyPath).find(MakeUpperText(kSkippedKey)) != std::string::npos;
    if (!skippedKey)
        VisitStringValues(key, m_data, [&](const std::string& name, const std::string& data) {
            if (MakeUpperText(data).find(upperText) != std::string::npos)
                WriteRecord(keyPath, name);
        });
    for (DWORD index = 0;; ++index) {
        char name[kKeyNameCharacters];
        DWORD nameSize = kKeyNameCharacters;
        if (RegEnumKeyExA(key, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        const std::string child = keyPath.empty() ? std::string(name, nameSize) : keyPath + "\\" + name;
        // Deeper than the data file's lines can hold: not walked.
        if (child.size() <= kMaxKeyPath)
            WalkKey(child);
    }
    RegCloseKey(key);
}

bool CMorlane::ApplyRecord(const DriveReference& reference, const std::string& root, LONG& error) const
{
    error = ERROR_SUCCESS;
    HKEY hive = reference.machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    HKEY key = nullptr;
    if (RegOpenKeyExA(hive, reference.keyPath.c_str(), 0, KEY_READ | kRegistryView, &key) != ERROR_SUCCESS)
        return true;
    DWORD type = 0;
    DWORD size = 0;
    // However long the data is: read whole, never cut.
    LONG result = RegQueryValueExA(key, reference.valueName.c_str(), nullptr, &type, nullptr, &size);
    std::vector<BYTE> data(size + 1, 0);
    if (result == ERROR_SUCCESS)
        result = RegQueryValueExA(key, reference.valueName.c_str(), nullptr, &type, data.data(), &size);
    RegCloseKey(key);
    // Gone since the recording, or no longer text: passed over.
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return true;
    std::string text(reinterpret_cast<const char*>(data.data()), size);
    text = text.substr(0, text.find('\0'));
    bool repaired = false;
    if (!ReplaceLateBindText(text, reference.text, root, repaired))
        return true;
    if (repaired)
        Log(FillMessageText(kDoubleBackslash, {root + "\\", root}));
    error = RegOpenKeyExA(hive, reference.keyPath.c_str(), 0, KEY_SET_VALUE | kRegistryView, &key);
    if (error != ERROR_SUCCESS)
        return false;
    // The value keeps its type, so that an expandable one still expands.
    error = RegSetValueExA(key, reference.valueName.c_str(), 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>(text.size() + 1));
    RegCloseKey(key);
    return error == ERROR_SUCCESS;
}

int CMorlane::ApplyDriveReferences()
{
    const std::string& dataPath = m_arguments.first;
    if (m_arguments.tooLong) {
        Log(kTooLong);
        return kNoDataFile;
    }
    if (dataPath.empty()) {
        Log(kNoDataPath);
        return kNoDataFile;
    }
    const std::string root = FindCdRomRoot();
    CLineFile dataFile(kMaxRecordLine);
    if (!dataFile.Open(dataPath, CLineFile::modeRead)) {
        Log(FormatMessageText(kNotOpened, dataPath));
        return kNoDataFile;
    }
    const DriveReferenceFile file = ReadDriveReferenceFile([&dataFile](std::string& line) {
        if (dataFile.ReadLine(line))
            return DataLine::Read;
        return dataFile.HasReadFailed() ? DataLine::Failed : DataLine::End;
    });
    const DWORD readError = dataFile.GetFailureCode();
    dataFile.Close();
    // The records before a malformed one are applied: the next run goes through them again.
    for (const DriveReference& reference : file.records) {
        LONG error = ERROR_SUCCESS;
        if (!ApplyRecord(reference, root, error))
            return static_cast<int>(error);
    }
    if (file.invalid) {
        Log(FillMessageText(kInvalidData, {file.keyLine, file.valueName, file.text}));
        return kInvalidRecord;
    }
    // The rest of the file is unknown: it stays for a later run, and the run has failed.
    if (file.readFailed) {
        const DWORD error = readError != ERROR_SUCCESS ? readError : ERROR_READ_FAULT;
        Log(FormatMessageText(kNotRead, dataPath, static_cast<long>(error)));
        return static_cast<int>(error);
    }
    // A data file left behind is no success: the exit code says the work is not done.
    const DWORD deleted = DeleteFileWithRetries(dataPath);
    if (deleted != ERROR_SUCCESS) {
        Log(FormatMessageText(kNotDeleted, dataPath, static_cast<long>(deleted)));
        return static_cast<int>(deleted);
    }
    return 0;
}

} // namespace

void VisitStringValues(HKEY key, std::vector<BYTE>& data,
                       const std::function<void(const std::string& name, const std::string& text)>& visit)
{
    for (DWORD index = 0;; ++index) {
        char name[kValueNameCharacters];
        DWORD nameSize = kValueNameCharacters;
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        const LONG result = RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data.data(), &dataSize);
        // A name or data that does not fit is passed over. Any other failure ends the
        // walk: a key deleted meanwhile answers every index with one.
        if (result == ERROR_MORE_DATA)
            continue;
        if (result != ERROR_SUCCESS)
            return;
        if (type != REG_SZ && type != REG_EXPAND_SZ)
            continue;
        std::string text(reinterpret_cast<const char*>(data.data()), dataSize);
        visit(std::string(name, nameSize), text.substr(0, text.find('\0')));
    }
}

std::string FindCdRomRoot()
{
    char roots[512] = "";
    const DWORD length = GetLogicalDriveStringsA(sizeof roots - 1, roots);
    std::string last;
    for (const char* root = roots; length > 0 && length < sizeof roots && *root; root += std::strlen(root) + 1) {
        last = root;
        if (GetDriveTypeA(root) == DRIVE_CDROM)
            return LowerLetter(root[0]) + ":\\";
    }
    const char after = last.empty() ? 'c' : static_cast<char>(last[0] + 1);
    return LowerLetter(after) + ":\\";
}

int RunMorlane(const std::string& commandLine)
{
    try {
        const MorlaneArguments arguments = ParseMorlaneCommandLine(commandLine);
        CMorlane morlane(arguments);
        for (const std::string& message : arguments.messages)
            morlane.Log(message);
        return IsRecordMode(commandLine) ? morlane.RecordDriveReferences() : morlane.ApplyDriveReferences();
    } catch (const std::bad_alloc&) {
        return -1;
    }
}
