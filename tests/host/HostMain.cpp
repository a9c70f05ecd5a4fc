// hpx_testhost: runs a filter plug-in on an image the way an image editor does, and writes
// what the plug-in handed back into an image file.
//
//   hpx_testhost.exe <plugin.8bf> <in-image | gen:WxHxPLANESxDEPTH> <out-image> [options]
//
// Order of calls: about; parameters, prepare, start, continue until the rectangles are empty,
// finish; then the repeat run of the same filter (prepare, start, continue, finish without
// the parameters selector, with the recorded descriptor and no dialog), which must leave the
// document unchanged. The output file holds the document after the first run.
//
// Options:
//   --small-coords    offer no bigDocumentData (16-bit rectangles only)
//   --mask            the document has a selection mask
//   --refuse-suites   the basic suite refuses the registry and descriptor suites
//   --no-basic-suite  no basic suite at all
//   --no-about        skip the about selector
//   --no-repeat       skip the repeat run
//   --exif <file>     serve the file's bytes as the document's EXIF property (by default the
//                     input file's own EXIF block is served)
//   --demo-user L,C   with --screenshot: a user sets the luma and chroma strengths (trackbar
//                     positions, strength x 20), presses Denoise and waits for the result first
//   --screenshot <png> the plug-in's window is left open for a moment, its client area written
//                     to the PNG file, then closed (by default it is closed as soon as it shows)
//
// Exit code 0 only when every selector succeeded and the host saw no misuse of its procedures.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "tests/host/DemoScript.h"
#include "tests/host/ScriptedUser.h"
#include "tests/host/TestHost.h"

