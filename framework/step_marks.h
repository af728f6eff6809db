// Points in the engine's walk that a measuring build times (bench/nuv_steps.cpp): each
// mark ends the step it names, so the time since the mark before belongs to that step.
// The shipped programs install no hook; a mark costs them one test of a pointer.
#pragma once

enum class WorkStep
{
    Other,           // what went before is none of the steps below
    EntryRead,       // the next entry found in the run list
    LibraryLoaded,   // the plug-in loaded (or found loaded) and its object created
    PreInstalled,    // the wrapper's three install calls, each
    Installed,
    PostInstalled,
    CleanedUp,       // CleanupInstallationFiles
    Released,        // the object handed back to its library
    RewriteWritten,  // a stamp's rewrite: the list opened, read and its lines written
    RewriteFlushed,  // the rewrite forced onto the disk and closed
    RewriteMoved,    // the rewrite in the list's place
    StartStamped,    // the rest of the stamp named
    StopStamped,
    CleanStamped,
    StopAndCleanStamped,
    ProgressSent,    // the dialog told of the finished entry
    WalkEnded
};

typedef void (*StepMarkHook)(WorkStep step);

inline StepMarkHook g_stepMarkHook = nullptr;

inline void MarkStep(WorkStep step)
{
    if (g_stepMarkHook)
        g_stepMarkHook(step);
}

// For the measuring build only.
inline void SetStepMarkHook(StepMarkHook hook)
{
    g_stepMarkHook = hook;
}
