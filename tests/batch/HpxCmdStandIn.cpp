// Stands in for the sibling denoiser HPXCmd.exe in the batch tests: appends its command line (one
// UTF-8 line) to "hpxcmd-calls.txt" beside itself and writes the bytes of the file after -i to the
// path after -o, as the real program writes its denoised output (a new file, with times of its
// own: a copy would keep the input's and look like an output left by an earlier run). For an
// input named "fail*" it writes nothing. For an input named "hang*" it plays a program that stopped answering: it starts a
// child of its own ("-linger"), and both write their process ids to "hpxcmd-pids.txt" and sleep
// 15 s before the output is written.
#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

namespace
{

void Append(const std::wstring& file, const std::string& text)
{
    HANDLE h = CreateFileW(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(h, text.data(), DWORD(text.size()), &written, nullptr);
    CloseHandle(h);
}

// Writes the input's bytes as a new file at the output path.
bool WriteCopy(const wchar_t* input, const wchar_t* output)
{
    HANDLE in = CreateFileW(input, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE) return false;
    std::string bytes(GetFileSize(in, nullptr), '\0');
    DWORD n = 0;
    const bool read = ReadFile(in, &bytes[0], DWORD(bytes.size()), &n, nullptr) && n == bytes.size();
    CloseHandle(in);
    HANDLE out = read ? CreateFileW(output, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)
                      : INVALID_HANDLE_VALUE;
    if (out == INVALID_HANDLE_VALUE) return false;
    const bool written = WriteFile(out, bytes.data(), DWORD(bytes.size()), &n, nullptr) && n == bytes.size();
    return CloseHandle(out) && written;
}

}  // namespace

int wmain()
{
    const wchar_t* line = GetCommandLineW();
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder(self, n);
    folder = folder.substr(0, folder.find_last_of(L'\\') + 1);
    const std::wstring pids = folder + L"hpxcmd-pids.txt";
    if (wcsstr(line, L" -linger"))
    {
        Append(pids, std::to_string(GetCurrentProcessId()) + "\n");
        Sleep(15000);
        return 0;
    }

    const int bytes = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
    std::string text(size_t(bytes > 0 ? bytes - 1 : 0), '\0');
    if (bytes > 1) WideCharToMultiByte(CP_UTF8, 0, line, -1, &text[0], bytes, nullptr, nullptr);
    Append(folder + L"hpxcmd-calls.txt", text + "\n");

    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(line, &argc);
    const wchar_t* input = nullptr;
    const wchar_t* output = nullptr;
    for (int i = 1; argv && i + 1 < argc; ++i)
    {
        if (std::wstring(argv[i]) == L"-i") input = argv[i + 1];
        if (std::wstring(argv[i]) == L"-o") output = argv[i + 1];
    }
    // A photo named "hang..." plays a program that stops answering (for a while).
    const wchar_t* name = input ? wcsrchr(input, L'\\') : nullptr;
    if (name && wcsncmp(name + 1, L"hang", 4) == 0)
    {
        Append(pids, std::to_string(GetCurrentProcessId()) + "\n");
        wchar_t childLine[] = L"HPXCmd.exe -linger";
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (CreateProcessW(self, childLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        {
            CloseHandle(pi.hThread);
            CloseHandle(pi.hProcess);
        }
        Sleep(15000);
    }
    const bool fails = name && wcsncmp(name + 1, L"fail", 4) == 0;
    const bool copied = !fails && input && output && WriteCopy(input, output);
    LocalFree(argv);
    return copied ? 0 : 1;
}
