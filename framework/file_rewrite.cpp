#include "file_rewrite.h"

#include "file_path.h"
#include "os_family.h"
#include "pause.h"
#include "step_marks.h"

#include <algorithm>

namespace {

// Scanners and indexers hold a file for a moment: a few tries over about a second.
const int kTries = 5;
const unsigned long kRetryPauseMs = 250;

const char kOpenFailed[] = " could not be opened";
const char kWriteFailed[] = " could not be written";
const char kReadFailed[] = " could not be read to its end";
const char kPlaceFailed[] = " could not take the place of ";
const char kMissingAndStuck[] = " is missing and its rewrite could not take its place";

int g_atomicAvailable = -1;

const std::size_t kRewriteWriteBuffer = 64 * 1024;

bool IsHeldByAnotherProgram(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// Replacing a file another program has open is refused as a sharing violation or, on
// some systems, as access denied.
bool IsRenameHeldUp(DWORD error)
{
    return IsHeldByAnotherProgram(error) || error == ERROR_ACCESS_DENIED;
}

std::string WithErrorNumber(const std::string& text, DWORD error)
{
    return text + " (Error Number: " + std::to_string(static_cast<unsigned long>(error)) + ")";
}

// Calls move until it succeeds or fails for another reason than a program holding a file.
template <typename Move> DWORD MoveWithRetries(Move move)
{
    for (int attempt = 1;; ++attempt) {
        if (move())
            return ERROR_SUCCESS;
        const DWORD error = GetLastError();
        if (attempt >= kTries || !IsRenameHeldUp(error))
            return error == ERROR_SUCCESS ? ERROR_GEN_FAILURE : error;
        PauseMilliseconds(kRetryPauseMs);
    }
}

// Before a rewrite is created over whatever bears its name: empty, or why it must not be.
std::string PrepareRewrite(const std::string& path, const std::string& rewritePath)
{
    // A file that itself bears the rewrite's name would be emptied by it. Where nothing
    // bears that name, as after every whole rewrite, the file cannot: the comparison of
    // the names' short forms costs a folder search each.
    const DWORD rewriteAttributes = GetFileAttributesA(rewritePath.c_str());
    const DWORD lookupError = GetLastError();
    const bool rewriteMayExist = rewriteAttributes != INVALID_FILE_ATTRIBUTES ||
                                 (lookupError != ERROR_FILE_NOT_FOUND && lookupError != ERROR_PATH_NOT_FOUND);
    if (!rewriteMayExist)
        return std::string();
    if (IsSameFile(path, rewritePath))
        return DescribeOpenFailure(rewritePath, ERROR_FILE_EXISTS);
    // A rewrite left read-only or hidden from before is replaced all the same.
    SetFileAttributesA(rewritePath.c_str(), FILE_ATTRIBUTE_NORMAL);
    return std::string();
}

} // namespace

void SetAtomicReplaceAvailable(int available)
{
    g_atomicAvailable = available;
}

std::string DescribeOpenFailure(const std::string& path, DWORD error)
{
    return WithErrorNumber(path + kOpenFailed, error);
}

std::string DescribeReadFailure(const std::string& path, DWORD error)
{
    return WithErrorNumber(path + kReadFailed, error);
}

std::string DescribeMoveFailure(const std::string& rewritePath, const std::string& path, DWORD error)
{
    return WithErrorNumber(rewritePath + kPlaceFailed + path, error);
}

BOOL OpenSharedLineFile(CLineFile& file, const std::string& path, CLineFile::OpenMode mode)
{
    for (int attempt = 1;; ++attempt) {
        if (file.Open(path, mode))
            return TRUE;
        const DWORD error = GetLastError();
        if (attempt >= kTries || !IsHeldByAnotherProgram(error)) {
            SetLastError(error);
            return FALSE;
        }
        PauseMilliseconds(kRetryPauseMs);
    }
}

DWORD MoveFileWithRetries(const std::string& from, const std::string& to)
{
    return MoveWithRetries([&] { return MoveFileA(from.c_str(), to.c_str()); });
}

DWORD DeleteFileWithRetries(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesA(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    const DWORD error = MoveWithRetries([&] { return DeleteFileA(path.c_str()); });
    // Gone all the same.
    return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}

namespace {

// The part every rewrite shares: the file opened first (while it is open here nobody can
// take it away, and a missing file leaves its rewrite, perhaps the only copy, untouched),
// the rewrite created, writeLines, and the rewrite checked whole and flushed, or deleted.
RewriteResult WriteRewriteThrough(CLineFile& reader, const std::string& path, const std::string& rewritePath,
                                  const std::function<void(CLineFile& rewrite)>& writeLines, LineRewritten* rewritten)
{
    RewriteResult result;
    if (!OpenSharedLineFile(reader, path, CLineFile::modeRead)) {
        result.failedStep = RewriteStep::OpenFile;
        result.failure = DescribeOpenFailure(path, GetLastError());
        return result;
    }
    result.failure = PrepareRewrite(path, rewritePath);
    if (!result.failure.empty()) {
        reader.Close();
        result.failedStep = RewriteStep::CreateRewrite;
        return result;
    }
    CLineFile rewrite;
    if (!OpenSharedLineFile(rewrite, rewritePath, CLineFile::modeWrite)) {
        const DWORD error = GetLastError();
        reader.Close();
        result.failedStep = RewriteStep::CreateRewrite;
        result.failure = DescribeOpenFailure(rewritePath, error);
        return result;
    }
    // One write call for many lines: the rewrite counts only once it is whole.
    rewrite.SetWriteBuffer(kRewriteWriteBuffer);
    writeLines(rewrite);
    if (rewrite.HasWriteFailed()) {
        result.failedStep = RewriteStep::WriteRewrite;
        result.failure = WithErrorNumber(rewritePath + kWriteFailed, rewrite.GetFailureCode());
    } else if (reader.HasReadFailed() || !reader.IsEOF()) {
        // A read error is not the end of the file: a rewrite of part of it must not replace it.
        result.failedStep = RewriteStep::ReadFile;
        result.failure = DescribeReadFailure(path, reader.GetFailureCode());
    }
    reader.Close();
    MarkStep(WorkStep::RewriteWritten);
    // The rewrite must be on the disk before it can take the file's place.
    if (result.failure.empty() && !rewrite.Flush()) {
        result.failedStep = RewriteStep::WriteRewrite;
        result.failure = WithErrorNumber(rewritePath + kWriteFailed, rewrite.GetFailureCode());
    }
    if (result.failure.empty() && rewritten)
        rewritten->identityKnown = rewrite.KeepLastWriteTime() && rewrite.GetFileIdentity(rewritten->identity);
    rewrite.Close();
    MarkStep(WorkStep::RewriteFlushed);
    // A partial rewrite must never be mistaken for a whole one; the file is intact.
    if (!result.failure.empty())
        DeleteFileA(rewritePath.c_str());
    return result;
}

} // namespace

RewriteResult WriteRewrite(CLineFile& reader, const std::string& path, const std::string& rewritePath,
                           const LineEdit& edit)
{
    return WriteRewriteThrough(reader, path, rewritePath, [&](CLineFile& rewrite) {
        std::string line;
        for (int number = 1; !rewrite.HasWriteFailed() && reader.ReadLine(line); ++number) {
            std::string text = edit(number, line, reader.HadLineEnd() != FALSE);
            // The line end goes out as CR LF after every byte of the line: a line that itself
            // ends in CR (CR CR LF in the file) keeps it.
            if (!text.empty() && text.back() == '\n') {
                text.back() = '\r';
                text += '\n';
            }
            rewrite.WriteLine(text);
        }
    }, nullptr);
}

RewriteResult WriteRewriteOfLine(CLineFile& reader, const std::string& path, const std::string& rewritePath,
                                 int lineNumber, const std::string& replacement, LineRewritten& rewritten)
{
    rewritten = LineRewritten();
    unsigned long long written = 0;
    RewriteResult result = WriteRewriteThrough(reader, path, rewritePath, [&](CLineFile& rewrite) {
        std::string span;
        // Lines go over a buffer's worth at a time, not one by one.
        const std::size_t kLinesAtOnce = 512;
        bool more = true;
        for (int number = 1; more && !rewrite.HasWriteFailed();) {
            span.clear();
            const std::size_t wanted = number < lineNumber ? std::min<std::size_t>(lineNumber - number, kLinesAtOnce)
                                                            : kLinesAtOnce;
            if (number == lineNumber) {
                std::string line;
                more = reader.ReadLine(line) != FALSE;
                if (!more)
                    break;
                rewritten.lineStart = written;
                span = replacement + "\r\n";
                ++number;
                rewritten.found = true;
            } else {
                const std::size_t got = reader.ReadLinesAsCrLf(wanted, span);
                more = got == wanted;
                number += static_cast<int>(got);
            }
            rewrite.WriteBytes(span.data(), span.size());
            written += span.size();
        }
    }, &rewritten);
    if (result.failedStep != RewriteStep::Done)
        rewritten = LineRewritten();
    return result;
}

bool HasOneStepReplace()
{
    return g_atomicAvailable < 0 ? GetRunningOSFamily() == OSFamilyNT : g_atomicAvailable != 0;
}

namespace {

bool IsThere(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The file steps aside under a name of its own, the rewrite takes its place, and only
// then does the copy set aside go. A copy set aside by an earlier run that was cut off
// is older than the file.
DWORD ReplaceThroughAside(const std::string& rewritePath, const std::string& path, const std::string& asidePath)
{
    // A file that itself bears the aside name would be deleted as an old copy of itself.
    if (IsThere(asidePath) && IsSameFile(path, asidePath))
        return ERROR_FILE_EXISTS;
    const DWORD cleared = DeleteFileWithRetries(asidePath);
    if (cleared != ERROR_SUCCESS)
        return cleared;
    const DWORD aside = MoveFileWithRetries(path, asidePath);
    if (aside != ERROR_SUCCESS)
        return aside;
    const DWORD moved = MoveFileWithRetries(rewritePath, path);
    if (moved != ERROR_SUCCESS) {
        // Back as it was; should even that fail, the recovery finds it aside.
        MoveFileWithRetries(asidePath, path);
        return moved;
    }
    // A copy left aside would be taken for a replacement cut off, should the file ever
    // go missing: tried for as long as a scanner holds a file.
    DeleteFileWithRetries(asidePath);
    return ERROR_SUCCESS;
}

} // namespace

DWORD MoveRewriteIntoPlace(const std::string& rewritePath, const std::string& path, const std::string& asidePath)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    const DWORD lookupError = GetLastError();
    // Only a file known to be missing is taken for one: any other doubt steps aside.
    const bool present = attributes != INVALID_FILE_ATTRIBUTES ||
                         (lookupError != ERROR_FILE_NOT_FOUND && lookupError != ERROR_PATH_NOT_FOUND);
    // A file copied from a CD-ROM is read-only; its rewrite replaces it all the same, and
    // should that fail the file keeps what it had.
    const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (readOnly)
        SetFileAttributesA(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    DWORD error = ERROR_SUCCESS;
    if (HasOneStepReplace()) {
        error = MoveWithRetries([&] {
            return MoveFileExA(rewritePath.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        });
    } else if (!present) {
        error = MoveFileWithRetries(rewritePath, path);
    } else {
        error = ReplaceThroughAside(rewritePath, path, asidePath);
    }
    if (error != ERROR_SUCCESS && readOnly)
        SetFileAttributesA(path.c_str(), attributes);
    return error;
}

ReplacedFileState RestoreReplacedFile(const std::string& path, const std::vector<ReplacementNames>& replacements,
                                      LoneAsideCopy lone, DWORD& error)
{
    error = ERROR_SUCCESS;
    if (IsThere(path))
        return ReplacedFileState::Present;
    DWORD failed = ERROR_FILE_NOT_FOUND;
    // A replacement cut off between its renames leaves both its whole rewrite and the
    // file set aside; a copy alone is what the caller says it is.
    for (const bool alone : {false, true}) {
        for (const ReplacementNames& names : replacements) {
            if (!IsThere(names.asidePath) || IsThere(names.rewritePath) == alone)
                continue;
            if (alone && lone == LoneAsideCopy::Delete) {
                DeleteFileWithRetries(names.asidePath);
                continue;
            }
            for (const std::string* whole : {&names.rewritePath, &names.asidePath}) {
                if (!IsThere(*whole))
                    continue;
                const DWORD moved = MoveFileWithRetries(*whole, path);
                if (moved == ERROR_SUCCESS) {
                    DeleteFileWithRetries(names.asidePath);
                    return ReplacedFileState::Present;
                }
                failed = moved;
            }
        }
    }
    if (failed == ERROR_FILE_NOT_FOUND)
        return ReplacedFileState::Missing;
    error = failed;
    return ReplacedFileState::Stuck;
}

std::string DescribeStuckFailure(const std::string& path, DWORD error)
{
    return WithErrorNumber(path + kMissingAndStuck, error);
}

std::string GetAsidePath(const std::string& path)
{
    const std::string::size_type slash = path.find_last_of("\\:");
    const std::string::size_type nameStart = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(0, nameStart) + "~" + path.substr(nameStart) + ".OLD";
}

void DeleteLeftAsideCopies(const std::string& path, const std::vector<ReplacementNames>& replacements)
{
    if (!IsThere(path))
        return;
    for (const ReplacementNames& names : replacements)
        if (IsThere(names.asidePath) && !IsSameFile(path, names.asidePath))
            DeleteFileWithRetries(names.asidePath);
}

std::string ReplaceWholeFile(const std::string& path, const std::string& bytes, const std::string& rewritePath,
                             const std::string& asidePath)
{
    const std::string refused = PrepareRewrite(path, rewritePath);
    if (!refused.empty())
        return refused;
    HANDLE file =
        CreateFileA(rewritePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return DescribeOpenFailure(rewritePath, GetLastError());
    DWORD error = ERROR_SUCCESS;
    for (std::size_t offset = 0; error == ERROR_SUCCESS && offset < bytes.size();) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - offset, kRewriteWriteBuffer));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + offset, chunk, &written, nullptr) || written == 0)
            error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_WRITE_FAULT;
        offset += written;
    }
    // On the disk before it can take the file's place.
    if (error == ERROR_SUCCESS && !FlushFileBuffers(file))
        error = GetLastError();
    CloseHandle(file);
    if (error != ERROR_SUCCESS) {
        DeleteFileA(rewritePath.c_str());
        return WithErrorNumber(rewritePath + kWriteFailed, error);
    }
    const DWORD moved = MoveRewriteIntoPlace(rewritePath, path, asidePath);
    return moved == ERROR_SUCCESS ? std::string() : DescribeMoveFailure(rewritePath, path, moved);
}
