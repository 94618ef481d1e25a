#pragma once
// Job threads for the platform table's BeginThread that end as a run that returned
// PlayedResult, without running the job: the test plays the job's end. Neither posts a
// completion message; the test posts, or forges, one itself.

#include <windows.h>

#include <cstdint>

extern int PlayedResult;

// Ends at once.
uintptr_t RunThatEnds(void* security, unsigned stackSize, unsigned(__stdcall* start)(void*),
                      void* argument, unsigned flags, unsigned* threadId);
// Runs until RunRelease is signalled, as a job awaiting its answer does.
extern HANDLE RunRelease;
uintptr_t RunThatWaits(void* security, unsigned stackSize, unsigned(__stdcall* start)(void*),
                       void* argument, unsigned flags, unsigned* threadId);
// Creates no thread.
uintptr_t NoThread(void*, unsigned, unsigned(__stdcall*)(void*), void*, unsigned, unsigned*);
