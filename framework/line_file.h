// Our stand-in for the framework's text file: read and written line by line (the run
// list, its rewrite, the diskette copy, the message texts). Reading cuts lines as
// line_file_text.h says; writing turns each lone line feed into CR LF, as a text-mode
// stream does.
#pragma once

#include "line_file_text.h"

#include <windows.h>

#include <string>

// What tells one state of a file from another without reading it.
struct FileIdentity
{
    unsigned long long index = 0;
    unsigned long long size = 0;
    FILETIME lastWrite = {0, 0};

    bool operator==(const FileIdentity& other) const
    {
        return index == other.index && size == other.size && lastWrite.dwLowDateTime == other.lastWrite.dwLowDateTime &&
               lastWrite.dwHighDateTime == other.lastWrite.dwHighDateTime;
    }
};

class CLineFile
{
public:
    enum OpenMode { modeRead, modeWrite, modeAppend };

    // Lines are read in pieces of at most maxLineLength characters (the engine's 4095,
    // the utilities' 1023); each piece is a line of its own.
    explicit CLineFile(std::size_t maxLineLength = kMaxLineLength);
    virtual ~CLineFile();
    CLineFile(const CLineFile&) = delete;
    CLineFile& operator=(const CLineFile&) = delete;

    // modeRead: an existing file; modeWrite: created or emptied; modeAppend: created,
    // or written at its end. On failure GetLastError() tells why.
    virtual BOOL Open(const std::string& path, OpenMode mode);
    // The next line without its line end, at most the piece length. FALSE when the
    // file is not open, nothing is left, or a read failed (HasReadFailed).
    virtual BOOL ReadLine(std::string& line);
    // Reads up to count lines as ReadLine would and appends each to out as a rewrite
    // gives it: its bytes and CR LF. Lines that already end in CR LF within the piece
    // length go over together as spans of bytes, each line still found and checked.
    // Returns how many were read; fewer than count at the end of the file or when a read
    // failed (HasReadFailed).
    virtual std::size_t ReadLinesAsCrLf(std::size_t count, std::string& out);
    // Whether a line end followed the line read last (a piece of a longer line, and a
    // last line without a line end, have none).
    BOOL HadLineEnd() const { return m_hadLineEnd; }
    // Writes the text as it is, with no line end added.
    virtual BOOL WriteLine(const std::string& text);
    // Writes the bytes as they are: no line end is turned into CR LF.
    BOOL WriteBytes(const char* bytes, std::size_t size);
    // From now until Close, writes gather up to this many bytes before they go to the
    // file in one call (Flush and Close write what is gathered). Only for a file that
    // means nothing until it is whole, such as a rewrite: a line is not on the disk
    // when WriteLine returns.
    void SetWriteBuffer(std::size_t bytes) { m_writeBufferLimit = bytes; }
    virtual BOOL SeekToBegin();
    virtual BOOL SeekToEnd();
    virtual BOOL Seek(long offset, int origin);
    virtual BOOL IsEOF();
    virtual void Close();

    BOOL IsOpen() const { return m_file != INVALID_HANDLE_VALUE; }
    // Forces what was written onto the disk; FALSE when that failed or a write had.
    BOOL Flush();
    // The open file's index on its volume, size and last-write time as the system has
    // them; FALSE where it cannot tell (the 9x family gives no index this way).
    BOOL GetFileIdentity(FileIdentity& identity) const;
    // Sets the open file's last-write time to now, so that closing it does not move it (a
    // file system may stamp a written file as its handle closes), and remembers it for
    // GetFileIdentity, which then need not read it back.
    BOOL KeepLastWriteTime();
    // Whether every write since Open reached the file.
    BOOL HasWriteFailed() const { return m_writeFailed; }
    // Whether a read since Open failed: the lines read so far are not the whole file.
    BOOL HasReadFailed() const { return m_readFailed; }
    // The system's error code of the failed read or write.
    DWORD GetFailureCode() const { return m_failureCode; }

private:
    BOOL FillBuffer();
    void WriteOut(const char* bytes, std::size_t size);
    void WritePending();

    std::size_t m_maxLineLength;
    HANDLE m_file;
    OpenMode m_mode;
    std::string m_buffer;        // bytes read ahead and not yet returned
    std::size_t m_bufferOffset;  // start of the unread bytes in m_buffer
    bool m_atEnd;                // the file has no bytes beyond m_buffer
    bool m_writeFailed;
    bool m_readFailed;
    bool m_hadLineEnd;
    DWORD m_failureCode;
    std::size_t m_writeBufferLimit;  // 0: every line is written at once
    std::string m_pendingWrites;
    bool m_lastWriteKept;  // KeepLastWriteTime set m_keptLastWrite on this handle
    FILETIME m_keptLastWrite;
};
