// Runs every reading loader of the linked FreeImage over damaged files: truncations and byte changes
// of valid seed files. A loader that crashes, hangs, corrupts the heap or leaks on any of them must
// not see the files a user's folder holds (see AcceptedFormat in imagefiles/ImageFile.cpp).
// Run by scripts/sweep-loaders.sh; by hand:
//   hpx_loader_sweep seeds DIR             write seed files with FreeImage's writers, and the few
//                                          formats nobody writes, by hand
//   hpx_loader_sweep run DIR OUT [N [F,..]] N truncations and N byte changes per format (default
//                                          1000) over the seeds "FORMAT_name.ext" in DIR (only the
//                                          formats F when given); damaged files that fail go to
//                                          OUT; a table per format and one per seed to
//                                          standard output
//   hpx_loader_sweep reads FORMAT FILE...  "reads FILE" or "refuses FILE": whether FORMAT's loader
//                                          reads each file undamaged
//   hpx_loader_sweep selftest              shows that the heap check sees a one-byte overrun
// A seed's files are swept in shares of 50, and the shares of all seeds side by side, as many at
// once as the machine has processors (HPX_SWEEP_JOBS in the environment sets another count).
// Each batch of files is loaded by a worker process ("worker ..."), which logs every file before
// loading it: a crash ends only the worker, is recorded against that file, and the next worker
// goes on after it. The worker's watchdog thread ends it when one load runs past its limit.
#include <windows.h>
#include <psapi.h>

#include <FreeImage.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

#include "imagefiles/ImageFile.h"

namespace
{

// A load that takes more processor time than this is a hang (HPX_SWEEP_HANG_MS in the environment
// sets another limit). Processor time, not time on the clock: side by side with other work on a busy
// machine, a load waits for a processor a good part of the time.
DWORD g_dwHangMs = 10000;
// A load waiting this many times the limit on the clock, without using the processor, hangs too.
constexpr DWORD kWaitFactor = 10;
// A share of a seed's files with this many crashes, hangs or heap corruptions stops there: its
// format is refused already.
constexpr int kEnoughFindings = 5;
constexpr DWORD kWorkerExitHang = 0x4855;

using Bytes = std::vector<uint8_t>;

bool ReadFileBytes(const std::wstring& path, Bytes* out)
{
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (!f) return false;
    out->clear();
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) out->insert(out->end(), buffer, buffer + n);
    fclose(f);
    return true;
}

bool WriteFileBytes(const std::wstring& path, const Bytes& data)
{
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return false;
    const bool ok = data.empty() || fwrite(data.data(), 1, data.size(), f) == data.size();
    return fclose(f) == 0 && ok;
}

uint64_t Mix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Damaged file number i of a seed, of `perKind` truncations followed by `perKind` changed copies.
// Half the truncations cut inside the first bytes one by one (headers), the rest spread over the
// file; a changed copy has 1 to 4 bytes replaced, most of them in the first kilobyte.
void MakeDamaged(const Bytes& seed, int i, int perKind, Bytes* out)
{
    const size_t size = seed.size();
    if (i < perKind)
    {
        const size_t half = size_t(perKind / 2);
        size_t length = size_t(i);
        if (size_t(i) >= half && size > half)
            length = half + (size_t(i) - half) * (size - half) / (size_t(perKind) - half);
        out->assign(seed.begin(), seed.begin() + (length < size ? length : size - 1));
        return;
    }
    *out = seed;
    if (size == 0) return;
    uint64_t r = Mix(uint64_t(i) * 0x1000193ull + size);
    const int changes = 1 + int(r % 4);
    for (int c = 0; c < changes; ++c)
    {
        r = Mix(r);
        const size_t head = size < 1024 ? size : 1024;
        const size_t at = (r & 0xFF) < 160 ? (r >> 8) % head : (r >> 8) % size;
        const uint8_t values[] = {0x00, 0xFF, 0x7F, 0x80, 0x01, 0xFE};
        const unsigned how = unsigned(r >> 40) % 4;
        uint8_t& b = (*out)[at];
        if (how == 0)
            b = uint8_t(r >> 48);
        else if (how == 1)
            b ^= uint8_t(1u << ((r >> 48) % 8));
        else
            b = values[(r >> 48) % 6];
    }
}

// ---------------------------------------------------------------------------- heap checks

std::vector<HANDLE> ProcessHeaps()
{
    std::vector<HANDLE> heaps(GetProcessHeaps(0, nullptr) + 16);
    heaps.resize(GetProcessHeaps(DWORD(heaps.size()), heaps.data()));
    return heaps;
}

