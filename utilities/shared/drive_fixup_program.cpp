#include "drive_fixup_program.h"

#include "development_marker_text.h"
#include "drive_variable.h"
#include "file_path.h"
#include "file_rewrite.h"
#include "line_file.h"
#include "local_time.h"
#include "message_box.h"
#include "system_error_text.h"
#include "text.h"
#include "time_stamp_text.h"

#include <windows.h>

#include <cstdio>

namespace {

const std::size_t kMaxMessage = 2047;
const std::size_t kPieceLength = 1023;
const char kMarkerFile[] = "C:\\VELK.SDR";
const char kProbeFile[] = "tempfile";

const char kProcessing[] = "  Processing Command Line: %s";
const char kFoundHere[] = "    Searched Hard Drive: %s,  <-- File is located here";
const char kSearched[] = "    Searched Hard Drive: %s";
const char kChosen[] = "    Searched Hard Drive: %s,  <-- First Available Drive chosen";
const char kNoAccess[] = "    Searched Hard Drive: %s, <-- Unable to access this device";
const char kUsing[] = "    Using Hard Drive At %s:";
const char kNone[] = "(none)";
const char kLineIn[] = "      Line In:";
const char kLineOut[] = "      Line Out:";
const char kLineText[] = "        %s";
const char kMoveFailed[] = "While moving %s to %s, an error occurred:\n  %s";
const char kChanged[] = "\n** Changes Were Made **";
const char kErrorText[] = "(Error: %ld) %s";
const char kNoChanges[] = "** No Changes Were Necessary **";
const char kSettingsHeader[] = "  Using The Following Settings:";

std::string SystemErrorText(unsigned long error)
{
    return FormatMessageText(kErrorText, GetSystemErrorText(error, kUserDefaultLanguage, 511), static_cast<long>(error));
}

std::string Letter(char letter)
{
    return std::string(1, letter);
}

} // namespace

CDriveFixupProgram::CDriveFixupProgram(const DriveFixupTexts& texts)
    : m_texts(texts), m_verbose(false), m_development(false), m_bannerWritten(false)
{
}

void CDriveFixupProgram::LogLine(const std::string& message)
{
    CLineFile log;
    // The folder is not created: without it the log is not written.
    if (!log.Open(m_texts.logPath, CLineFile::modeAppend))
        return;
    if (!m_bannerWritten) {
        log.WriteLine(std::string(m_texts.banner) + "\n");
        m_bannerWritten = true;
    }
    std::string text = message.substr(0, kMaxMessage);
    if (text.empty() || text.back() != '\n')
        text += '\n';
    log.WriteLine(text);
    log.Close();
    // The usage text promises a hidden log, also when this run created it.
    HideLog();
}

void CDriveFixupProgram::HideLog()
{
    SetFileAttributesA(m_texts.logPath, FILE_ATTRIBUTE_HIDDEN);
}

void CDriveFixupProgram::ShowUsage(const std::string& message)
{
    if (!message.empty())
        LogLine(message);
    const std::string text = FillMessageText(m_texts.usageText, {m_texts.banner, m_texts.logPath});
    ShowMessageBox(nullptr, text, m_texts.usageTitle, MB_OK);
    throw CProgramExit{1};
}

void CDriveFixupProgram::ReportError(const std::string& message)
{
    LogLine(message);
    if (m_verbose)
        ShowMessageBox(nullptr, message, m_texts.verboseTitle, MB_OK);
    else if (m_development)
        ShowMessageBox(nullptr, message, m_texts.developmentTitle, MB_OK);
    throw CProgramExit{1};
}

void CDriveFixupProgram::DetectDevelopmentMode()
{
    CLineFile marker(kPieceLength);
    if (!marker.Open(kMarkerFile, CLineFile::modeRead))
        return;
    std::string line;
    while (!m_development && marker.ReadLine(line))
        m_development = IsDevelopmentMarkerLine(line);
    marker.Close();
}

