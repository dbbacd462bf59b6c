// oxbsim.exe: the simulated management processor, the far end of the pipe channel backend.
// Modules: pipe_server (the channel driver and its pipes), control_exchange (the device
// controls), blackbox_responder (the health log service), echo_responder, fault_injector, and
// script (what a test tells it to do). See options.h and script.h for how to drive it.
#include "agentx_master.h"
#include "blackbox_responder.h"
#include "echo_responder.h"
#include "options.h"
#include "pipe_server.h"
#include "recorder.h"
#include "script.h"

#include <windows.h>

#include <cstdio>
#include <memory>

namespace {

HANDLE s_CtrlStop = nullptr;

BOOL WINAPI OnConsoleControl(DWORD)
{
    SetEvent(s_CtrlStop);
    return TRUE;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    SimOptions options;
    std::string error;
    if (!ParseOptions(argc, argv, &options, &error)) {
        fprintf(stderr, "oxbsim: %s\n", error.c_str());
        return 2;
    }
    Script script;
    if (!options.scriptPath.empty() && !ParseScriptFile(options.scriptPath, &script, &error)) {
        fprintf(stderr, "oxbsim: script: %s\n", error.c_str());
        return 2;
    }
    for (const std::string &directive : options.directives) {
        if (!ParseDirective(directive, &script, &error)) {
            fprintf(stderr, "oxbsim: --do \"%s\": %s\n", directive.c_str(), error.c_str());
            return 2;
        }
    }

    Recorder recorder;
    if (!options.recordPath.empty() && !recorder.Open(options.recordPath)) {
        fprintf(stderr, "oxbsim: cannot write the record file\n");
        return 2;
    }

    auto agentx = std::make_unique<AgentxMaster>(recorder);
    if (!agentx->Configure(script.agentx, &error)) {
        fprintf(stderr, "oxbsim: %s\n", error.c_str());
        return 2;
    }
    Simulator simulator(options, script, recorder);
    AgentxBridge *bridge = agentx->Bridge();
    if (bridge != nullptr)
        bridge->SetPoster([&simulator](uint32_t channel, Packet packet) { simulator.Post(channel, std::move(packet)); });
    simulator.AddResponder(std::move(agentx));
    auto blackbox = std::make_unique<BlackboxResponder>(recorder);
    if (!blackbox->Configure(script.blackbox, &error)) {
        fprintf(stderr, "oxbsim: %s\n", error.c_str());
        return 2;
    }
    simulator.AddResponder(std::move(blackbox));
    if (script.echo)
        simulator.AddResponder(std::make_unique<EchoResponder>());
    if (!simulator.Start(&error)) {
        fprintf(stderr, "oxbsim: %s\n", error.c_str());
        return 1;
    }
    recorder.Line("ready channels=%u echo=%d", script.channels, script.echo ? 1 : 0);

    if (!options.readyEvent.empty()) {
        UniqueHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, options.readyEvent.c_str()));
        if (ready)
            SetEvent(ready.Get());
    }
    UniqueHandle stop;
    if (!options.stopEvent.empty())
        stop.Reset(OpenEventW(SYNCHRONIZE, FALSE, options.stopEvent.c_str()));
    if (!stop) {
        stop.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        s_CtrlStop = stop.Get();
        SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    }
    WaitForSingleObject(stop.Get(), INFINITE);
    // The bridge's reader posts into the simulator: it ends first.
    if (bridge != nullptr)
        bridge->Close();
    simulator.Stop();
    recorder.Line("stopped");
    return 0;
}
