// FormBodyLength and BuildFormBody: the length is the sum rule (name + value + 2 per
// field, less one), the body is the pairs joined byte for byte, and a buffer that cannot
// take the body and its terminator is left untouched. The buffer is a block of exactly
// the capacity passed.
//
// Input: byte 0 places the capacity around the length the body needs (signed offset),
// byte 1 marks which of the first eight fields are file fields (the form body ignores
// that), then the fields, one per line, name and value split at the first tab. No bytes
// after the header: no fields at all.

#include "fuzz_check.h"

#include "http/form_body.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const int offset = static_cast<signed char>(data[0]);
    const unsigned fileMask = data[1];

    std::vector<FormField> fields;
    if (size > 2) {
        for (const std::string& line : SplitInput(data + 2, size - 2, '\n', 4096)) {
            FormField field;
            const std::size_t tab = line.find('\t');
            field.name = line.substr(0, tab);
            field.value = tab == std::string::npos ? std::string() : line.substr(tab + 1);
            field.isFile = fields.size() < 8 && (fileMask >> fields.size() & 1u) != 0;
            fields.push_back(field);
        }
    }

    std::size_t sum = 0;
    std::string body;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        sum += fields[i].name.size() + fields[i].value.size() + 2;
        if (i > 0)
            body += '&';
        body += fields[i].name + "=" + fields[i].value;
    }
    const std::size_t length = fields.empty() ? 0 : sum - 1;
    FUZZ_CHECK(body.size() == length);
    FUZZ_CHECK(FormBodyLength(fields) == length);

    const auto capacity = static_cast<std::uint32_t>(RoomAround(length, offset));
    ExactBuffer buffer(capacity);
    const std::uint32_t written = BuildFormBody(fields, buffer.data(), capacity);

    if (!fields.empty() && length < capacity) {
        FUZZ_CHECK(written == length);
        FUZZ_CHECK(std::memcmp(buffer.data(), body.data(), length) == 0);
        FUZZ_CHECK(buffer.data()[length] == '\0');
        FUZZ_CHECK(buffer.UntouchedFrom(length + 1));
    } else {
        FUZZ_CHECK(written == 0);
        FUZZ_CHECK(buffer.UntouchedFrom(0));
    }
    return 0;
}
