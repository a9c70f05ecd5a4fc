#include "app/batch/BatchFileWorker.h"

#include <cstring>

#include "app/batch/BatchJob.h"
#include "app/window/WindowMessages.h"
#include "engine/NlmPlaneDenoise.h"  // g_bAbort
#include "profiles/CameraIsoHelpers.h"
#include "ui/CaughtExceptionTrace.h"

namespace
{

const DWORD kStackBytes = 0x1000000;  // 16 MiB: the image library's decoders and encoders

void TakeRecord(ImageBuffer* to, ImageBuffer* from)
{
    *to = *from;
    InitImage(from);
}

}  // namespace

BatchFileWorker::BatchFileWorker(HWND progressDlg) : m_hProgressDlg(progressDlg)
{
    InitializeCriticalSection(&m_Lock);
    m_hWork.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    m_hIdle.reset(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    if (m_hWork && m_hIdle)
        m_hThread.reset(
            CreateThread(nullptr, kStackBytes, ThreadProc, this, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
}

BatchFileWorker::~BatchFileWorker()
{
    if (m_hThread)
    {
        Wait();
        EnterCriticalSection(&m_Lock);
        m_bStop = true;
        LeaveCriticalSection(&m_Lock);
        SetEvent(m_hWork.get());
        WaitForSingleObject(m_hThread.get(), INFINITE);
    }
    DeleteCriticalSection(&m_Lock);
    ReleaseImage(&m_Next.m_Source);
    ReleaseImage(&m_Next.m_Alpha);
}

void BatchFileWorker::Read(const wchar_t* path)
{
    Request request{};
    request.task = kRead;
    CopyText(request.input, 1024, path);
    Queue(request);
}

void BatchFileWorker::Save(ImageBuffer* result, ImageBuffer* alpha, const wchar_t* output, const wchar_t* input)
{
    Request request{};
    request.task = kSave;
    CopyText(request.input, 1024, input);
    CopyText(request.output, 1024, output);
    TakeRecord(&request.result, result);
    TakeRecord(&request.alpha, alpha);
    Queue(request);
}

void BatchFileWorker::ReportDone()
{
    Wait();
    SendDone();
}

void BatchFileWorker::Wait()
{
    // The worker reports files done with SendMessageW: a caller that owns the progress window
    // (the tests' walker) must serve it while waiting.
    const HANDLE idle = m_hIdle.get();
    while (MsgWaitForMultipleObjects(1, &idle, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1)
    {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    }
}

int BatchFileWorker::TakeSaveFailures()
{
    const int failures = m_iSaveFailures;
    m_iSaveFailures = 0;
    return failures;
}

void BatchFileWorker::Queue(const Request& request)
{
    if (!m_hThread)
    {
        Request own = request;
        Run(own);
        return;
    }
    EnterCriticalSection(&m_Lock);
    const bool full = m_iQueued == 2;
    LeaveCriticalSection(&m_Lock);
    if (full) Wait();  // the walker asks for a save and a read at most: never more than the queue holds
    EnterCriticalSection(&m_Lock);
    m_aQueue[m_iQueued++] = request;
    ResetEvent(m_hIdle.get());
    LeaveCriticalSection(&m_Lock);
    SetEvent(m_hWork.get());
}

void BatchFileWorker::Run(Request& request)
{
    try
    {
        if (request.task == kRead)
        {
            ReleaseImage(&m_Next.m_Source);
            ReleaseImage(&m_Next.m_Alpha);
            m_bReadOk = !m_Next.OpenImageFile(request.input, true);
        }
        else if (request.task == kSave)
        {
            TakeRecord(&m_Saving.m_Result, &request.result);
            TakeRecord(&m_Saving.m_Alpha, &request.alpha);
            // A failed save is passed over like an unreadable file; the end of the run tells it.
            if (m_Saving.SaveImageFile(request.output, request.input)) ++m_iSaveFailures;
        }
    }
    catch (...)
    {
        // Nothing leaves the thread: a read or save that throws has failed.
        TraceCaughtException("BatchFileWorker::Run");
        if (request.task == kRead) m_bReadOk = false;
        if (request.task == kSave) ++m_iSaveFailures;
    }
    if (request.task == kSave)
    {
        ReleaseImage(&m_Saving.m_Result);
        ReleaseImage(&m_Saving.m_Alpha);
        ReleaseImage(&request.result);
        ReleaseImage(&request.alpha);
        SendDone();
    }
}

void BatchFileWorker::SendDone()
{
    // The thread that moves the bar says whether Cancel was pressed before this report, so that
    // what is written follows what the person saw: Cancel while the bar shows n files writes
    // the file after them, and no other, however the threads are timed. Without that window
    // (or with it gone) the flag itself decides.
    bool cancelled = g_bBatchClosing != 0;
    if (!cancelled)
        cancelled = m_hProgressDlg && IsWindow(m_hProgressDlg)
            ? SendMessageW(m_hProgressDlg, WM_HPX_BATCH_FILE_DONE, 0, 0) != 0
            : g_bBatchAbort != 0;
    if (cancelled && !m_bCancelledAtLastDone)
    {
        m_bCancelledAtLastDone = true;
        m_bAbortedJobs = true;
        // The photo denoised beside this report comes after it: its job stops here.
        g_bAbort = 1;
    }
}

DWORD WINAPI BatchFileWorker::ThreadProc(LPVOID param)
{
    BatchFileWorker* self = static_cast<BatchFileWorker*>(param);
    for (;;)
    {
        WaitForSingleObject(self->m_hWork.get(), INFINITE);
        for (;;)
        {
            EnterCriticalSection(&self->m_Lock);
            if (self->m_iQueued == 0)
            {
                SetEvent(self->m_hIdle.get());
                const bool stop = self->m_bStop;
                LeaveCriticalSection(&self->m_Lock);
                if (stop) return 0;
                break;
            }
            Request request = self->m_aQueue[0];
            self->m_aQueue[0] = self->m_aQueue[1];
            --self->m_iQueued;
            LeaveCriticalSection(&self->m_Lock);
            self->Run(request);
        }
    }
}
