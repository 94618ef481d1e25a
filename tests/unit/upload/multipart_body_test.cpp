#include "http/http_client.h"
#include "support/temp_folder.h"
#include "upload/multipart_layout.h"
#include "upload/multipart_utf8.h"
#include "util/paths.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char Closing[] = "----TAVIK-VISTORA-UPLOAD-FORM-DATA--\r\n";

std::string FileHeader(const std::string& name, const std::string& fileName,
                       const std::string& boundary = UploadBoundary) {
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name +
           "\"; filename=\"" + fileName + "\"\r\n\r\n";
}

class MultipartBodyTest : public ::testing::Test {
  protected:
    void TearDown() override {
        if (body != nullptr)
            client.FreeMultipartBody(body);
    }

    std::string PathOf(const std::string& name) const { return folder_.PathOf(name); }

    void MakeFolder(const std::string& name) { CreateDirectoryA(PathOf(name).c_str(), nullptr); }

    std::string MakeFile(const std::string& name, const std::string& content) {
        std::string path = PathOf(name);
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(file, INVALID_HANDLE_VALUE) << path;
        DWORD written = 0;
        if (!content.empty())
            WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        CloseHandle(file);
        return path;
    }

    std::string SparseFile(const std::string& name, LONGLONG size) {
        std::string path = PathOf(name);
        EXPECT_TRUE(MakeSparseFile(path, size)) << path;
        return path;
    }

    std::string Build(const char* boundary = UploadBoundary) {
        length = client.BuildMultipartBody(&body, boundary);
        return body != nullptr ? std::string(body, length) : std::string();
    }

    HttpClient client;
    char* body = nullptr;
    std::uint32_t length = 0;

  private:
    TempFolder folder_{"multipart"};
};

TEST_F(MultipartBodyTest, TenByteFileGivesTheHundredAndFiftyOneByteBody) {
    client.AddFormField("file", MakeFile("a.jpg", "0123456789").c_str(), true);
    const std::string built = Build();
    EXPECT_EQ(length, 151u);
    EXPECT_EQ(built, "----TAVIK-VISTORA-UPLOAD-FORM-DATA\r\n"
                     "Content-Disposition: form-data; name=\"file\"; filename=\"a.jpg\"\r\n"
                     "\r\n"
                     "0123456789\r\n"
                     "----TAVIK-VISTORA-UPLOAD-FORM-DATA--\r\n");
    EXPECT_EQ(body[151], '\0');
    EXPECT_TRUE(client.FreeMultipartBody(body));
    body = nullptr;
}

TEST_F(MultipartBodyTest, AnOccupiedBodyPointerIsLeftAlone) {
    client.AddFormField("file", MakeFile("a.jpg", "0123456789").c_str(), true);
    char existing = 'x';
    char* pointer = &existing;
    EXPECT_EQ(client.BuildMultipartBody(&pointer, UploadBoundary), 0u);
    EXPECT_EQ(pointer, &existing);
    EXPECT_EQ(existing, 'x');
}

TEST_F(MultipartBodyTest, AnEmptyFileGivesItsHeaderAndCrlf) {
    const std::string path = MakeFile("empty.jpg", "");
    client.AddFormField("file", path.c_str(), true);
    EXPECT_EQ(Build(), FileHeader("file", "empty.jpg") + "\r\n" + Closing);
    EXPECT_EQ(length, 101u + 4 + 2 + 38);
    EXPECT_EQ(client.bodyFailure, BodyFailure::None);
    EXPECT_TRUE(client.sentFile == StampOfPath(path.c_str()));
}

// Its header alone would reach the service as an empty photo, stored and confirmed.
TEST_F(MultipartBodyTest, AFileThatCannotBeReadGivesNoBody) {
    const std::string held = MakeFile("held.jpg", "0123456789");
    HANDLE holder = CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    client.AddFormField("file", held.c_str(), true);
    EXPECT_EQ(client.BuildMultipartBody(&body, UploadBoundary), 0u);
    EXPECT_EQ(client.bodyFailure, BodyFailure::FileUnreadable);
    EXPECT_FALSE(client.sentFile.valid);
    CloseHandle(holder);
    client.FreeMultipartBody(body);
    body = nullptr;

    // Once the other program lets go, the same field builds; a gone file fails again.
    EXPECT_EQ(Build(), FileHeader("file", "held.jpg") + "0123456789\r\n" + Closing);
    EXPECT_EQ(client.bodyFailure, BodyFailure::None);
    client.FreeMultipartBody(body);
    body = nullptr;
    client.ClearFormFields();
    client.AddFormField("file", PathOf("gone.jpg").c_str(), true);
    EXPECT_EQ(client.BuildMultipartBody(&body, UploadBoundary), 0u);
    EXPECT_EQ(client.bodyFailure, BodyFailure::FileUnreadable);
}

