// What the engine's Windows tests share: a clean C:\VELK for each test, a fixed clock,
// no real pauses, and small file helpers.
#pragma once

#include "nuv_app.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

// The file's bytes, or "<missing>" when it cannot be read.
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
// Sets the file's last-write time to the given hour of a day, in local time.
void SetWriteTime(const std::string& path, int year, int month, int day, int hour);
void DeleteTreeForTest(const std::string& path);
// A file of the build as the test prefix sees it: through the Z: drive.
std::string ToWindowsPath(const std::string& buildPath);

// Wine's own means, for what Win32 cannot make under Wine: a Unix symbolic link at link
// to the folder or file target (both Windows paths), which Windows programs see as a
// junction; a link "S:" is a second drive letter for target, as subst makes one. The
// link is removed when the object goes. IsMade tells whether it was.
class CUnixLink
{
public:
    CUnixLink(const std::string& target, const std::string& link);
    ~CUnixLink();
    CUnixLink(const CUnixLink&) = delete;
    CUnixLink& operator=(const CUnixLink&) = delete;
    bool IsMade() const { return m_made; }

private:
    std::string m_unixLink;
    bool m_made = false;
};

// Another program holding a file open as scanners do (sharing read and write, not
// delete), or, locking, sharing nothing; the file is created when missing. Constructed,
// the file is held, or the test has failed saying why.
class CHolder
{
public:
    explicit CHolder(const std::string& path, bool lock = false);
    ~CHolder() { Release(); }
    CHolder(const CHolder&) = delete;
    CHolder& operator=(const CHolder&) = delete;

    bool IsHolding() const;
    void Release();

private:
    HANDLE m_process = nullptr;
};

// The fixed clock the tests run on: 6 December 2026, 18:25:04.
LocalTimeValues GetFixedTime();

// An application whose run mode only records that it was reached.
class CTestApp : public CNUVApp
{
public:
    int runModeCalls = 0;

protected:
    void RunProgressDialog() override { ++runModeCalls; }
};

// The texts of the message boxes shown since the test began (none is shown for real).
const std::vector<std::string>& GetShownBoxes();

// The pause the tests put in place of the real one: it records the length asked for.
void RecordPauseForTest(unsigned long milliseconds);

class EngineTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // The pauses the code under test asked for, in milliseconds; none is taken.
    std::vector<unsigned long> pauseLengths;
};
