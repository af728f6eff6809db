#include "line_file.h"

#include "line_file_text.h"

#include <cstring>

namespace {

// A run list of a few thousand lines in a few reads: each read is a call into the system.
const DWORD kChunk = 64 * 1024;

// Text as a text-mode stream writes it: each lone line feed becomes CR LF.
void AppendWithCrLf(std::string& out, const std::string& text)
{
    std::string::size_type from = 0;
    for (std::string::size_type feed; (feed = text.find('\n', from)) != std::string::npos; from = feed + 1) {
        out.append(text, from, feed - from);
        if (feed == 0 || text[feed - 1] != '\r')
            out += '\r';
        out += '\n';
    }
    out.append(text, from, std::string::npos);
}

} // namespace

CLineFile::CLineFile(std::size_t maxLineLength)
    : m_maxLineLength(maxLineLength == 0 ? 1 : maxLineLength), m_file(INVALID_HANDLE_VALUE), m_mode(modeRead), m_bufferOffset(0), m_atEnd(false), m_writeFailed(false),
      m_readFailed(false), m_hadLineEnd(false), m_failureCode(0), m_writeBufferLimit(0),
      m_lastWriteKept(false), m_keptLastWrite()
{
}

CLineFile::~CLineFile()
{
    Close();
}

BOOL CLineFile::Open(const std::string& path, OpenMode mode)
{
    Close();
    DWORD access = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    if (mode == modeWrite) {
        access = GENERIC_WRITE;
        disposition = CREATE_ALWAYS;
    } else if (mode == modeAppend) {
        access = GENERIC_WRITE;
        disposition = OPEN_ALWAYS;
    }
    // No "insert a disk" box for a diskette or CD drive that is empty.
    const UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS);
    m_file = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD error = GetLastError();
    SetErrorMode(previousMode);
    if (m_file == INVALID_HANDLE_VALUE) {
        SetLastError(error);
        return FALSE;
    }
    m_mode = mode;
    m_buffer.clear();
    m_bufferOffset = 0;
    m_atEnd = false;
    m_writeFailed = false;
    m_readFailed = false;
    m_failureCode = 0;
    if (mode == modeAppend)
        SetFilePointer(m_file, 0, nullptr, FILE_END);
    return TRUE;
}

BOOL CLineFile::FillBuffer()
{
    if (m_bufferOffset > 0) {
        m_buffer.erase(0, m_bufferOffset);
        m_bufferOffset = 0;
    }
    // Enough for one whole line and its line end: the most ReadNextLine looks ahead.
    while (!m_atEnd && m_buffer.size() < m_maxLineLength + 2) {
        const std::size_t had = m_buffer.size();
        m_buffer.resize(had + kChunk);
        DWORD got = 0;
        const BOOL read = ReadFile(m_file, &m_buffer[had], kChunk, &got, nullptr);
        m_buffer.resize(had + (read ? got : 0));
        if (!read) {
            // Not the end of the file: nothing more can be read, and callers must know.
            m_readFailed = true;
            m_failureCode = GetLastError();
            m_atEnd = true;
        } else if (got == 0) {
            m_atEnd = true;
        }
    }
    return TRUE;
}

BOOL CLineFile::ReadLine(std::string& line)
{
    line.clear();
    if (!IsOpen() || m_mode != modeRead)
        return FALSE;
    m_hadLineEnd = false;
    if (m_buffer.size() - m_bufferOffset < m_maxLineLength + 2)
        FillBuffer();
    // After a failed read the bytes buffered may end inside a line: none is returned.
    if (m_readFailed)
        return FALSE;
    const std::size_t start = m_bufferOffset;
    if (!ReadNextLine(m_buffer, m_bufferOffset, line, m_maxLineLength))
        return FALSE;
    m_hadLineEnd = m_bufferOffset - start > line.size();
    return TRUE;
}

std::size_t CLineFile::ReadLinesAsCrLf(std::size_t count, std::string& out)
{
    std::size_t done = 0;
    if (!IsOpen() || m_mode != modeRead)
        return 0;
    // A whole line and its CR LF: the most a line within the piece length spans.
    const std::size_t longest = m_maxLineLength + 2;
    std::string line;
    while (done < count) {
        if (m_buffer.size() - m_bufferOffset < longest)
            FillBuffer();
        if (m_readFailed)
            break;
        const char* const bytes = m_buffer.data();
        const std::size_t end = m_buffer.size();
        const std::size_t spanStart = m_bufferOffset;
        std::size_t at = m_bufferOffset;
        while (done < count && at < end) {
            const std::size_t searched = end - at < longest ? end - at : longest;
            const void* found = std::memchr(bytes + at, '\n', searched);
            if (!found)
                break;
            const std::size_t feed = static_cast<std::size_t>(static_cast<const char*>(found) - bytes);
            // Only a line ReadLine gives whole, ended by CR LF, is already as a rewrite
            // writes it.
            if (feed == at || bytes[feed - 1] != '\r' || feed - at - 1 > m_maxLineLength)
                break;
            at = feed + 1;
            ++done;
        }
        out.append(bytes + spanStart, at - spanStart);
        m_bufferOffset = at;
        if (done >= count || (at >= end && m_atEnd))
            break;
        if (at >= end || (end - at < longest && !m_atEnd))
            continue;  // more bytes first
        // A line of another form: cut and ended as ReadLine does.
        if (!ReadLine(line))
            break;
        out += line;
        out += "\r\n";
        ++done;
    }
    return done;
}