TEST_F(MultipartBodyTest, OnlyTheFileNameReachesTheBody) {
    MakeFolder("sub");
    client.AddFormField("file", MakeFile("sub\\IMG.JPG", "xy").c_str(), true);
    EXPECT_EQ(Build(), FileHeader("file", "IMG.JPG") + "xy\r\n" + Closing);
}

TEST_F(MultipartBodyTest, JapaneseFileNamesAreSentAsUtf8) {
    // ソ and 表 end in the byte 0x5C, which must not be taken for a separator.
    MakeFolder("写真ソ");
    const std::string path = MakeFile("写真ソ\\ソ表の写真.jpg", "JPEG");
    client.AddFormField("file", path.c_str(), true);
    EXPECT_EQ(Build(), FileHeader("file", u8"ソ表の写真.jpg") + "JPEG\r\n" + Closing);
}

TEST_F(MultipartBodyTest, NamesWhoseOnlyHighBytesAre0xFFAreSentUnconverted) {
    client.AddFormField("file", MakeFile("a\xFF\xFF.jpg", "z").c_str(), true);
    EXPECT_EQ(Build(), FileHeader("file", "a\xFF\xFF.jpg") + "z\r\n" + Closing);
}

TEST_F(MultipartBodyTest, FieldsComeInTheOrderTheyWereAdded) {
    client.AddFormField("caption", "summer", false);
    client.AddFormField("file", MakeFile("b.png", "PNG!").c_str(), true);
    client.AddFormField("album", "2024", false);
    const std::string boundary = SyncMultipartBoundary;
    EXPECT_EQ(Build(SyncMultipartBoundary),
              "--" + boundary +
                  "\r\nContent-Disposition: form-data; name=\"caption\"\r\n\r\nsummer\r\n" +
                  FileHeader("file", "b.png", boundary) + "PNG!\r\n" + "--" + boundary +
                  "\r\nContent-Disposition: form-data; name=\"album\"\r\n\r\n2024\r\n" + "--" +
                  boundary + "--\r\n");
}

TEST_F(MultipartBodyTest, AnEmptyListStillGetsItsClosingLine) {
    EXPECT_EQ(client.EstimateBodySize(), 0u);
    EXPECT_EQ(Build(), Closing);
    EXPECT_EQ(length, 38u);
}

TEST_F(MultipartBodyTest, APlainPartGetsAtMostItsMargin) {
    // 49 fixed bytes, the boundary and the name "note" leave 8107 bytes of value.
    const std::string fits(8192 - 49 - 32 - 4, 'v');
    client.AddFormField("note", fits.c_str(), false);
    EXPECT_EQ(Build().size(), 8192u + 38);
    client.FreeMultipartBody(body);
    body = nullptr;

    client.ClearFormFields();
    client.AddFormField("note", (fits + "v").c_str(), false);
    EXPECT_EQ(client.BuildMultipartBody(&body, UploadBoundary), 0u);
}

TEST_F(MultipartBodyTest, AFileHeaderGetsAtMostTheFileMargin) {
    // A file that cannot be opened counts only the margin, and its header must fit in it.
    client.AddFormField(std::string(6200, 'n').c_str(), PathOf("gone.jpg").c_str(), true);
    EXPECT_EQ(client.EstimateBodySize(), 6144u);
    EXPECT_EQ(client.BuildMultipartBody(&body, UploadBoundary), 0u);
    EXPECT_EQ(client.bodyFailure, BodyFailure::NoRoom);
}

// Writes one part into a room followed by guard bytes that must survive.
struct GuardedRoom {
    explicit GuardedRoom(std::size_t room) : room(room), bytes(room + 64, '\xAA') {}
    bool GuardIntact() const {
        for (std::size_t i = room; i < bytes.size(); ++i) {
            if (bytes[i] != '\xAA')
                return false;
        }
        return true;
    }
    std::size_t room;
    std::vector<char> bytes;
};

