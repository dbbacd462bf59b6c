#pragma once
// The command line of oxbsim.exe.
//
//   --name NAME          the control pipe is \\.\pipe\NAME ("oxbsim" unless given)
//   --record FILE        keep the record of the run in FILE (started afresh)
//   --ready-event NAME   set this existing event once the pipe is served
//   --stop-event NAME    end when this existing event is set (else on Ctrl+C)
//   --script FILE        directives, one per line (script.h)
//   --do DIRECTIVE       one directive; may be repeated, after those of --script

#include <string>
#include <vector>

struct SimOptions {
    std::wstring name = L"oxbsim";
    std::wstring recordPath;
    std::wstring readyEvent;
    std::wstring stopEvent;
    std::wstring scriptPath;
    std::vector<std::string> directives;
};

bool ParseOptions(int argc, wchar_t **argv, SimOptions *options, std::string *error);