bool HeapsValid()
{
    for (HANDLE h : ProcessHeaps())
        if (!HeapValidate(h, 0, nullptr)) return false;
    return true;
}

// Bytes in blocks in use over every heap of the process (the C runtime's among them). With free
// checking on, Wine holds freed blocks back for a while, filled with 0xFEEEFEEE: not in use.
long long HeapBytesInUse()
{
    long long total = 0;
    for (HANDLE h : ProcessHeaps())
    {
        if (!HeapLock(h)) continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(h, &entry))
        {
            if (!(entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)) continue;
            // (Blocks take at least 8 bytes, whatever their size.)
            if (*static_cast<const DWORD*>(entry.lpData) != 0xFEEEFEEE) total += entry.cbData;
        }
        HeapUnlock(h);
    }
    return total;
}

long long PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
    // Wine leaves PrivateUsage 0 and counts the process's anonymous pages as its page-file use.
    return (long long)(counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage);
}

// ---------------------------------------------------------------------------- worker

HANDLE g_hLog = INVALID_HANDLE_VALUE;
volatile LONG g_iCurrent = -1;
volatile DWORD g_dwStart = 0;
HANDLE g_hLoadThread = nullptr;
volatile LONG64 g_llCpuStart = 0;

// Processor time the loading thread has taken, in ms.
LONG64 LoadThreadMs()
{
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(g_hLoadThread, &created, &exited, &kernel, &user)) return 0;
    const auto ms = [](const FILETIME& t) { return ((LONG64(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000; };
    return ms(kernel) + ms(user);
}

void BeginLoad(int i)
{
    g_llCpuStart = LoadThreadMs();
    g_dwStart = GetTickCount();
    g_iCurrent = i;
}

void Log(const char* format, ...)
{
    char line[256];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (n < 0) return;
    if (n > int(sizeof line) - 2) n = int(sizeof line) - 2;
    line[n++] = '\n';
    DWORD written;
    WriteFile(g_hLog, line, DWORD(n), &written, nullptr);  // unbuffered: survives a crash
}

LONG WINAPI OnCrash(EXCEPTION_POINTERS* e)
{
    Log("C %ld %08lx %p", long(g_iCurrent), e->ExceptionRecord->ExceptionCode, e->ExceptionRecord->ExceptionAddress);
    TerminateProcess(GetCurrentProcess(), e->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

DWORD WINAPI Watchdog(void*)
{
    for (;;)
    {
        Sleep(250);
        const LONG current = g_iCurrent;
        if (current >= 0 &&
            (LoadThreadMs() - g_llCpuStart > LONG64(g_dwHangMs) ||
             GetTickCount() - g_dwStart > kWaitFactor * g_dwHangMs))
        {
            Log("H %ld", long(current));
            TerminateProcess(GetCurrentProcess(), kWorkerExitHang);
        }
    }
}

// 0: the loader refused it, 1: loaded but not an image the plug-in takes, 2: taken.
int LoadOnce(FREE_IMAGE_FORMAT fif, Bytes& data)
{
    int result = 0;
    FIMEMORY* memory = FreeImage_OpenMemory(data.data(), DWORD(data.size()));
    if (!memory) return 0;
    try
    {
        // The road of a file through ReadImageFile: every loader's check of the content first,
        // then the loader under test (files reach it by their extension whatever they hold).
        FreeImage_GetFileTypeFromMemory(memory, 0);
        FreeImage_SeekMemory(memory, 0, SEEK_SET);
        if (FIBITMAP* bitmap = FreeImage_LoadFromMemory(fif, memory, LoadFlagsForFormat(fif)))
        {
            ImageInfoStrings info;
            ImageBuffer* image = nullptr;
            ImageBuffer* alpha = nullptr;
            result = FreeImageToImageBuffer(&info, &image, &alpha, bitmap) ? 1 : 2;
            DeleteImageRecord(image);
            DeleteImageRecord(alpha);
            FreeImage_Unload(bitmap);
        }
    }
    catch (...)
    {
        result = 0;
    }
    FreeImage_CloseMemory(memory);
    return result;
}

int Worker(const wchar_t* seedPath, int fif, int first, int count, int perKind, const wchar_t* logPath)
{
    g_hLog = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (g_hLog == INVALID_HANDLE_VALUE) return 2;
    Bytes seed, data;
    if (!ReadFileBytes(seedPath, &seed)) return 2;
    freopen("NUL", "w", stderr);  // the raw decoder reports every short read there
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(OnCrash);
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &g_hLoadThread, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    CreateThread(nullptr, 0, Watchdog, nullptr, 0, nullptr);
    FreeImage_Initialise(FALSE);
    // One load of the valid seed first: what a loader sets up once is no leak.
    LoadOnce(FREE_IMAGE_FORMAT(fif), seed);
    const long long privateBefore = PrivateBytes();
    for (int i = first; i < first + count; ++i)
    {
        MakeDamaged(seed, i, perKind, &data);
        const long long before = HeapBytesInUse();
        Log("B %d", i);
        BeginLoad(i);
        const int result = LoadOnce(FREE_IMAGE_FORMAT(fif), data);
        g_iCurrent = -1;
        const DWORD ms = DWORD(LoadThreadMs() - g_llCpuStart);
        if (!HeapsValid())
        {
            Log("V %d", i);
            TerminateProcess(GetCurrentProcess(), 3);
        }
        long long grown = HeapBytesInUse() - before;
        // Only what each of two more loads of the same file leaves again is a leak.
        for (int repeat = 0; repeat < 2 && grown > 0; ++repeat)
        {
            const long long again = HeapBytesInUse();
            BeginLoad(i);
            LoadOnce(FREE_IMAGE_FORMAT(fif), data);
            g_iCurrent = -1;
            grown = HeapBytesInUse() - again;
        }
        Log("E %d %lu %d %lld", i, ms, result, grown > 0 ? grown : 0);
    }
    Log("M %lld", PrivateBytes() - privateBefore);
    FreeImage_DeInitialise();
    return 0;
}

// ---------------------------------------------------------------------------- driver

struct Counts
{
    int seeds = 0, files = 0, loaded = 0, taken = 0, crashes = 0, hangs = 0, heap = 0, leaks = 0;
    long long leakedBytes = 0, privateGrowth = 0;
    DWORD maxMs = 0;
    // Adds the files and findings of a share (not its seed count).
    void Add(const Counts& c)
    {
        files += c.files;
        loaded += c.loaded;
        taken += c.taken;
        crashes += c.crashes;
        hangs += c.hangs;
        heap += c.heap;
        leaks += c.leaks;
        leakedBytes += c.leakedBytes;
        privateGrowth += c.privateGrowth;
        maxMs = std::max(maxMs, c.maxMs);
    }
};

std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

std::string Narrow(const std::wstring& s)
{
    std::string out;
    for (wchar_t c : s) out += c < 0x80 ? char(c) : '?';
    return out;
}

// The format a seed is for: the text before the first '_' of its name, as FreeImage names formats.
FREE_IMAGE_FORMAT SeedFormat(const std::wstring& name)
{
    const std::string prefix = Narrow(name.substr(0, name.find(L'_')));
    for (int i = 0; i < FreeImage_GetFIFCount(); ++i)
    {
        const char* format = FreeImage_GetFormatFromFIF(FREE_IMAGE_FORMAT(i));
        if (format && _stricmp(format, prefix.c_str()) == 0) return FREE_IMAGE_FORMAT(i);
    }
    return FIF_UNKNOWN;
}

// Runs workers over files [first, total) of one seed until every file has a record.
void SweepSeed(const std::wstring& exe, const std::wstring& seedPath, const std::wstring& outDir, int fif, int first,
               int total, int perKind, Counts* counts)
{
    Bytes seed, data;
    ReadFileBytes(seedPath, &seed);
    const std::wstring seedName = seedPath.substr(seedPath.find_last_of(L'\\') + 1);
    // A log of each share of files, so that sweeps of several side by side can share OUT.
    const std::wstring logPath = outDir + L"\\" + seedName + L"." + std::to_wstring(first) + L".log";
    int next = first;
    while (next < total && counts->crashes + counts->hangs + counts->heap < kEnoughFindings)
    {
        DeleteFileW(logPath.c_str());
        wchar_t command[2048];
        _snwprintf(command, 2047, L"\"%ls\" worker \"%ls\" %d %d %d %d \"%ls\"", exe.c_str(), seedPath.c_str(), fif,
                   next, total - next, perKind, logPath.c_str());
        command[2047] = 0;
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        {
            fprintf(stderr, "cannot start a worker (%lu)\n", GetLastError());
            exit(2);
        }
        // The worker's own watchdog ends a hung load; this wait only guards against a worker
        // that cannot even do that (a file is loaded up to three times, each within the limit).
        const DWORD guard =
            DWORD(std::min<ULONGLONG>(ULONGLONG(total - next) * 3 * kWaitFactor * g_dwHangMs + 60000, INFINITE - 1));
        if (WaitForSingleObject(pi.hProcess, guard) == WAIT_TIMEOUT) TerminateProcess(pi.hProcess, kWorkerExitHang);
        DWORD exitCode = 0;
        GetExitCodeProcess(pi.hProcess, &exitCode);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);

        FILE* f = _wfopen(logPath.c_str(), L"r");
        int open = -1;  // a file begun and not ended
        char kind = 0;
        char line[256];
        while (f && fgets(line, sizeof line, f))
        {
            int i = 0;
            unsigned long ms = 0;
            int result = 0;
            long long value = 0;
            if (line[0] == 'B' && sscanf(line + 2, "%d", &i) == 1)
            {
                open = i;
                kind = 0;
            }
            else if (line[0] == 'E' && sscanf(line + 2, "%d %lu %d %lld", &i, &ms, &result, &value) == 4)
            {
                ++counts->files;
                counts->loaded += result >= 1;
                counts->taken += result == 2;
                if (value > 0)
                {
                    ++counts->leaks;
                    counts->leakedBytes += value;
                    MakeDamaged(seed, i, perKind, &data);
                    WriteFileBytes(outDir + L"\\" + seedName + L"." + std::to_wstring(i) + L".leak", data);
                }
                if (ms > counts->maxMs) counts->maxMs = ms;
                next = i + 1;
                open = -1;
            }
            else if (line[0] == 'M' && sscanf(line + 2, "%lld", &value) == 1)
            {
                counts->privateGrowth += value;
            }
            else if ((line[0] == 'C' || line[0] == 'H' || line[0] == 'V') && sscanf(line + 2, "%d", &i) == 1)
            {
                kind = line[0];
                open = i;
            }
        }
        if (f) fclose(f);
        if (open < 0)
        {
            // Ended outside any load: nothing to record against a file, and a restart would fail again.
            if (next < total)
            {
                fprintf(stderr, "worker for %ls ended (%08lx) outside a load\n", seedPath.c_str(), exitCode);
                exit(2);
            }
            continue;
        }
        // The worker died inside file `open`: an exit without a record of its own is a crash too
        // (abort, stack overflow).
        if (kind == 0) kind = exitCode == kWorkerExitHang ? 'H' : 'C';
        ++counts->files;
        counts->crashes += kind == 'C';
        counts->hangs += kind == 'H';
        counts->heap += kind == 'V';
        MakeDamaged(seed, open, perKind, &data);
        const wchar_t* suffix = kind == 'C' ? L".crash" : kind == 'H' ? L".hang" : L".heap";
        WriteFileBytes(outDir + L"\\" + seedName + L"." + std::to_wstring(open) + suffix, data);
        next = open + 1;
    }
    DeleteFileW(logPath.c_str());
}

// Files swept in one share: the shares of all seeds are swept side by side.
constexpr int kShare = 50;

// A share of one seed's files [first, first + count), swept by one of the threads of Run.
struct SeedJob
{
    int fif = 0;
    std::wstring path;
    int perKind = 0, first = 0, count = 0;
    long long size = 0;
    Counts counts;
    DWORD seconds = 0;
};

struct SeedJobs
{
    const std::wstring* exe;
    const std::wstring* outDir;
    std::vector<SeedJob>* jobs;
    std::vector<size_t> order;
    volatile LONG next;
};

DWORD WINAPI SweepSeeds(void* parameter)
{
    SeedJobs* all = static_cast<SeedJobs*>(parameter);
    for (;;)
    {
        const LONG i = InterlockedIncrement(&all->next) - 1;
        if (i >= LONG(all->order.size())) return 0;
        SeedJob& job = (*all->jobs)[all->order[size_t(i)]];
        const DWORD start = GetTickCount();
        SweepSeed(*all->exe, job.path, *all->outDir, job.fif, job.first, job.first + job.count, job.perKind,
                  &job.counts);
        job.seconds = (GetTickCount() - start + 500) / 1000;
        // Progress, for a sweep that is stopped before the end.
        const Counts& c = job.counts;
        fprintf(stderr,
                "[%lds] %ls from %d: %d files, %d read, %d crashes, %d hangs, %d heap, %d leaks, max %lu cpu ms\n",
                long(job.seconds), job.path.substr(job.path.find_last_of(L'\\') + 1).c_str(), job.first, c.files,
                c.loaded, c.crashes, c.hangs, c.heap, c.leaks, c.maxMs);
    }
}

// Whether `only` (formats as FreeImage names them, comma-separated; empty for all) names the format.
bool Wanted(const std::string& only, const char* name)
{
    return only.empty() || ("," + only + ",").find("," + std::string(name) + ",") != std::string::npos;
}

// Sweeps the formats named in `only` (comma-separated, as FreeImage names them), or all when empty.
int Run(const std::wstring& exe, const std::wstring& dir, const std::wstring& outDir, int perFormat,
        const std::string& only)
{
    CreateDirectoryW(outDir.c_str(), nullptr);
    std::map<int, std::vector<std::wstring>> seeds;
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW((dir + L"\\*_*.*").c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) return 2;
    do {
        const FREE_IMAGE_FORMAT fif = SeedFormat(fd.cFileName);
        if (fif == FIF_UNKNOWN || !FreeImage_FIFSupportsReading(fif)) continue;
        if (!Wanted(only, FreeImage_GetFormatFromFIF(fif))) continue;
        // A seed its own loader refuses sweeps only the loader's first checks: say so.
        const std::wstring path = dir + L"\\" + fd.cFileName;
        FIBITMAP* valid = FreeImage_LoadU(fif, path.c_str(), LoadFlagsForFormat(fif));
        if (!valid) fprintf(stderr, "seed %ls does not load\n", fd.cFileName);
        FreeImage_Unload(valid);
        seeds[fif].push_back(path);
    } while (FindNextFileW(find, &fd));
    FindClose(find);

    // Every format gets perFormat truncations and perFormat changed copies in all, shared by its seeds.
    std::vector<SeedJob> jobs;
    for (const auto& format : seeds)
        for (const std::wstring& path : format.second)
        {
            SeedJob job;
            job.fif = format.first;
            job.path = path;
            job.perKind = (perFormat + int(format.second.size()) - 1) / int(format.second.size());
            Bytes data;
            ReadFileBytes(path, &data);
            job.size = (long long)data.size();
            for (int kind = 0; kind < 2; ++kind)
                for (int at = 0; at < job.perKind; at += kShare)
                {
                    job.first = kind * job.perKind + at;
                    job.count = std::min(kShare, job.perKind - at);
                    jobs.push_back(job);
                }
        }
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    int threads = int(system.dwNumberOfProcessors);
    if (const char* count = getenv("HPX_SWEEP_JOBS")) threads = atoi(count);
    if (threads < 1) threads = 1;
    // Every seed's first truncations and changed copies first, so that a sweep stopped early has
    // seen all seeds alike; the largest seeds, the slowest as a rule, first in each round.
    SeedJobs all{&exe, &outDir, &jobs, {}, 0};
    for (size_t i = 0; i < jobs.size(); ++i) all.order.push_back(i);
    auto round = [&](const SeedJob& job) { return (job.first % job.perKind) * 2 + job.first / job.perKind; };
    std::stable_sort(all.order.begin(), all.order.end(),
                     [&](size_t a, size_t b)
                     {
                         const SeedJob &x = jobs[a], &y = jobs[b];
                         return round(x) != round(y) ? round(x) < round(y) : x.size > y.size;
                     });
    const DWORD start = GetTickCount();
    std::vector<HANDLE> handles;
    for (int t = 0; t < threads && t < int(jobs.size()); ++t)
        handles.push_back(CreateThread(nullptr, 0, SweepSeeds, &all, 0, nullptr));
    for (HANDLE h : handles)
    {
        WaitForSingleObject(h, INFINITE);
        CloseHandle(h);
    }

    printf("%-8s %5s %6s %6s %6s %7s %5s %4s %5s %9s %9s %6s\n", "format", "seeds", "files", "loaded", "taken",
           "crashes", "hangs", "heap", "leaks", "leaked B", "priv KB", "cpu ms");
    for (int fif = 0; fif < FreeImage_GetFIFCount(); ++fif)
    {
        const char* name = FreeImage_GetFormatFromFIF(FREE_IMAGE_FORMAT(fif));
        if (!FreeImage_FIFSupportsReading(FREE_IMAGE_FORMAT(fif))) continue;
        if (!Wanted(only, name)) continue;
        Counts counts;
        if (seeds.count(fif)) counts.seeds = int(seeds[fif].size());
        for (const SeedJob& job : jobs)
        {
            if (job.fif == fif) counts.Add(job.counts);
        }
        printf("%-8s %5d %6d %6d %6d %7d %5d %4d %5d %9lld %9lld %6lu\n", name, counts.seeds, counts.files,
               counts.loaded, counts.taken, counts.crashes, counts.hangs, counts.heap, counts.leaks, counts.leakedBytes,
               counts.privateGrowth / 1024, counts.maxMs);
    }
    // Per seed (its shares added up); refused: neither read nor a finding; seconds: the workers' time.
    printf("\n%-34s %8s %6s %6s %7s %7s %5s %4s %5s %6s %7s\n", "seed", "bytes", "files", "read", "refused", "crashes",
           "hangs", "heap", "leaks", "cpu ms", "seconds");
    for (size_t i = 0; i < jobs.size();)
    {
        Counts c;
        DWORD seconds = 0;
        size_t j = i;
        for (; j < jobs.size() && jobs[j].path == jobs[i].path; ++j)
        {
            c.Add(jobs[j].counts);
            seconds += jobs[j].seconds;
        }
        const std::wstring name = jobs[i].path.substr(jobs[i].path.find_last_of(L'\\') + 1);
        printf("%-34s %8lld %6d %6d %7d %7d %5d %4d %5d %6lu %7lu\n", Narrow(name).c_str(), jobs[i].size, c.files,
               c.loaded, c.files - c.loaded - c.crashes - c.hangs - c.heap, c.crashes, c.hangs, c.heap, c.leaks,
               c.maxMs, seconds);
        i = j;
    }
    printf("%d shares of up to %d files, %d at a time, in %lu s\n", int(jobs.size()), kShare, threads,
           (GetTickCount() - start + 500) / 1000);
    fflush(stdout);
    return 0;
}

// Tells which files the loader of `format` reads as they are (the road of a sweep's files).
int Reads(const std::string& format, int count, wchar_t** paths)
{
    const FREE_IMAGE_FORMAT fif = FreeImage_GetFIFFromFormat(format.c_str());
    if (fif == FIF_UNKNOWN) return 2;
    for (int i = 0; i < count; ++i)
    {
        Bytes data;
        const bool read = ReadFileBytes(paths[i], &data) && LoadOnce(fif, data) >= 1;
        printf("%s %ls\n", read ? "reads" : "refuses", paths[i]);
    }
    return 0;
}

// ---------------------------------------------------------------------------- seeds

// A picture with gradients and noise, so that compressed seeds are not trivially small.
FIBITMAP* MakeSeedBitmap(FREE_IMAGE_TYPE type, int bpp, int width, int height)
{
    FIBITMAP* bitmap = FreeImage_AllocateT(type, width, height, bpp, 0, 0, 0);
    if (!bitmap) return nullptr;
    if (type == FIT_BITMAP && bpp <= 8)
    {
        RGBQUAD* palette = FreeImage_GetPalette(bitmap);
        for (int i = 0; i < (1 << bpp); ++i)
        {
            const BYTE v = BYTE(i * 255 / ((1 << bpp) - 1));
            palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = v;
        }
    }
    const unsigned pitch = FreeImage_GetLine(bitmap);
    uint64_t r = 12345;
    for (int y = 0; y < height; ++y)
    {
        BYTE* line = FreeImage_GetScanLine(bitmap, y);
        for (unsigned b = 0; b < pitch; ++b)
        {
            r = Mix(r);
            line[b] = BYTE((b * 7 + y * 5) + (r % 24));
        }
        if (type == FIT_RGBF || type == FIT_FLOAT)
        {
            float* f = reinterpret_cast<float*>(line);
            for (unsigned k = 0; k < pitch / 4; ++k) f[k] = float((k + y) % 64) / 64.0f;
        }
    }
    return bitmap;
}

void PutU16(Bytes& b, unsigned v, bool bigEndian = false)
{
    if (bigEndian)
        b.insert(b.end(), {uint8_t(v >> 8), uint8_t(v)});
    else
        b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)});
}

