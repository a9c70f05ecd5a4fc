// Host suites acquired on demand and released when the module unloads.
#include "host/PluginMain.h"

HostSuiteHolder g_HostSuites[kHostSuiteCount] = {
    {nullptr, 3, "df135115-c769-11d0-8079-00c04fd7ec47", 0},
    {nullptr, 3, "bc1e4d70-f953-11d0-8d9f-00c04fd5f7ee", 0},
    {nullptr, 2, "3eb7c480-8797-11d1-8da7-00c04fd5f7ee", 0},
    {nullptr, 3, "df135117-c769-11d0-8079-00c04fd7ec47", 0},
    {nullptr, 2, "df135116-c769-11d0-8079-00c04fd7ec47", 0},
    {nullptr, 1, "61e608b0-40fd-11d1-8da3-00c04fd5f7ee", 0},
    {nullptr, 1, "Photoshop UIHooks Suite for Plug-ins", 0},
    {nullptr, 2, "Photoshop Handle Suite for Plug-ins", 0},
    {nullptr, 1, "AS ZString Suite", 0},
    {nullptr, 3, "SP Access Suite", 0},
    {nullptr, 4, "Photoshop GetFileList Suite for Plug-ins", 0},
    {nullptr, 1, "Photoshop Buffer Suite for Plug-ins", 0},
    {nullptr, 3, "Photoshop ChannelPorts Suite for Plug-ins", 0},
    {nullptr, 5, "SP Runtime Suite", 0},
    {nullptr, 1, "Photoshop Property Suite for Plug-ins", 0},
    {nullptr, 1, "Photoshop Alias Utility Suite", 0},
    {nullptr, 3, "Photoshop Resource Suite for Plug-ins", 0},
    {nullptr, 2, "JavaScript Scripting Suite", 0},
};

const void* HostSuiteHolder::Acquire()
{
    if (m_pSuite) return m_pSuite;
    if (!g_pSPBasic || !g_pSPBasic->AcquireSuite) throw HostSuiteError(int32_t(kParmError));
    const void* suite = nullptr;
    m_iError = g_pSPBasic->AcquireSuite(m_pszName, m_iVersion, &suite);
    if (m_iError != 0) throw HostSuiteError(m_iError);
    if (!suite)
    {
        m_iError = errPlugInHostInsufficient;
        throw HostSuiteError(m_iError);
    }
    m_pSuite = suite;
    return m_pSuite;
}

void HostSuiteHolder::Release()
{
    if (m_pSuite && g_pSPBasic && g_pSPBasic->ReleaseSuite)
    {
        g_pSPBasic->ReleaseSuite(m_pszName, m_iVersion);
        m_pSuite = nullptr;
    }
}

namespace
{
// Releases every held suite at unload, with the basic suite of the last call.
struct HostSuiteReleaser
{
    ~HostSuiteReleaser()
    {
        for (HostSuiteHolder& holder : g_HostSuites) holder.Release();
    }
} g_HostSuiteReleaser;
}  // namespace
