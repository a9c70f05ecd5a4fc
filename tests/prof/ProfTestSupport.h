// Helpers of the profile, settings and dialog tests: a private per-user folder and plug-in folder
// for every test, file helpers, and a driver that answers a modal dialog from a second thread.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "profiles/Settings.h"

namespace proftest
{

std::wstring Widen(const std::string& s);
std::string Narrow(const std::wstring& s);

// Writes bytes to a file (creating it), reads a whole file; empty when it cannot be read.
void WriteBytes(const std::wstring& path, const std::string& bytes);
std::string ReadBytes(const std::wstring& path);
bool Exists(const std::wstring& path);
void RemoveTree(const std::wstring& path);

// Points the per-user and plug-in folders back at the program's private temporary folder.
void RestoreDefaultFolders();

// Every test gets its own application-data folder and plug-in folder under %TEMP%; nothing of a
// real user is touched. The folders are removed afterwards.
class TempFolders : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    std::wstring m_root;     // the test's private folder
    std::wstring m_appData;  // stands for the user's application-data folder
    std::wstring m_plugin;   // stands for the folder of the plug-in
    std::wstring UserFolder() const { return m_appData + L"\\HPXPhotoshopPlugIn"; }
    std::wstring UserProfile() const { return UserFolder() + L"\\CameraISOSettingX.ini"; }
    std::wstring ShippedProfile() const { return m_plugin + L"\\CameraISOSettingX.ini"; }
    std::wstring SettingsFile() const { return UserFolder() + L"\\HPXPhotoshopPlugIn.txt"; }
    std::wstring LocFile() const { return m_plugin + L"\\Hushpix_loc.ini"; }
};

// Runs show() (which opens a modal dialog on this thread) while a second thread waits for the
// dialog to appear and calls answer(dialog). Returns show()'s result. When no dialog appears in
// time, or the answer leaves it open, the dialog is closed with IDCANCEL and *timedOut is set.
INT_PTR DriveDialog(const std::function<INT_PTR()>& show, const std::function<void(HWND)>& answer, bool* timedOut);
// Waits up to the timeout for a visible dialog (#32770) of the thread other than `except`.
HWND WaitForDialog(DWORD threadId, HWND except, DWORD timeoutMs);
std::wstring WindowText(HWND hWnd);
std::wstring ItemText(HWND hDlg, int id);

// Copies what the window shows (BitBlt from its window DC) into a PNG under the test program's
// working folder "artefacts"; returns the path, empty on failure.
std::wstring SaveScreenshot(HWND hWnd, const wchar_t* name);

// Makes the n-th allocation through operator new on the calling thread fail (1: the next one),
// once; StopFailingAllocation ends that and says whether the failure was reached.
void FailAllocation(long n);
bool StopFailingAllocation();

// A visible top-level window that owns the dialogs of a test.
HWND CreateOwnerWindow();

}  // namespace proftest
