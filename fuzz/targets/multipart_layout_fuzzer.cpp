// The multipart layout: each length function equals the length of the text its writer
// produces, built here by plain concatenation; each writer either writes exactly that
// text and its terminator into a block of exactly the room it is given, or, when they do
// not fit, returns 0 and leaves the block untouched. Then a whole body is laid out the
// way the body builder chains the writers (each part at the end of the one before, the
// room shrinking), and must come out byte for byte.
//
// The writers take no file content: the body builder reads a file straight into the body
// with Win32 calls. Here a file field's content comes from the input and is copied in by
// this harness between the header and its CRLF, as that reader does, so only the offsets
// around it are under test, not the reading.
//
// Input: byte 0 places the room around the length needed (signed offset), byte 1 marks
// which of the first eight fields are file fields; then lines: the boundary first, then
// one field per line as name TAB value, a file field's value being file name TAB content.

#include "fuzz_check.h"

#include "upload/multipart_layout.h"

namespace {

struct Field {
    bool isFile = false;
    std::string name, value, fileName, content;
};

// The text up to its first NUL: what the writers, taking C strings, see of it.
std::string C(const std::string& text) {
    return std::string(text.c_str());
}

std::string PlainPart(const std::string& boundary, const Field& f) {
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + f.name + "\"\r\n\r\n" +
           f.value + "\r\n";
}

std::string FileHeader(const std::string& boundary, const Field& f) {
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + f.name +
           "\"; filename=\"" + f.fileName + "\"\r\n\r\n";
}

std::string ClosingLine(const std::string& boundary) {
    return "--" + boundary + "--\r\n";
}

// One writer into a block of its own: the text and terminator, or 0 and no byte written.
template <typename Write> void CheckWriter(const std::string& expected, int offset, Write write) {
    ExactBuffer block(RoomAround(expected.size(), offset));
    const std::size_t written = write(block.data(), block.size());
    if (expected.size() < block.size()) {
        FUZZ_CHECK(written == expected.size());
        FUZZ_CHECK(std::memcmp(block.data(), expected.data(), expected.size()) == 0);
        FUZZ_CHECK(block.data()[expected.size()] == '\0');
        FUZZ_CHECK(block.UntouchedFromBarEndNul(expected.size() + 1));
    } else {
        FUZZ_CHECK(written == 0);
        FUZZ_CHECK(block.UntouchedFrom(0));
    }
}

// A writer that failed in the chain left the block as it was from at on: at holds the
// terminator of the part before, if any, and the rest is filler.
bool NothingWrittenAt(const ExactBuffer& block, std::size_t at) {
    if (at >= block.size())
        return true;
    const unsigned char first = static_cast<unsigned char>(block.data()[at]);
    return (first == Untouched || first == 0) && block.UntouchedFromBarEndNul(at + 1);
}

bool HasHighByteBelowFF(const std::string& text) {
    for (unsigned char c : text) {
        if (c >= 0x80 && c != 0xFF)
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3)
        return 0;
    const int offset = static_cast<signed char>(data[0]);
    const unsigned fileMask = data[1];
    const std::vector<std::string> lines = SplitInput(data + 2, size - 2, '\n', 64);
    const std::string boundary = C(lines[0]);

    std::vector<Field> fields;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        Field f;
        f.isFile = i - 1 < 8 && (fileMask >> (i - 1) & 1u) != 0;
        const std::size_t tab = lines[i].find('\t');
        f.name = C(lines[i].substr(0, tab));
        const std::string rest =
            tab == std::string::npos ? std::string() : lines[i].substr(tab + 1);
        if (f.isFile) {
            const std::size_t second = rest.find('\t');
            f.fileName = C(rest.substr(0, second));
            if (second != std::string::npos)
                f.content = rest.substr(second + 1); // raw bytes, NULs included
        } else {
            f.value = C(rest);
        }
        fields.push_back(f);
    }

    const char* b = boundary.c_str();
    const std::string closing = ClosingLine(boundary);
    FUZZ_CHECK(ClosingLineLength(b) == closing.size());
    CheckWriter(closing, offset,
                [&](char* dest, std::size_t room) { return WriteClosingLine(dest, room, b); });

