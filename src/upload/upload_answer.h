#pragma once
// How an upload judges the service's answer. Platform-free.

#include <cstddef>

// -1 while fewer than 4 bytes have arrived; then 0 (Ok) when the answer begins with
// "success", 4 (Rejected) for anything else, "fail" included.
int JudgeUploadAnswer(const char* answer, std::size_t length);
