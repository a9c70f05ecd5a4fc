// Helpers of the batch tests: test photos on disk, a folder tree per test, and the walker run
// against a document of its own with a window that counts the progress messages.
#pragma once

#include "ProfTestSupport.h"

#include <string>

#include "app/batch/BatchJob.h"

namespace batchtest {

// Writes a noisy test image (format by the name's extension); false when it cannot be written.
bool WriteTestImage(const std::wstring& path, int width, int height, int channels = 3, int bits = 8);
// Width and height of an image file; 0, 0 when it cannot be read.
std::pair<int, int> ImageSize(const std::wstring& path);

// A private folder tree "photos" under the test's folders, settings and plug-in folder included.
class BatchFolders : public proftest::TempFolders
{
protected:
    void SetUp() override;
    void TearDown() override;
    std::wstring Tree() const { return m_root + L"\\photos"; }
    std::wstring Path(const wchar_t* relative) const { return Tree() + L"\\" + relative; }
    void MakeFolder(const wchar_t* relative) const;
    // Walks the tree on this thread as the batch thread would; returns the progress messages.
    int RunWalker(const std::wstring& tree = std::wstring());
};

}  // namespace batchtest