void PutU32(Bytes& b, uint32_t v, bool bigEndian = false)
{
    if (bigEndian)
    {
        PutU16(b, v >> 16, true);
        PutU16(b, v & 0xFFFF, true);
    }
    else
    {
        PutU16(b, v & 0xFFFF);
        PutU16(b, v >> 16);
    }
}

// A small camera raw file in the DNG layout: a 16-bit colour-filter mosaic in one TIFF strip.
Bytes MakeDng(int width, int height)
{
    struct Entry
    {
        unsigned tag, type;
        uint32_t count, value;
    };
    const char model[] = "Hushpix Sweep";
    const uint32_t entries = 16, ifd = 8, extra = ifd + 2 + entries * 12 + 4;
    const uint32_t modelAt = extra, pixelsAt = modelAt + 16;
    const uint32_t pixelBytes = uint32_t(width * height * 2);
    const Entry e[entries] = {{254, 4, 1, 0},
                              {256, 4, 1, uint32_t(width)},
                              {257, 4, 1, uint32_t(height)},
                              {258, 3, 1, 16},
                              {259, 3, 1, 1},
                              {262, 3, 1, 32803},
                              {271, 2, 4, 0x00787048},
                              {273, 4, 1, pixelsAt},
                              {277, 3, 1, 1},
                              {278, 4, 1, uint32_t(height)},
                              {279, 4, 1, pixelBytes},
                              {284, 3, 1, 1},
                              {33421, 3, 2, 0x00020002},
                              {33422, 1, 4, 0},
                              {50706, 1, 4, 0x00000401},
                              {50708, 2, sizeof model, modelAt}};
    Bytes b = {'I', 'I', 42, 0};
    PutU32(b, ifd);
    PutU16(b, entries);
    for (const Entry& x : e)
    {
        PutU16(b, x.tag);
        PutU16(b, x.type);
        PutU32(b, x.count);
        if (x.tag == 33422)
            b.insert(b.end(), {0, 1, 1, 2});  // red, green / green, blue
        else if (x.tag == 50706)
            b.insert(b.end(), {1, 4, 0, 0});
        else if (x.type == 3 && x.count == 1)
        {
            PutU16(b, x.value);
            PutU16(b, 0);
        }
        else if (x.tag == 33421)
        {
            PutU16(b, 2);
            PutU16(b, 2);
        }
        else
            PutU32(b, x.value);
    }
    PutU32(b, 0);
    b.insert(b.end(), model, model + sizeof model);
    b.resize(pixelsAt, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) PutU16(b, unsigned(((x * 997 + y * 613) % 3000) + 500));
    return b;
}

