// SplitLoginData against strtok_r with the delimiters "\t\n" on a copy of the same text:
// the same tokens, and the same bytes in the buffer afterwards (strtok also ends each
// token it hands out in place). Tokens are non-empty, free of tabs and line feeds, in
// text order and inside the buffer. The input is the poked text; a poke keeps at most
// 2047 bytes of it.

#include "fuzz_check.h"

#include "dde/login_data_tokens.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text = TextOf(data, size);
    if (text.size() > 2047)
        text.resize(2047);

    ExactBuffer buffer(text.size() + 1);
    std::memcpy(buffer.data(), text.c_str(), text.size() + 1);
    std::vector<char> model(text.c_str(), text.c_str() + text.size() + 1);

    char* tokens[LoginDataTokenCount] = {};
    const int found = SplitLoginData(buffer.data(), tokens);
    FUZZ_CHECK(found >= 0 && found <= LoginDataTokenCount);

    std::vector<std::size_t> modelOffsets;
    char* state = nullptr;
    // Stops after the fourth token: a fifth call would end a fifth token in place.
    char* token = strtok_r(model.data(), "\t\n", &state);
    while (token != nullptr) {
        modelOffsets.push_back(static_cast<std::size_t>(token - model.data()));
        if (modelOffsets.size() == LoginDataTokenCount)
            break;
        token = strtok_r(nullptr, "\t\n", &state);
    }

    FUZZ_CHECK(static_cast<std::size_t>(found) == modelOffsets.size());
    FUZZ_CHECK(std::memcmp(buffer.data(), model.data(), model.size()) == 0);

    const char* previousEnd = buffer.data();
    for (int i = 0; i < found; ++i) {
        const char* token = tokens[i];
        FUZZ_CHECK(token >= buffer.data() && token < buffer.data() + buffer.size());
        FUZZ_CHECK(static_cast<std::size_t>(token - buffer.data()) == modelOffsets[i]);
        const std::size_t length = std::strlen(token);
        FUZZ_CHECK(length > 0);
        FUZZ_CHECK(std::strpbrk(token, "\t\n") == nullptr);
        FUZZ_CHECK(token >= previousEnd);
        previousEnd = token + length + 1;
    }
    // Unused slots are left as the caller had them.
    for (int i = found; i < LoginDataTokenCount; ++i)
        FUZZ_CHECK(tokens[i] == nullptr);
    return 0;
}
