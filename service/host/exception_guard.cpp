#include "exception_guard.h"

#include <mutex>

namespace {

// Code that GCC's runtime raises for every C++ throw: never a structured exception of ours.
constexpr DWORD kGccThrow = 0x20474343;
constexpr DWORD kGccUnwind = 0x21474343;

struct GuardFrame {
    void *jump[5];  // __builtin_setjmp buffer
    DWORD code = 0;
    GuardFrame *outer = nullptr;
};

thread_local GuardFrame *t_Guard = nullptr;
LPTOP_LEVEL_EXCEPTION_FILTER g_PreviousFilter = nullptr;
std::once_flag g_FilterInstalled;

[[noreturn]] void __attribute__((noinline)) LandInGuard()
{
    __builtin_longjmp(t_Guard->jump, 1);
}

LONG WINAPI LastChanceFilter(EXCEPTION_POINTERS *info)
{
    DWORD code = info->ExceptionRecord->ExceptionCode;
    if (t_Guard != nullptr && code != kGccThrow && code != kGccUnwind) {
        t_Guard->code = code;
        // Resume at the landing as if it had been called: a 16-byte aligned stack less the
        // return address slot.
        CONTEXT *context = info->ContextRecord;
        context->Rsp = ((context->Rsp - 256) & ~static_cast<DWORD64>(15)) - 8;
        context->Rip = reinterpret_cast<DWORD64>(&LandInGuard);
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return g_PreviousFilter ? g_PreviousFilter(info) : EXCEPTION_CONTINUE_SEARCH;
}

bool __attribute__((noinline)) RunInFrame(GuardFrame *frame, void (*body)(void *), void *context)
{
    if (__builtin_setjmp(frame->jump) != 0)
        return false;
    try {
        body(context);
    } catch (const std::bad_alloc &) {
        frame->code = kExceptionNoMemory;
        return false;
    } catch (...) {
        frame->code = kExceptionLanguage;
        return false;
    }
    return true;
}

} // namespace

bool RunGuarded(void (*body)(void *context), void *context, DWORD *code)
{
    std::call_once(g_FilterInstalled, [] { g_PreviousFilter = SetUnhandledExceptionFilter(LastChanceFilter); });

    GuardFrame frame;
    frame.outer = t_Guard;
    t_Guard = &frame;
    bool returned = RunInFrame(&frame, body, context);
    t_Guard = frame.outer;
    if (!returned && code != nullptr)
        *code = frame.code;
    return returned;
}

void RaiseForCurrentException()
{
    DWORD code = kExceptionLanguage;
    try {
        throw;
    } catch (const std::bad_alloc &) {
        code = kExceptionNoMemory;
    } catch (...) {
    }
    RaiseException(code, 0, 0, nullptr);
}
