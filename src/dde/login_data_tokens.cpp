#include "dde/login_data_tokens.h"

namespace {

bool IsDelimiter(char c) {
    return c == '\t' || c == '\n';
}

} // namespace

int SplitLoginData(char* text, char* tokens[LoginDataTokenCount]) {
    int found = 0;
    char* p = text;
    while (found < LoginDataTokenCount) {
        while (*p != '\0' && IsDelimiter(*p))
            ++p;
        if (*p == '\0')
            break;
        tokens[found++] = p;
        while (*p != '\0' && !IsDelimiter(*p))
            ++p;
        if (*p != '\0')
            *p++ = '\0';
    }
    return found;
}