BOOL CLineFile::WriteLine(const std::string& text)
{
    if (!IsOpen() || m_mode == modeRead)
        return FALSE;
    if (m_writeBufferLimit == 0) {
        std::string out;
        out.reserve(text.size() + 16);
        AppendWithCrLf(out, text);
        WriteOut(out.data(), out.size());
        return TRUE;
    }
    AppendWithCrLf(m_pendingWrites, text);
    if (m_pendingWrites.size() >= m_writeBufferLimit)
        WritePending();
    return TRUE;
}

BOOL CLineFile::WriteBytes(const char* bytes, std::size_t size)
{
    if (!IsOpen() || m_mode == modeRead)
        return FALSE;
    if (m_writeBufferLimit == 0) {
        WriteOut(bytes, size);
        return TRUE;
    }
    m_pendingWrites.append(bytes, size);
    if (m_pendingWrites.size() >= m_writeBufferLimit)
        WritePending();
    return TRUE;
}

void CLineFile::WriteOut(const char* bytes, std::size_t size)
{
    // In pieces a DWORD can count.
    while (size > 0 && !m_writeFailed) {
        const DWORD piece = static_cast<DWORD>(size < 0x40000000 ? size : 0x40000000);
        DWORD written = 0;
        if (!WriteFile(m_file, bytes, piece, &written, nullptr) || written != piece) {
            m_writeFailed = true;
            m_failureCode = GetLastError();
        }
        bytes += piece;
        size -= piece;
    }
}

void CLineFile::WritePending()
{
    WriteOut(m_pendingWrites.data(), m_pendingWrites.size());
    m_pendingWrites.clear();
}

BOOL CLineFile::SeekToBegin()
{
    return Seek(0, FILE_BEGIN);
}

BOOL CLineFile::SeekToEnd()
{
    return Seek(0, FILE_END);
}

BOOL CLineFile::Seek(long offset, int origin)
{
    if (!IsOpen() || origin < 0 || origin > 2)
        return FALSE;
    LONG distance = offset;
    if (origin == FILE_CURRENT && m_mode == modeRead) {
        // The file's own position is ahead by what is buffered and unread.
        distance -= static_cast<LONG>(m_buffer.size() - m_bufferOffset);
    }
    const DWORD moved = SetFilePointer(m_file, distance, nullptr, static_cast<DWORD>(origin));
    if (moved == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR)
        return FALSE;
    m_buffer.clear();
    m_bufferOffset = 0;
    m_atEnd = false;
    return TRUE;
}

BOOL CLineFile::IsEOF()
{
    if (!IsOpen() || m_mode != modeRead)
        return TRUE;
    if (m_bufferOffset >= m_buffer.size())
        FillBuffer();
    return m_bufferOffset >= m_buffer.size() ? TRUE : FALSE;
}

BOOL CLineFile::Flush()
{
    if (!IsOpen())
        return FALSE;
    WritePending();
    if (m_mode != modeRead && !m_writeFailed && !FlushFileBuffers(m_file)) {
        m_writeFailed = true;
        m_failureCode = GetLastError();
    }
    return m_writeFailed ? FALSE : TRUE;
}

namespace {

// The native query of the NT family, bound at run time: GetFileInformationByHandle also
// asks for the volume's serial number, which costs Wine a fifth of a millisecond.
typedef LONG(WINAPI* QueryInformationFileProc)(HANDLE, void* ioStatus, void* information, ULONG length,
                                               int informationClass);
const int kFileInternalInformation = 6;

struct IoStatus
{
    union {
        LONG status;
        void* pointer;
    };
    ULONG_PTR information;
};

QueryInformationFileProc GetQueryInformationFile()
{
    static const QueryInformationFileProc query = [] {
        HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        return ntdll ? reinterpret_cast<QueryInformationFileProc>(
                           reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQueryInformationFile")))
                     : nullptr;
    }();
    return query;
}

} // namespace

BOOL CLineFile::GetFileIdentity(FileIdentity& identity) const
{
    const QueryInformationFileProc query = GetQueryInformationFile();
    if (!IsOpen() || !query)
        return FALSE;
    IoStatus status = {};
    LARGE_INTEGER index = {};
    if (query(m_file, &status, &index, sizeof index, kFileInternalInformation) < 0)
        return FALSE;
    DWORD sizeHigh = 0;
    const DWORD sizeLow = GetFileSize(m_file, &sizeHigh);
    if (sizeLow == INVALID_FILE_SIZE && GetLastError() != NO_ERROR)
        return FALSE;
    if (m_lastWriteKept)
        identity.lastWrite = m_keptLastWrite;
    else if (!GetFileTime(m_file, nullptr, nullptr, &identity.lastWrite))
        return FALSE;
    identity.index = static_cast<unsigned long long>(index.QuadPart);
    identity.size = (static_cast<unsigned long long>(sizeHigh) << 32) | sizeLow;
    return TRUE;
}

BOOL CLineFile::KeepLastWriteTime()
{
    // Now, as closing would have stamped it: others (a rehearsal's timeline, a person
    // looking) read the time as when the file was written.
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    if (!IsOpen() || !SetFileTime(m_file, nullptr, nullptr, &now))
        return FALSE;
    m_keptLastWrite = now;
    m_lastWriteKept = true;
    return TRUE;
}

void CLineFile::Close()
{
    if (m_file != INVALID_HANDLE_VALUE) {
        WritePending();
        CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
    }
    m_buffer.clear();
    m_bufferOffset = 0;
    m_pendingWrites.clear();
    m_writeBufferLimit = 0;
    m_lastWriteKept = false;
}
