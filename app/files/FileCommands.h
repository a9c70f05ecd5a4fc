// The main window's document commands: open (Ctrl+O), save (Ctrl+S), step to the previous or
// next image of the folder (Page Up, Page Down) and close (sent by the batch command).
// Called by MainWndProc on the host's thread; each one is refused while a batch runs.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

void OnFileOpenCommand(HWND hWnd);
void OnFileSaveCommand(HWND hWnd);
// Opens the next image of the folder (forward, Page Down) or the previous one (Page Up).
void OnStepImageCommand(HWND hWnd, bool forward);
void OnFileCloseCommand(HWND hWnd);

// The window title of a document file: "Hushpix - <path>".
void SetDocumentTitle(HWND hWnd, const wchar_t* path);

// The images of the folder of a file, in listing order, and the number of the file among them:
// names (without the folder) of entries HasImageFileExtension accepts. *current is 0 when the
// file is not among them. Returns the count; names may be null to count only. The folder ends
// in a backslash.
int ListFolderImages(const wchar_t* folder, const wchar_t* currentName, std::vector<std::wstring>* names, int* current);
