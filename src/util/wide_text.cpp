#include "util/wide_text.h"

#include <windows.h>

namespace {

constexpr UINT ProgramCodePage = 932;

} // namespace

std::wstring WideText(const char* cp932) {
    if (cp932 == nullptr)
        return std::wstring();
    const int length =
        MultiByteToWideChar(ProgramCodePage, MB_ERR_INVALID_CHARS, cp932, -1, nullptr, 0);
    if (length <= 1)
        return std::wstring();
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (MultiByteToWideChar(ProgramCodePage, MB_ERR_INVALID_CHARS, cp932, -1, &wide[0], length) !=
        length)
        return std::wstring();
    wide.resize(static_cast<std::size_t>(length - 1));
    return wide;
}