namespace
{

std::string Narrow(const std::wstring& w)
{
    std::string s;
    for (wchar_t c : w) s += (c < 128) ? char(c) : '?';
    return s;
}

// Unix paths (as build scripts pass them) become Wine paths.
std::wstring HostArg(const wchar_t* arg)
{
    std::wstring a = arg;
    return (!a.empty() && a[0] == L'/') ? hpxhost::HostPath(Narrow(a)) : a;
}

bool ParseGenerated(const std::wstring& spec, hpxhost::HostDocument* doc)
{
    int w = 0, h = 0, planes = 0, depth = 0;
    if (std::swscanf(spec.c_str(), L"gen:%dx%dx%dx%d", &w, &h, &planes, &depth) != 4) return false;
    if (w < 1 || h < 1 || w > 10000 || h > 10000 || planes < 1 || planes > 4 || (depth != 8 && depth != 16))
        return false;
    *doc = hpxhost::MakeGeneratedDocument(w, h, planes, depth, 1);
    return true;
}

int Usage()
{
    std::fprintf(stderr,
                 "usage: hpx_testhost.exe <plugin.8bf> <in-image | gen:WxHxPLANESxDEPTH> <out-image>\n"
                 "       [--small-coords] [--mask] [--refuse-suites] [--no-basic-suite] [--no-about]\n"
                 "       [--no-repeat] [--exif <file>] [--screenshot <png> [--demo-user L,C]]\n");
    return 2;
}

int Run(int argc, wchar_t** argv)
{
    if (argc < 4) return Usage();
    const std::wstring pluginPath = HostArg(argv[1]);
    const std::wstring inPath = HostArg(argv[2]);
    const std::wstring outPath = HostArg(argv[3]);

    hpxhost::TestHost host;
    hpxhost::ScriptedUser user;
    std::wstring screenshot;
    int demoLuma = -1, demoChroma = -1;
    bool about = true, repeat = true;
    for (int i = 4; i < argc; ++i)
    {
        const std::wstring a = argv[i];
        if (a == L"--small-coords")
            host.options.bigDocument = false;
        else if (a == L"--mask")
            host.options.mask = true;
        else if (a == L"--refuse-suites")
            host.options.serveSuites = false;
        else if (a == L"--no-basic-suite")
            host.options.basicSuite = false;
        else if (a == L"--no-about")
            about = false;
        else if (a == L"--no-repeat")
            repeat = false;
        else if (a == L"--screenshot" && i + 1 < argc)
            screenshot = HostArg(argv[++i]);
        else if (a == L"--demo-user" && i + 1 < argc)
        {
            if (std::swscanf(argv[++i], L"%d,%d", &demoLuma, &demoChroma) != 2) return Usage();
        }
        else if (a == L"--exif" && i + 1 < argc)
        {
            FILE* f = _wfopen(HostArg(argv[++i]).c_str(), L"rb");
            if (!f) return Usage();
            unsigned char buf[4096];
            size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
                host.options.exif.insert(host.options.exif.end(), buf, buf + n);
            std::fclose(f);
        }
        else
        {
            return Usage();
        }
    }

    hpxhost::HostDocument doc;
    std::string error;
    std::vector<uint8_t> fileExif;
    if (!ParseGenerated(inPath, &doc) && !hpxhost::LoadDocumentFromFile(inPath, &doc, &error, &fileExif))
    {
        std::printf("cannot read %s: %s\n", Narrow(inPath).c_str(), error.c_str());
        return 1;
    }
    if (host.options.exif.empty()) host.options.exif = fileExif;
    std::printf("document: %dx%d, %d planes, %d bits, %u bytes of EXIF\n", doc.width, doc.height, doc.planes, doc.depth,
                unsigned(host.options.exif.size()));
    host.SetDocument(doc);

    if (!host.Load(pluginPath, &error))
    {
        std::printf("cannot load %s: %s\n", Narrow(pluginPath).c_str(), error.c_str());
        return 1;
    }
    std::printf("plug-in loaded, property list and entry point found\n");

    if (!screenshot.empty())
    {
        if (demoLuma >= 0) hpxhost::AddDemoSteps(user, demoLuma, demoChroma);
        user.Pause(500).Shot(nullptr, Narrow(screenshot)).Close();
        host.user = &user;
    }

    bool ok = true;
    if (about)
    {
        const OSErr r = host.About();
        std::printf("about: %d (About box %s)\n", r, host.aboutSeen ? "shown and closed" : "not seen");
        ok = ok && r == noErr && host.aboutSeen;
    }

    hpxhost::RunReport run = host.RunFilter(true);
    std::printf("run: %s\n", run.Describe().c_str());
    if (host.user)
    {
        host.user = nullptr;  // the repeat run shows no window
        for (const std::string& e : user.errors) std::printf("user: %s\n", e.c_str());
        if (user.sawWindow && user.errors.empty())
            std::printf("window shown, screenshot written to %s\n", Narrow(screenshot).c_str());
        ok = ok && user.sawWindow && user.errors.empty();
    }
    ok = ok && run.ok;
    const hpxhost::HostDocument first = host.Output();
    std::printf("output %s the input\n", first == doc ? "equals" : "differs from");

    if (run.ok && repeat)
    {
        host.AcceptOutput();
        host.options.playInfo = plugInDialogDontDisplay;
        hpxhost::RunReport again = host.RunFilter(false);
        std::printf("repeat run: %s\n", again.Describe().c_str());
        const bool unchanged = host.Output() == first;
        std::printf("repeat run %s the document\n", unchanged ? "left" : "CHANGED");
        ok = ok && again.ok && unchanged;
    }

    host.Unload();
    for (const std::string& e : host.protocolErrors) std::printf("host: %s\n", e.c_str());
    for (const auto& s : host.suitesHeld)
        if (s.second != 0) std::printf("host: suite %s still held %d time(s)\n", s.first.c_str(), s.second);
    ok = ok && host.protocolErrors.empty() && host.LockedHandles() == 0;

    if (!hpxhost::SaveDocumentToFile(outPath, first, &error))
    {
        std::printf("cannot write %s: %s\n", Narrow(outPath).c_str(), error.c_str());
        return 1;
    }
    std::printf("wrote %s\n%s\n", Narrow(outPath).c_str(), ok ? "every selector succeeded" : "FAILED");
    return ok ? 0 : 1;
}

}  // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    const int code = Run(argc, argv);
    LocalFree(argv);
    std::fflush(stdout);
    return code;
}
