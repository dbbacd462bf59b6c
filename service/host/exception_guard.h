#pragma once
// Guards around the service's callbacks.
//
// A callback of the service may raise a structured exception (a hardware fault, or one raised
// with RaiseException) or let a C++ exception escape. The host must survive both: it reports the
// exception code as an event and goes on with its state sequence. The compiler offers no
// __try/__except, so RunGuarded catches structured exceptions through the process's last-chance
// filter: when an exception is about to go unhandled on a thread that is inside RunGuarded, the
// filter resumes that thread at a landing that jumps back to the guard. Handlers deeper in the
// callback therefore still see their exceptions first, as they would with __except.

#include <windows.h>

#include <exception>
#include <memory>
#include <type_traits>
#include <new>
#include <utility>

// Codes the service's callbacks raise for escaped C++ exceptions.
constexpr DWORD kExceptionNoMemory = 0xC0000017;  // std::bad_alloc
constexpr DWORD kExceptionLanguage = 0xC0000001;  // any other C++ exception

// Runs body(context). Returns true when it returned normally; false when it raised, with the
// exception code in *code. A C++ exception that reaches the guard counts as raised, with the
// codes above.
bool RunGuarded(void (*body)(void *context), void *context, DWORD *code);

template <class Body>
bool RunGuarded(Body &&body, DWORD *code)
{
    using Callable = std::remove_reference_t<Body>;
    auto thunk = [](void *context) { (*static_cast<Callable *>(context))(); };
    return RunGuarded(+thunk, const_cast<void *>(static_cast<const void *>(std::addressof(body))), code);
}

// Raises the structured exception that stands for the C++ exception being handled (call it from a
// catch block): allocation failure as kExceptionNoMemory, anything else as kExceptionLanguage;
// continuable, without arguments.
void RaiseForCurrentException();

// Runs body and turns an escaping C++ exception into the matching structured exception. The
// service's OnStart, OnRun and OnStop wrap their bodies with it.
template <class Body>
auto ConvertLanguageExceptions(Body &&body) -> decltype(body())
{
    try {
        return body();
    } catch (...) {
        RaiseForCurrentException();
    }
    return decltype(body())();
}
