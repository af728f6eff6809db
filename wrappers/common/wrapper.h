// The contract between the engine and every installer-wrapper plug-in. The engine and
// the plug-ins include this one definition; plug-ins built by other compilers must
// match it byte for byte:
//  - a CWrapper object's first pointer-sized word points at a table of exactly seven
//    pointer-sized operation addresses in the order below, called with the platform's
//    member-function convention (WRAPPER_SLOT_CALL below); no virtual destructor, no data
//    members;
//  - the library exports CreateWrapperInstance and DestroyWrapperInstance, cdecl, with
//    plain names; an object is always destroyed by the library that created it;
//  - strings cross as zero-terminated ANSI text in a buffer the caller owns for the
//    duration of the call; the callee may change it (it is the callee's own copy) but
//    never frees it or keeps it after returning. BOOL results: non-zero is success.
// The engine loads only plug-ins of its own architecture: Windows refuses a library of
// the other one (ERROR_BAD_EXE_FORMAT), which the engine reports as any failed load.
#pragma once

// How an operation of the table is called, for code that builds or calls the table by
// hand (a plug-in in C):
//  - 32-bit Windows (i686): thiscall. The object in ECX, the arguments pushed right to
//    left, the callee removes them; the result in EAX.
//  - 64-bit Windows (x86-64): the platform's one convention. The object is the first
//    argument (RCX), then the operation's arguments (RDX, R8); the caller reserves 32
//    bytes of shadow space above the return address and removes it; the result in EAX.
#if defined(__i386__)
#define WRAPPER_SLOT_CALL __attribute__((thiscall))
#elif defined(__x86_64__)
#define WRAPPER_SLOT_CALL
#else
#error "the wrapper contract is defined for 32-bit and 64-bit x86 Windows"
#endif

#ifdef __cplusplus

class CWrapper
{
public:
    // Slots 0 to 2: implemented once for every plug-in (wrapper.cpp, linked by the
    // plug-ins only), not called by the engine.
    virtual int SpawnTask(char* commandLine, int timeoutSeconds);
    virtual int DeleteTree(char* directory);
    virtual void WriteErrorMessage(char* message);
    // Slots 3 to 6: the install phases the engine drives, one object per entry and pass.
    virtual int PreInstallApplication() = 0;
    virtual int InstallApplication(char* installCommand, int timeoutSeconds) = 0;
    virtual int PostInstallApplication() = 0;
    virtual int CleanupInstallationFiles(char* cleanDirectory) = 0;
};

extern "C" {
typedef CWrapper* (*CreateWrapperInstanceProc)(void);
typedef void (*DestroyWrapperInstanceProc)(CWrapper* wrapper);
}

#endif

// The error file both sides append their failure lines to, one record per line; its
// existence marks the whole run as failed.
#define WRAPPER_ERROR_FILE "c:\\velk\\nuv.err"

// The export names, as GetProcAddress looks them up.
#define WRAPPER_CREATE_EXPORT "CreateWrapperInstance"
#define WRAPPER_DESTROY_EXPORT "DestroyWrapperInstance"