char CDriveFixupProgram::FindDriveForFile(const std::string& path, bool firstAvailable)
{
    const bool verbose = IsVerboseOrDevelopment();
    if (verbose)
        LogLine(FormatMessageText(kProcessing, path));
    char found = 0;
    for (char letter = 'A'; letter <= 'Z' && !found; ++letter) {
        const std::string root = Letter(letter) + ":\\";
        if (GetDriveTypeA(root.c_str()) != DRIVE_FIXED)
            continue;
        if (!firstAvailable) {
            const std::string candidate = Letter(letter) + ":" + path;
            if (GetFileAttributesA(candidate.c_str()) != INVALID_FILE_ATTRIBUTES) {
                found = letter;
                if (verbose)
                    LogLine(FormatMessageText(kFoundHere, Letter(letter)));
            } else if (verbose) {
                LogLine(FormatMessageText(kSearched, root));
            }
            continue;
        }
        if (IsSameText(root, "c:\\"))
            continue;
        const std::string probe = root + kProbeFile;
        // Only a file the probe made itself is deleted: a "tempfile" that was there before
        // is the user's, and opening it for writing tells as much about the drive.
        bool made = true;
        HANDLE file = CreateFileA(probe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        const DWORD error = file == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
            made = false;
            file = CreateFileA(probe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        }
        if (file == INVALID_HANDLE_VALUE) {
            LogLine(FormatMessageText(kNoAccess, root));
            continue;
        }
        CloseHandle(file);
        if (made)
            DeleteFileA(probe.c_str());
        found = letter;
        if (verbose)
            LogLine(FormatMessageText(kChosen, Letter(letter)));
    }
    if (firstAvailable && !found)
        found = 'C';
    if (verbose)
        LogLine(FormatMessageText(kUsing, found ? Letter(found) : std::string(kNone)));
    return found;
}

void CDriveFixupProgram::ReplaceDriveVariable(std::string& line, const std::string& pattern, char letter)
{
    const bool verbose = IsVerboseOrDevelopment();
    if (verbose) {
        LogLine(kLineIn);
        LogLine(FormatMessageText(kLineText, line));
    }
    ::ReplaceDriveVariable(line, pattern, letter);
    if (verbose) {
        LogLine(kLineOut);
        LogLine(FormatMessageText(kLineText, line));
    }
}

void CDriveFixupProgram::LogStartBlock(const DriveFixupArguments& arguments)
{
    LogLine(FormatMessageText(m_texts.startLine, FormatCalendarTime(GetLocalTimeValues())));
    LogLine(kSettingsHeader);
    const std::string* values[] = {&arguments.first, &arguments.second, &arguments.variable};
    for (int i = 0; i < 3; ++i)
        LogLine(FormatMessageText(m_texts.settings[i], *values[i]));
}

void CDriveFixupProgram::FixupFile(const std::string& path, const std::string& tempPath, const std::string& asidePath,
                                   const std::string& backupPath, const char* oldBackupFailure,
                                   const LineFixup& fixup)
{
    // A replacement cut off between its renames left the file aside: back in its place
    // before anything reads it. What cannot be put back is reported as the open fails.
    const std::vector<ReplacementNames> replacement = {{tempPath, asidePath}};
    DWORD restoreError = ERROR_SUCCESS;
    RestoreReplacedFile(path, replacement, LoneAsideCopy::PutBack, restoreError);
    DeleteLeftAsideCopies(path, replacement);
    bool changed = false;
    CLineFile reader(kPieceLength);
    const RewriteResult written =
        WriteRewrite(reader, path, tempPath, [&](int, const std::string& piece, bool hadLineEnd) {
            std::string line = piece;
            if (fixup(line))
                changed = true;
            // Every line in its place, with its own line break: entries keep their numbers.
            return hadLineEnd ? line + "\n" : line;
        });
    switch (written.failedStep) {
    case RewriteStep::Done:
        break;
    case RewriteStep::OpenFile:
        ReportError(FormatMessageText(m_texts.openFailedText, path));
    case RewriteStep::CreateRewrite:
        ReportError(FormatMessageText(m_texts.createFailedText, tempPath));
    case RewriteStep::ReadFile:
        ReportError(FormatMessageText(m_texts.readFailedText, path));
    case RewriteStep::WriteRewrite:
        ReportError(FormatMessageText(m_texts.writeFailedText, tempPath));
    }
    if (!changed) {
        // A scanner looks at the file as soon as it is written: tried for a moment.
        DeleteFileWithRetries(tempPath);
        LogLine(kNoChanges);
        return;
    }
    ReplaceKeepingBackup(path, tempPath, asidePath, backupPath, oldBackupFailure);
}

void CDriveFixupProgram::LogMoveFailure(const std::string& from, const std::string& to, unsigned long error)
{
    LogLine(FillMessageText(kMoveFailed, {from, to, SystemErrorText(error)}));
}

void CDriveFixupProgram::ReplaceKeepingBackup(const std::string& path, const std::string& tempPath,
                                              const std::string& asidePath, const std::string& givenBackupPath,
                                              const char* oldBackupFailure)
{
    // A file that bears the backup's name would be deleted as its own old backup.
    const std::string backupPath = IsSameFile(givenBackupPath, path) ? path + ".BAK" : givenBackupPath;
    const DWORD backupAttributes = GetFileAttributesA(backupPath.c_str());
    SetFileAttributesA(backupPath.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!DeleteFileA(backupPath.c_str())) {
        const DWORD error = GetLastError();
        // An old backup that stays keeps what it had.
        if (backupAttributes != INVALID_FILE_ATTRIBUTES)
            SetFileAttributesA(backupPath.c_str(), backupAttributes);
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && oldBackupFailure)
            LogLine(oldBackupFailure);
    }
    // The backup is a copy: moving the file away first would leave it missing until the
    // rewrite is in its place, and lost if that failed or the power went.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!CopyFileA(path.c_str(), backupPath.c_str(), FALSE))
        LogMoveFailure(path, backupPath, GetLastError());
    const DWORD moved = MoveRewriteIntoPlace(tempPath, path, asidePath);
    if (moved == ERROR_SUCCESS) {
        LogLine(FormatMessageText(m_texts.movedText, path));
        LogLine(kChanged);
        return;
    }
    // The file stays as it was, read-only, hidden or system included.
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesA(path.c_str(), attributes);
    LogMoveFailure(tempPath, path, moved);
    ReportError(FormatMessageText(m_texts.failedMoveText, m_texts.logPath));
}

int RunDriveFixup(const DriveFixupTexts& texts, const std::string& commandLine,
                  ParsedCommandLine (*parse)(const std::string& commandLine),
                  void (*fixup)(CDriveFixupProgram& program, const DriveFixupArguments& arguments))
{
    CDriveFixupProgram program(texts);
    try {
        const ParsedCommandLine parsed = parse(commandLine);
        if (parsed.usage)
            program.ShowUsage(parsed.message);
        program.SetVerbose(parsed.arguments.verbose);
        if (!parsed.arguments.verbose)
            program.DetectDevelopmentMode();
        if (program.IsVerboseOrDevelopment())
            program.LogStartBlock(parsed.arguments);
        program.HideLog();
        fixup(program, parsed.arguments);
        return 0;
    } catch (const CProgramExit& exit) {
        return exit.code;
    }
}