TEST_F(MultipartBodyTest, APartNeverReachesPastItsRoom) {
    FormField plain{"note", std::string(500, 'v'), false};
    const std::size_t plainLength = PlainPartLength(UploadBoundary, "note", plain.value.c_str());
    GuardedRoom tight(plainLength);
    EXPECT_EQ(client.WriteFormPart(plain, tight.bytes.data(), tight.room, UploadBoundary), 0u);
    EXPECT_TRUE(tight.GuardIntact());
    GuardedRoom enough(plainLength + 1);
    EXPECT_EQ(client.WriteFormPart(plain, enough.bytes.data(), enough.room, UploadBoundary),
              plainLength);
    EXPECT_TRUE(enough.GuardIntact());

    // A file that grew after the room for it was set aside fails its part.
    const std::string path = MakeFile("grows.jpg", "0123456789");
    FormField file{"file", path, true};
    const std::size_t partLength = FilePartHeaderLength(UploadBoundary, "file", "grows.jpg") + 12;
    GuardedRoom room(partLength + 1);
    EXPECT_EQ(client.WriteFormPart(file, room.bytes.data(), room.room, UploadBoundary), partLength);
    EXPECT_TRUE(room.GuardIntact());

    MakeFile("grows.jpg", "0123456789" + std::string(5000, 'g'));
    GuardedRoom stale(partLength + 1);
    EXPECT_EQ(client.WriteFormPart(file, stale.bytes.data(), stale.room, UploadBoundary), 0u);
    EXPECT_TRUE(stale.GuardIntact());
    EXPECT_EQ(client.bodyFailure, BodyFailure::NoRoom);
}

TEST_F(MultipartBodyTest, AFileTooLargeForTheProcessFailsCleanly) {
    client.AddFormField("file", SparseFile("huge.jpg", 3LL << 30).c_str(), true);
    EXPECT_EQ(client.BuildMultipartBody(&body, UploadBoundary), 0u);
    EXPECT_EQ(body, nullptr);
    EXPECT_EQ(client.bodyFailure, BodyFailure::TooLarge);

    // Just below 2 GiB the block is allowed, but no 32-bit process has that much room.
    client.ClearFormFields();
    client.AddFormField("file", SparseFile("almost.jpg", 0x7FF00000).c_str(), true);
    EXPECT_EQ(client.BuildMultipartBody(&body, UploadBoundary), 0u);
    EXPECT_EQ(body, nullptr);
    EXPECT_EQ(client.bodyFailure, BodyFailure::NoMemory);

    // Above 4 GiB the low 32 bits of the size (here 10) must not make a small estimate.
    client.ClearFormFields();
    client.AddFormField("file", SparseFile("wraps.jpg", (4LL << 30) + 10).c_str(), true);
    EXPECT_EQ(client.EstimateBodySize(), (4ULL << 30) + 10 + 6144);
    EXPECT_EQ(client.BuildMultipartBody(&body, UploadBoundary), 0u);
    EXPECT_EQ(body, nullptr);
    // Nor may the part itself, given room for what those 32 bits announce.
    FormField file{"file", client.formFields[0].value, true};
    std::vector<char> room(4096);
    EXPECT_EQ(client.WriteFormPart(file, room.data(), room.size(), UploadBoundary), 0u);
}

TEST(AnsiToUtf8, ConvertsAndCutsToTheDestination) {
    char dest[1024];
    const std::string expected = u8"写真.jpg";
    EXPECT_EQ(AnsiToUtf8("写真.jpg", dest, sizeof dest), static_cast<int>(expected.size() + 1));
    EXPECT_EQ(std::string(dest), expected);

    // Cut to size - 1 bytes, inside a UTF-8 sequence if need be, and always terminated.
    char small[5];
    EXPECT_EQ(AnsiToUtf8("写真", small, sizeof small), 4);
    EXPECT_EQ(std::string(small), expected.substr(0, 4));
    EXPECT_EQ(AnsiToUtf8("abc", small, 4), 3);
    EXPECT_STREQ(small, "abc");
    EXPECT_EQ(AnsiToUtf8("abc", small, 5), 4);
    EXPECT_STREQ(small, "abc");
    EXPECT_EQ(AnsiToUtf8("abc", small, 0), 0);
}

} // namespace