    std::string body;
    for (const Field& f : fields) {
        const char* name = f.name.c_str();
        if (f.isFile) {
            const std::string header = FileHeader(boundary, f);
            const char* fileName = f.fileName.c_str();
            FUZZ_CHECK(FilePartHeaderLength(b, name, fileName) == header.size());
            FUZZ_CHECK(header.size() ==
                       FilePartFixedLength + boundary.size() + f.name.size() + f.fileName.size());
            CheckWriter(header, offset, [&](char* dest, std::size_t room) {
                return WriteFilePartHeader(dest, room, b, name, fileName);
            });
            FUZZ_CHECK(NeedsUtf8Name(fileName) == HasHighByteBelowFF(f.fileName));
            body += header + f.content + "\r\n";
        } else {
            const std::string part = PlainPart(boundary, f);
            const char* value = f.value.c_str();
            FUZZ_CHECK(PlainPartLength(b, name, value) == part.size());
            FUZZ_CHECK(part.size() ==
                       PlainPartFixedLength + boundary.size() + f.name.size() + f.value.size());
            CheckWriter(part, offset, [&](char* dest, std::size_t room) {
                return WritePlainPart(dest, room, b, name, value);
            });
            body += part;
        }
    }
    body += closing;

    // The whole body, chained as the builder chains it, in a block sized around its length.
    ExactBuffer block(RoomAround(body.size(), offset));
    std::size_t at = 0;
    bool complete = true;
    for (const Field& f : fields) {
        const std::size_t room = block.size() - at;
        if (f.isFile) {
            const std::size_t header =
                WriteFilePartHeader(block.data() + at, room, b, f.name.c_str(), f.fileName.c_str());
            if (header == 0) {
                FUZZ_CHECK(FilePartHeaderLength(b, f.name.c_str(), f.fileName.c_str()) >= room);
                FUZZ_CHECK(NothingWrittenAt(block, at));
                complete = false;
                break;
            }
            // Content and CRLF must leave the last byte for a terminator, as in the builder.
            if (header + f.content.size() + 2 >= room) {
                complete = false;
                break;
            }
            std::memcpy(block.data() + at + header, f.content.data(), f.content.size());
            std::memcpy(block.data() + at + header + f.content.size(), "\r\n", 2);
            at += header + f.content.size() + 2;
        } else {
            const std::size_t part =
                WritePlainPart(block.data() + at, room, b, f.name.c_str(), f.value.c_str());
            if (part == 0) {
                FUZZ_CHECK(PlainPartLength(b, f.name.c_str(), f.value.c_str()) >= room);
                FUZZ_CHECK(NothingWrittenAt(block, at));
                complete = false;
                break;
            }
            at += part;
        }
    }
    if (complete) {
        const std::size_t last = WriteClosingLine(block.data() + at, block.size() - at, b);
        if (last == 0) {
            FUZZ_CHECK(ClosingLineLength(b) >= block.size() - at);
            complete = false;
        } else {
            at += last;
        }
    }
    FUZZ_CHECK(complete == (body.size() < block.size()));
    if (complete) {
        FUZZ_CHECK(at == body.size());
        FUZZ_CHECK(std::memcmp(block.data(), body.data(), body.size()) == 0);
        FUZZ_CHECK(block.data()[at] == '\0');
        FUZZ_CHECK(block.UntouchedFromBarEndNul(at + 1));
    }

    // The estimate's room for a file field is its size and the margin, for any size a file
    // can have (a non-negative 64-bit value): never wrapped into a small room.
    std::uint64_t fileSize = 0;
    for (std::size_t i = size >= 8 ? size - 8 : 0; i < size; ++i)
        fileSize = fileSize << 8 | data[i];
    fileSize &= 0x7FFFFFFFFFFFFFFFull;
    FUZZ_CHECK(FileFieldEstimate(fileSize) > fileSize);
    FUZZ_CHECK(FileFieldEstimate(fileSize) - fileSize == 6144u);
    return 0;
}
