// Helpers of the batch tests: test photos on disk, a folder tree per test, and the walker run
// against a document of its own with a window that counts the progress messages.
#pragma once

#include "ProfTestSupport.h"

#include <functional>
#include <string>

#include "app/batch/BatchJob.h"

namespace batchtest
{

// Writes a noisy test image (format by the name's extension), with an alpha image of its own when
// asked and the metadata (EXIF, ICC profile) of another file when one is named; false when it
// cannot be written.
bool WriteTestImage(const std::wstring& path, int width, int height, int channels = 3, int bits = 8, bool alpha = false,
                    const std::wstring& metadataFrom = std::wstring());
// What an image file holds; all zero when it cannot be read.
struct ImageFacts
{
    int width = 0, height = 0, bits = 0;
    bool alpha = false;
};
ImageFacts ReadFacts(const std::wstring& path);

// A window of its own class for a test (the class registered on first use).
HWND CreateTestWindow(const wchar_t* className, WNDPROC proc, HWND parent, DWORD style);

// Polls until the condition holds, for at most two minutes (the first programs of a fresh machine
// wait long for Wine); false when it never did.
bool WaitUntil(const std::function<bool()>& condition);

// Ids of the HPXCmd stand-in's processes recorded in the folder (see HpxCmdStandIn.cpp), and how
// many of them have ended.
struct StandInProcesses
{
    int listed = 0, ended = 0;
};
StandInProcesses ReadStandInProcesses(const std::wstring& folder);

// A private folder tree "photos" under the test's folders, settings and plug-in folder included.
class BatchFolders : public proftest::TempFolders
{
protected:
    void SetUp() override;
    void TearDown() override;
    std::wstring Tree() const { return m_root + L"\\photos"; }
    std::wstring Path(const wchar_t* relative) const { return Tree() + L"\\" + relative; }
    void MakeFolder(const wchar_t* relative) const;
    // Puts the HPXCmd stand-in (its Unix or Windows path) beside the plug-in.
    void InstallHpxCmd(const char* standIn) const;
    // Walks the tree on this thread as the batch thread would; returns the progress messages and
    // leaves the photos that failed in m_failed. With cancelAtReport the user presses Cancel
    // before that report arrives: it is the last photo written.
    int RunWalker(const std::wstring& tree = std::wstring(), int cancelAtReport = 0);
    int m_failed = 0;
};

}  // namespace batchtest