// Formats that no writer at hand makes, laid out by hand.
void WriteHandMadeSeeds(const std::wstring& dir)
{
    WriteFileBytes(dir + L"\\RAW_mosaic.dng", MakeDng(64, 48));

    // Commodore 64 multicolour picture: load address 0x6000, bitmap, screen and colour memory,
    // background colour.
    Bytes koala = {0x00, 0x60};
    for (int i = 0; i < 8000 + 1000 + 1000 + 1; ++i) koala.push_back(uint8_t(Mix(uint64_t(i)) & 0xFF));
    WriteFileBytes(dir + L"\\KOALA_picture.koa", koala);

    // Dr. Halo: width, height, a reserved word, then per row a byte count and run-length packets.
    Bytes cut;
    PutU16(cut, 40);
    PutU16(cut, 24);
    PutU16(cut, 0);
    for (int y = 0; y < 24; ++y)
    {
        Bytes row = {0x80 | 10, uint8_t(y * 3), 20};
        for (int x = 0; x < 20; ++x) row.push_back(uint8_t(x * 5 + y));
        row.insert(row.end(), {0x80 | 10, uint8_t(200 - y), 0});
        PutU16(cut, unsigned(row.size()));
        cut.insert(cut.end(), row.begin(), row.end());
    }
    WriteFileBytes(dir + L"\\CUT_halo.cut", cut);

    // Interleaved bitmap of 8 planes with a palette, uncompressed.
    const int w = 32, h = 20, planes = 8, rowBytes = ((w + 15) / 16) * 2;
    Bytes body;
    for (int i = 0; i < h * planes * rowBytes; ++i) body.push_back(uint8_t(Mix(uint64_t(i) + 7) & 0xFF));
    Bytes ilbm = {'I', 'L', 'B', 'M', 'B', 'M', 'H', 'D'};
    PutU32(ilbm, 20, true);
    PutU16(ilbm, w, true);
    PutU16(ilbm, h, true);
    PutU32(ilbm, 0, true);
    ilbm.insert(ilbm.end(), {uint8_t(planes), 0, 0, 0});
    PutU16(ilbm, 0, true);
    ilbm.insert(ilbm.end(), {10, 11});
    PutU16(ilbm, w, true);
    PutU16(ilbm, h, true);
    ilbm.insert(ilbm.end(), {'C', 'M', 'A', 'P'});
    PutU32(ilbm, 768, true);
    for (int i = 0; i < 768; ++i) ilbm.push_back(uint8_t(i / 3));
    ilbm.insert(ilbm.end(), {'B', 'O', 'D', 'Y'});
    PutU32(ilbm, uint32_t(body.size()), true);
    ilbm.insert(ilbm.end(), body.begin(), body.end());
    Bytes iff = {'F', 'O', 'R', 'M'};
    PutU32(iff, uint32_t(ilbm.size()), true);
    iff.insert(iff.end(), ilbm.begin(), ilbm.end());
    WriteFileBytes(dir + L"\\IFF_planes.lbm", iff);

    // SGI image stored verbatim: a 512-byte header, then the red, green and blue planes, rows bottom
    // first.
    Bytes sgi;
    PutU16(sgi, 474, true);
    sgi.insert(sgi.end(), {0, 1});  // verbatim, one byte per sample
    for (unsigned v : {3u, 40u, 24u, 3u}) PutU16(sgi, v, true);
    PutU32(sgi, 0, true);
    PutU32(sgi, 255, true);
    sgi.resize(512, 0);
    for (int i = 0; i < 40 * 24 * 3; ++i) sgi.push_back(uint8_t(Mix(uint64_t(i) + 11) & 0xFF));
    WriteFileBytes(dir + L"\\SGI_planes.sgi", sgi);
}

