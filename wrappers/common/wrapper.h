// The contract between the engine and every installer-wrapper plug-in. The engine and
// the plug-ins include this one definition; plug-ins built by other compilers must
// match it byte for byte:
//  - a CWrapper object's first word points at a table of exactly seven operations in
//    the order below, called with the member-function convention (thiscall: the object
//    in ECX, the callee removes its arguments); no virtual destructor, no data members;
//  - the library exports CreateWrapperInstance and DestroyWrapperInstance, cdecl, with
//    plain names; an object is always destroyed by the library that created it;
//  - strings cross as zero-terminated ANSI text in a buffer the caller owns for the
//    duration of the call; the callee may change it (it is the callee's own copy) but
//    never frees it or keeps it after returning. BOOL results: non-zero is success.
#pragma once

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
