#include "http/form_body.h"

#include <cstddef>
#include <cstring>

namespace {

// Summed in 64 bits so that a total beyond 32 bits is seen as too long rather than wrapped,
// in the 32-bit program as well.
std::uint64_t BodyLength(const std::vector<FormField>& fields) {
    if (fields.empty())
        return 0;
    std::uint64_t total = 0;
    for (const FormField& field : fields)
        total += field.name.size() + field.value.size() + 2;
    return total - 1;
}

} // namespace

std::uint32_t FormBodyLength(const std::vector<FormField>& fields) {
    const std::uint64_t length = BodyLength(fields);
    return length > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(length);
}

std::uint32_t BuildFormBody(const std::vector<FormField>& fields, char* buffer,
                            std::uint32_t capacity) {
    const std::uint64_t length = BodyLength(fields);
    if (fields.empty() || length >= capacity)
        return 0;
    char* out = buffer;
    for (const FormField& field : fields) {
        std::memcpy(out, field.name.data(), field.name.size());
        out += field.name.size();
        *out++ = '=';
        std::memcpy(out, field.value.data(), field.value.size());
        out += field.value.size();
        *out++ = '&';
    }
    // The separator after the last pair becomes the terminator.
    out[-1] = '\0';
    return static_cast<std::uint32_t>(length);
}
