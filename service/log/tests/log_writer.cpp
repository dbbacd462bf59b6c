// Writes lines through s_CommonLog, for the tests that need a second process or a real file:
//     log_writer.exe MODULE ROUNDS
// Each round writes one line per level. Exits with the first nonzero result of a writer.
#include "common_log.h"

#include <cwchar>
#include <string>

int wmain(int argc, wchar_t **argv)
{
    if (argc < 3)
        return 2;
    const wchar_t *module = argv[1];
    const int rounds = _wtoi(argv[2]);

    // LogInit may fail on purpose (a test takes the mutex name); the writers still have to work.
    s_CommonLog.LogInit(L"TLM", module);
    int status = 0;
    // A long, fixed payload makes a torn line easy to see.
    const std::string padding(200, 'x');
    for (int round = 0; round < rounds; ++round) {
        s_CommonLog.Lock();
        s_CommonLog.SetFunction(L"LogWriter::Round");
        int results[] = {
            s_CommonLog.LogVerbose(L"round %d of %s verbose %hs", round, module, padding.c_str()),
            s_CommonLog.LogInformation(L"round %d of %s information %hs", round, module, padding.c_str()),
            s_CommonLog.LogWarning(L"round %d of %s warning %hs", round, module, padding.c_str()),
            s_CommonLog.LogError(L"round %d of %s error %hs", round, module, padding.c_str()),
        };
        s_CommonLog.Unlock();
        for (int result : results)
            if (status == 0)
                status = result;
    }
    return status;
}
