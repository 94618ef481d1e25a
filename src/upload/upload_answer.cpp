#include "upload/upload_answer.h"

#include <cstring>

int JudgeUploadAnswer(const char* answer, std::size_t length) {
    if (length < 4)
        return -1;
    // A prefix comparison: "success" followed by more bytes is a success as well.
    return length >= 7 && std::memcmp(answer, "success", 7) == 0 ? 0 : 4;
}
