// The generation of netvarix.dll. The interface list is not part of this build yet: every
// attempt answers ERROR_CALL_NOT_IMPLEMENTED, so the thread stays pending and still answers
// every request and the stop.
#include "nic_generation.h"

#include <new>

namespace {

class PendingGeneration final : public INicGeneration {
public:
    DWORD Init(CTrap *) override { return ERROR_CALL_NOT_IMPLEMENTED; }
    DWORD Update() override { return NO_ERROR; }
    int NeedReInit() override { return 0; }
    void ReleaseKeepingRecords() override { delete this; }
};

} // namespace

INicGeneration *NewNicGeneration()
{
    return new (std::nothrow) PendingGeneration();
}
