// The batch's file work beside its denoising: a thread of its own reads the next photo and saves
// the previous one while the batch thread runs the current photo's job, so that reading and
// saving add little to the batch's time. Requests run one at a time in the order given; the
// walker reads at most one photo ahead, so the batch holds at most four images of its photos.
#pragma once

#include <windows.h>

#include <atomic>

#include "app/view/BackBuffer.h"
#include "ui/ScopedWin32.h"

class BatchFileWorker
{
public:
    // Starts the thread; without one every request runs at once on the calling thread.
    // progressDlg receives WM_HPX_BATCH_FILE_DONE (may be null).
    explicit BatchFileWorker(HWND progressDlg);
    // Waits for the requests, ends the thread and frees what it holds.
    ~BatchFileWorker();
    BatchFileWorker(const BatchFileWorker&) = delete;
    BatchFileWorker& operator=(const BatchFileWorker&) = delete;

    // Reads the file quietly into Next() (after the requests before it).
    void Read(const wchar_t* path);
    // Takes over the result and alpha images (the records are emptied), writes them to output
    // with the metadata of input and reports the file done; a failed save is counted.
    void Save(ImageBuffer* result, ImageBuffer* alpha, const wchar_t* output, const wchar_t* input);
    // Reports a file done from the calling thread, after the requests before it.
    void ReportDone();
    // Waits until every request has run; messages sent to the calling thread are served
    // meanwhile.
    void Wait();
    bool Busy() const { return WaitForSingleObject(m_hIdle.get(), 0) != WAIT_OBJECT_0; }

    // The photo read last (after Wait): images, information strings; false when it could not be
    // read.
    CBackBuffer& Next() { return m_Next; }
    bool ReadSucceeded() const { return m_bReadOk; }
    // Saves that failed since the last call (after Wait).
    int TakeSaveFailures();
    // Whether the progress dialog answered a file's report with "cancelled" (Cancel was pressed
    // before it): no photo after that file is begun or written. The job running meanwhile is cut
    // short (the engine's abort), which AbortedJobs tells. Read on the walker's thread at any
    // time, set by whichever thread reported.
    bool CancelledAtLastDone() const { return m_bCancelledAtLastDone; }
    bool AbortedJobs() const { return m_bAbortedJobs; }

private:
    enum Task
    {
        kNoTask,
        kRead,
        kSave
    };
    struct Request
    {
        Task task;
        wchar_t input[1024];
        wchar_t output[1024];
        ImageBuffer result;
        ImageBuffer alpha;
    };
    static DWORD WINAPI ThreadProc(LPVOID self);
    void Queue(const Request& request);
    void Run(Request& request);
    void SendDone();

    HWND m_hProgressDlg;
    ScopedHandle m_hThread;
    ScopedHandle m_hWork;  // auto-reset: a request was queued, or the thread is to end
    ScopedHandle m_hIdle;  // manual-reset: nothing queued or running
    CRITICAL_SECTION m_Lock;
    Request m_aQueue[2];  // a save and a read at most
    int m_iQueued = 0;
    bool m_bStop = false;
    CBackBuffer m_Next{};
    CBackBuffer m_Saving{};
    bool m_bReadOk = false;
    int m_iSaveFailures = 0;
    std::atomic<bool> m_bCancelledAtLastDone{false};
    std::atomic<bool> m_bAbortedJobs{false};
};