int WriteSeeds(const std::wstring& dir)
{
    CreateDirectoryW(dir.c_str(), nullptr);
    FreeImage_Initialise(FALSE);
    struct Kind
    {
        const char* name;
        FREE_IMAGE_TYPE type;
        int bpp;
    };
    const Kind kinds[] = {{"rgb8", FIT_BITMAP, 24}, {"rgba8", FIT_BITMAP, 32},  {"grey8", FIT_BITMAP, 8},
                          {"rgb16", FIT_RGB16, 48}, {"grey16", FIT_UINT16, 16}, {"rgbf", FIT_RGBF, 96},
                          {"float", FIT_FLOAT, 32}, {"mono", FIT_BITMAP, 1}};
    int written = 0;
    for (int i = 0; i < FreeImage_GetFIFCount(); ++i)
    {
        const FREE_IMAGE_FORMAT fif = FREE_IMAGE_FORMAT(i);
        if (!FreeImage_FIFSupportsWriting(fif) || !FreeImage_FIFSupportsReading(fif)) continue;
        const char* extensions = FreeImage_GetFIFExtensionList(fif);
        const std::string extension = std::string(extensions).substr(0, std::string(extensions).find(','));
        for (const Kind& kind : kinds)
        {
            if (!FreeImage_FIFSupportsExportType(fif, kind.type)) continue;
            if (kind.type == FIT_BITMAP && !FreeImage_FIFSupportsExportBPP(fif, kind.bpp)) continue;
            FIBITMAP* bitmap = MakeSeedBitmap(kind.type, kind.bpp, 40, 32);
            const std::wstring path = dir + L"\\" +
                Widen(std::string(FreeImage_GetFormatFromFIF(fif)) + "_fi-" + kind.name + "." + extension);
            if (bitmap && FreeImage_SaveU(fif, bitmap, path.c_str(), 0))
                ++written;
            else
                DeleteFileW(path.c_str());
            if (bitmap) FreeImage_Unload(bitmap);
        }
    }
    WriteHandMadeSeeds(dir);
    FreeImage_DeInitialise();
    printf("%d seeds written by FreeImage, 5 by hand\n", written);
    return 0;
}

