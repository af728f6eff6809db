// What the engine's Windows tests share: a clean C:\VELK for each test, a fixed clock,
// no real pauses, and small file helpers.
#pragma once

#include "nuv_app.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
void DeleteTreeForTest(const std::string& path);

// The fixed clock the tests run on: 6 December 2026, 18:25:04.
LocalTimeValues GetFixedTime();

// An application whose run mode and usage box only record that they were reached.
class CTestApp : public CNUVApp
{
public:
    int runModeCalls = 0;
    std::vector<std::string> usageTexts;

protected:
    void RunProgressDialog() override { ++runModeCalls; }
    void ShowUsageBox(const std::string& text) override { usageTexts.push_back(text); }
};

class EngineTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    int pauses = 0;
};
