// Helpers of the batch tests: test photos on disk, a folder tree per test, and the walker run
// against a document of its own with a window that counts the progress messages.
#pragma once

#include "ProfTestSupport.h"

#include <string>

#include "app/batch/BatchJob.h"

namespace batchtest
{

// Writes a noisy test image (format by the name's extension); false when it cannot be written.
bool WriteTestImage(const std::wstring& path, int width, int height, int channels = 3, int bits = 8);
// What an image file holds; all zero when it cannot be read.
struct ImageFacts
{
    int width = 0, height = 0, bits = 0;
    bool alpha = false;
};
ImageFacts ReadFacts(const std::wstring& path);
inline std::pair<int, int> ImageSize(const std::wstring& path)
{
    const ImageFacts facts = ReadFacts(path);
    return {facts.width, facts.height};
}

// A window of its own class for a test (the class registered on first use).
HWND CreateTestWindow(const wchar_t* className, WNDPROC proc, HWND parent, DWORD style);

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
