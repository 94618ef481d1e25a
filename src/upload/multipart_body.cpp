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

// Reads exactly size bytes into dest in blocks of FileReadBlock bytes, straight into the
// body, and then finds the file's end: a read that fails or falls short, or a file that
// grew, means the bytes are not the file as it was opened.
bool ReadWhole(HANDLE file, char* dest, DWORD size) {
    DWORD taken = 0;
    while (taken < size) {
        const DWORD left = size - taken;
        const DWORD want = left < FileReadBlock ? left : static_cast<DWORD>(FileReadBlock);
        DWORD got = 0;
        if (!ReadFile(file, dest + taken, want, &got, nullptr) || got == 0)
            return false;
        taken += got;
    }
    char beyond;
    DWORD got = 0;
    return ReadFile(file, &beyond, 1, &got, nullptr) && got == 0;
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
        // A file that cannot be opened now (another program holds it) counts only the
        // margin: should it be readable by the time its part is written, a larger one
        // finds no room there and the body fails before anything is sent.
        LARGE_INTEGER size = {};
        if (!file.Valid() || !GetFileSizeEx(file.Get(), &size))
            size.QuadPart = 0;
        total += FileFieldEstimate(static_cast<std::uint64_t>(size.QuadPart));
    }
    return total;
}

std::uint32_t HttpClient::BuildMultipartBody(char** body, const char* boundary) {
    const std::uint64_t estimate = EstimateBodySize();
    if (*body != nullptr)
        return 0;
    bodyFailure = BodyFailure::None;
    sentFile = FileStamp();
    // The estimate covers the parts; the closing line and a terminator get room of their
    // own, so an empty field list still has its closing line.
    const std::uint64_t blockSize = estimate + ClosingLineLength(boundary) + 1;
    if (blockSize > MaxBodyBlock) {
        bodyFailure = BodyFailure::TooLarge;
        return 0;
    }
    *body = static_cast<char*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, static_cast<std::size_t>(blockSize)));
    if (*body == nullptr) {
        bodyFailure = BodyFailure::NoMemory;
        return 0;
    }

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
    if (closing == 0) {
        bodyFailure = BodyFailure::NoRoom;
        return 0;
    }
    return static_cast<std::uint32_t>(written + closing);
}

std::size_t HttpClient::WriteFormPart(const FormField& field, char* dest, std::size_t room,
                                      const char* boundary) {
    if (!field.isFile) {
        const std::size_t part =
            WritePlainPart(dest, room, boundary, field.name.c_str(), field.value.c_str());
        if (part == 0)
            bodyFailure = BodyFailure::NoRoom;
        return part;
    }

    std::string fileName = field.value;
    FileNameOf(fileName);
    char converted[Utf8NameSize];
    const char* sentName = fileName.c_str();
    // A name that cannot be converted goes out as it is rather than not at all.
    if (NeedsUtf8Name(sentName) && AnsiToUtf8(sentName, converted, sizeof converted) > 0)
        sentName = converted;

    const std::size_t header =
        WriteFilePartHeader(dest, room, boundary, field.name.c_str(), sentName);
    if (header == 0) {
        bodyFailure = BodyFailure::NoRoom;
        return 0;
    }
    // A file that cannot be opened (another program holds it without sharing, say) gives
    // no part at all: its header alone would reach the service as an empty photo, which
    // it stores and confirms, and the photo would then be deleted here.
    UniqueHandle file = OpenForReading(field.value);
    const FileStamp stamp = file.Valid() ? StampOfOpenFile(file.Get()) : FileStamp();
    if (!stamp.valid) {
        bodyFailure = BodyFailure::FileUnreadable;
        return 0;
    }
    if (stamp.size > MaxBodyBlock) {
        bodyFailure = BodyFailure::TooLarge;
        return 0;
    }
    // The content and its CRLF must leave the last byte of the room for a terminator.
    if (header + static_cast<std::size_t>(stamp.size) + 2 >= room) {
        bodyFailure = BodyFailure::NoRoom;
        return 0;
    }
    const DWORD size = static_cast<DWORD>(stamp.size);
    if (!ReadWhole(file.Get(), dest + header, size)) {
        bodyFailure = BodyFailure::FileUnreadable;
        return 0;
    }
    std::memcpy(dest + header + size, "\r\n", 2);
    sentFile = stamp;
    return header + size + 2;
}

BOOL HttpClient::FreeMultipartBody(char* body) const {
    return HeapFree(GetProcessHeap(), 0, body);
}