int SelfTest()
{
    // The instrument itself: a one-byte overrun of a C runtime block must fail the heap check.
    if (!HeapsValid()) return printf("heaps invalid before the test\n"), 1;
    volatile char* block = static_cast<char*>(malloc(13));
    for (int i = 0; i <= 13; ++i) block[i] = 'x';
    const bool seen = !HeapsValid();
    printf("one-byte overrun %s by the heap check\n", seen ? "seen" : "NOT seen");
    return seen ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (const char* limit = getenv("HPX_SWEEP_HANG_MS")) g_dwHangMs = DWORD(atoi(limit));
    if (mode == L"worker" && argc == 8)
        return Worker(argv[2], _wtoi(argv[3]), _wtoi(argv[4]), _wtoi(argv[5]), _wtoi(argv[6]), argv[7]);
    if (mode == L"seeds" && argc == 3) return WriteSeeds(argv[2]);
    if (mode == L"selftest") return SelfTest();
    if (mode == L"reads" && argc >= 3)
    {
        freopen("NUL", "w", stderr);
        FreeImage_Initialise(FALSE);
        return Reads(Narrow(argv[2]), argc - 3, argv + 3);
    }
    if (mode == L"run" && argc >= 4 && argc <= 6)
    {
        FreeImage_Initialise(FALSE);
        return Run(exe, argv[2], argv[3], argc >= 5 ? _wtoi(argv[4]) : 1000, argc == 6 ? Narrow(argv[5]) : "");
    }
    fprintf(stderr,
            "usage: hpx_loader_sweep seeds DIR | run DIR OUT [N [FORMAT,...]] | reads FORMAT FILE... | "
            "selftest\n");
    return 2;
}
