// The multipart body of HttpClient's form fields, built in one process-heap block so that
// the request can announce its Content-Length. Each field is one part; a file field
// carries the whole file, read straight into the block.

#include "http/http_client.h"
#include "upload/multipart_layout.h"
#include "upload/multipart_utf8.h"
#include "util/paths.h"
#include "util/win_handles.h"

#include <cstring>

namespace {

// The body's Content-Length is formatted with %d, and a block of 2 GiB is beyond what a
// 32-bit process can hold anyway.
constexpr std::uint64_t MaxBodyBlock = 0x7FFFFFFF;
// A file goes into the body in reads of this size.
constexpr std::size_t FileReadBlock = 1024;
// Room for a file name converted to UTF-8; a longer one is cut there.
constexpr std::size_t Utf8NameSize = 1024;

UniqueHandle OpenForReading(const std::string& filePath) {
    return UniqueHandle(CreateFileA(filePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool MoreDataIn(HANDLE file) {
    char probe;
    DWORD got = 0;
    return ReadFile(file, &probe, 1, &got, nullptr) && got > 0;
}

// Reads the file into dest, which has room bytes, in blocks of FileReadBlock bytes
// straight into the body: until a read brings nothing, and a block that starts past the
// size taken at opening is dropped, so a file that grows adds at most one block.
// Where a block would reach past the room, more data in the file fails the part (returns
// false) rather than spilling over the next part.
bool ReadContent(HANDLE file, char* dest, std::size_t room, DWORD size, std::size_t& taken) {
    taken = 0;
    for (;;) {
        const std::size_t free = room - taken;
        const DWORD want = static_cast<DWORD>(free < FileReadBlock ? free : FileReadBlock);
        DWORD got = 0;
        if (want > 0 && (!ReadFile(file, dest + taken, want, &got, nullptr) || got == 0))
            return true;
        if (taken > size)
            return true;
        const bool cut = want < FileReadBlock && got == want;
        if (cut) {
            if (MoreDataIn(file))
                return false;
            taken += got;
            return true;
        }
        taken += got;
    }
}

} // namespace

std::uint64_t HttpClient::EstimateBodySize() const {
    std::uint64_t total = 0;
    for (const FormField& field : formFields) {
        if (!field.isFile) {
            total += PlainPartMargin;
            continue;
        }
        UniqueHandle file = OpenForReading(field.value);
        DWORD high = 0;
        const DWORD size = file.Valid() ? GetFileSize(file.Get(), &high) : INVALID_FILE_SIZE;
        // From 4 GiB on, the low 32 bits alone would make a small estimate for a file that
        // no 32-bit process can hold; the whole size makes the body fail before allocating.
        if (high != 0)
            total += (std::uint64_t{high} << 32) + size + FilePartMargin;
        else
            total += FileFieldEstimate(size);
    }
    return total;
}

std::uint32_t HttpClient::BuildMultipartBody(char** body, const char* boundary) const {
    const std::uint64_t estimate = EstimateBodySize();
    if (*body != nullptr)
        return 0;
    // The estimate covers the parts; the closing line and a terminator get room of their
    // own, so an empty field list still has its closing line.
    const std::uint64_t blockSize = estimate + ClosingLineLength(boundary) + 1;
    if (blockSize > MaxBodyBlock)
        return 0;
    *body = static_cast<char*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, static_cast<std::size_t>(blockSize)));
    if (*body == nullptr)
        return 0;

    const std::size_t partsRoom = static_cast<std::size_t>(estimate) + 1;
    std::size_t written = 0;
    for (const FormField& field : formFields) {
        const std::size_t part =
            WriteFormPart(field, *body + written, partsRoom - written, boundary);
        if (part == 0)
            return 0;
        written += part;
    }
    const std::size_t closing =
        WriteClosingLine(*body + written, static_cast<std::size_t>(blockSize) - written, boundary);
    if (closing == 0)
        return 0;
    return static_cast<std::uint32_t>(written + closing);
}

std::size_t HttpClient::WriteFormPart(const FormField& field, char* dest, std::size_t room,
                                      const char* boundary) const {
    if (!field.isFile)
        return WritePlainPart(dest, room, boundary, field.name.c_str(), field.value.c_str());

    std::string fileName = field.value;
    FileNameOf(fileName);
    char converted[Utf8NameSize];
    const char* sentName = fileName.c_str();
    // A name that cannot be converted goes out as it is rather than not at all.
    if (NeedsUtf8Name(sentName) && AnsiToUtf8(sentName, converted, sizeof converted) > 0)
        sentName = converted;

    const std::size_t header =
        WriteFilePartHeader(dest, room, boundary, field.name.c_str(), sentName);
    if (header == 0)
        return 0;
    // A file that cannot be opened contributes its header alone; the service's answer
    // decides about such a request.
    UniqueHandle file = OpenForReading(field.value);
    if (!file.Valid())
        return header;

    // The content and its CRLF must leave the last byte of the room for a terminator.
    DWORD high = 0;
    const DWORD size = GetFileSize(file.Get(), &high);
    if (high != 0 || size == INVALID_FILE_SIZE ||
        header + static_cast<std::size_t>(size) + 2 >= room)
        return 0;
    std::size_t taken = 0;
    if (!ReadContent(file.Get(), dest + header, room - header - 3, size, taken))
        return 0;
    std::memcpy(dest + header + taken, "\r\n", 2);
    return header + taken + 2;
}

BOOL HttpClient::FreeMultipartBody(char* body) const {
    return HeapFree(GetProcessHeap(), 0, body);
}
