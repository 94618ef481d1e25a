#include "upload/multipart_utf8.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <new>

int AnsiToUtf8(const char* source, char* dest, int size) {
    if (size < 1)
        return 0;
    const int wideLength = MultiByteToWideChar(CP_ACP, 0, source, -1, nullptr, 0);
    if (wideLength == 0)
        return 0;
    std::unique_ptr<wchar_t[]> wide(new (std::nothrow) wchar_t[wideLength + 1]());
    if (!wide)
        return -1;
    if (MultiByteToWideChar(CP_ACP, 0, source, -1, wide.get(), wideLength + 1) == 0)
        return 0;

    const int utf8Length =
        WideCharToMultiByte(CP_UTF8, 0, wide.get(), -1, nullptr, 0, nullptr, nullptr);
    if (utf8Length == 0)
        return 0;
    std::unique_ptr<char[]> utf8(new (std::nothrow) char[utf8Length + 1]());
    if (!utf8)
        return -1;
    const int converted = WideCharToMultiByte(CP_UTF8, 0, wide.get(), -1, utf8.get(),
                                              utf8Length + 1, nullptr, nullptr);
    if (converted == 0)
        return 0;

    const int copied = converted >= size - 1 ? size - 1 : converted;
    std::memcpy(dest, utf8.get(), static_cast<std::size_t>(copied));
    dest[copied] = '\0';
    return copied;
}
