// Package sources prepared on Linux: a folder with one folder per drive, named by its
// letter ("C", "D", ...), holding what that drive will hold.
#pragma once

#include "run_list_check.h"

#include <string>

class CSourceFolder : public CSourceTree
{
public:
    explicit CSourceFolder(const std::string& folder);

    bool IsFile(const std::string& windowsPath) const override;
    bool IsFolder(const std::string& windowsPath) const override;
    std::string GetDriveLetters() const override { return m_letters; }

private:
    // The Linux path of a Windows path, each part matched ignoring letter case as
    // Windows does; empty when a part is missing.
    std::string FindHostPath(const std::string& windowsPath) const;

    std::string m_folder;
    std::string m_letters;
};
