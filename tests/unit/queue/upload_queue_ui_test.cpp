#include "queue/queue_paint.h"
#include "queue/queue_snapshot.h"
#include "queue/upload_queue.h"
#include "support/queue_list.h"

#include <commctrl.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

class UploadQueueTest : public ::testing::Test {
  protected:
    void SetUp() override {
        list = CreateQueueList();
        // A display refused to Wine's explorer fails every window of the prefix: say so.
        ASSERT_NE(list, nullptr) << "the list view was not created, error " << GetLastError()
                                 << ", desktop window " << GetDesktopWindow();
    }
    void TearDown() override { DestroyWindow(list); }

    std::string Cell(int row, int column) { return QueueCell(list, row, column); }
    LPARAM Param(int row) {
        LVITEMA item = {};
        item.mask = LVIF_PARAM;
        item.iItem = row;
        SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        return item.lParam;
    }

    QueueFiles files{"queue"};
    HWND list = nullptr;
};

} // namespace

TEST_F(UploadQueueTest, AddFileAppendsWaitingRowsWithoutAnyCheck) {
    AddFile(list, "a.jpg");
    AddFile(list, "a.jpg");
    AddFile(list, "");
    ASSERT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 3);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(Cell(row, 0), "待機");
        EXPECT_EQ(Param(row), Waiting);
    }
    EXPECT_EQ(Cell(0, 1), "a.jpg");
    EXPECT_EQ(Cell(1, 1), "a.jpg");
    EXPECT_EQ(Cell(2, 1), "");
}

TEST_F(UploadQueueTest, SetStatusChangesTextAndCodeTogether) {
    AddFile(list, "a.jpg");
    const char* texts[] = {"完了", "アップ中", "待機", "ファイル無し", "アクセスエラー"};
    for (int code = 0; code < StatusCodeCount; ++code) {
        EXPECT_EQ(SetStatus(list, 0, static_cast<StatusCode>(code)), 0);
        EXPECT_EQ(Cell(0, 0), texts[code]);
        EXPECT_EQ(Param(0), code);
    }
    EXPECT_EQ(Cell(0, 1), "a.jpg");
}

TEST_F(UploadQueueTest, CollectOfAnEmptyList) {
    QueueSnapshot snapshot(list);
    EXPECT_EQ(snapshot.Collect(), 0);
    EXPECT_TRUE(snapshot.waiting.empty());
    EXPECT_TRUE(snapshot.done.empty());
    EXPECT_EQ(snapshot.firstUploading, -1);
}

TEST_F(UploadQueueTest, CollectOfANullOrDestroyedListFindsNothing) {
    AddFile(list, "a.jpg");
    QueueSnapshot gone(list);
    DestroyWindow(list);
    QueueSnapshot none(nullptr);
    for (QueueSnapshot* snapshot : {&gone, &none}) {
        EXPECT_EQ(snapshot->Collect(), 0);
        EXPECT_TRUE(snapshot->waiting.empty());
        EXPECT_TRUE(snapshot->done.empty());
        EXPECT_EQ(snapshot->firstUploading, -1);
    }
}

TEST_F(UploadQueueTest, CollectSortsRowsByStatusInRowOrder) {
    for (const char* name : {"0", "1", "2", "3", "4", "5"})
        AddFile(list, name);
    SetStatus(list, 1, Done);
    SetStatus(list, 2, Uploading);
    SetStatus(list, 4, Done);
    SetStatus(list, 5, Uploading);
    QueueSnapshot snapshot(list);
    EXPECT_EQ(snapshot.Collect(), 6);
    EXPECT_EQ(snapshot.waiting, (std::vector<int>{0, 3}));
    EXPECT_EQ(snapshot.done, (std::vector<int>{1, 4}));
    EXPECT_EQ(snapshot.firstUploading, 2);
}

TEST_F(UploadQueueTest, ResolveNextFileTakesTheFirstWaitingRowInTheTempFolder) {
    files.Put("b.jpg");
    AddFile(list, "a.jpg");
    AddFile(list, "b.jpg");
    SetStatus(list, 0, Done);
    QueueSnapshot snapshot(list);
    snapshot.Collect();
    char path[MAX_PATH];
    EXPECT_EQ(ResolveNextFile(snapshot, 0, path, sizeof path), 1);
    EXPECT_EQ(std::string(path), files.PathOf("b.jpg"));
    EXPECT_EQ(ResolveNextFile(snapshot, 1, path, sizeof path), -1);
}

TEST_F(UploadQueueTest, AFailedRowIsFirstInLineAgain) {
    files.Put("a.jpg");
    files.Put("b.jpg");
    AddFile(list, "a.jpg");
    AddFile(list, "b.jpg");
    SetStatus(list, 0, Uploading);
    SetStatus(list, 0, Waiting);
    QueueSnapshot snapshot(list);
    snapshot.Collect();
    char path[MAX_PATH];
    EXPECT_EQ(ResolveNextFile(snapshot, 0, path, sizeof path), 0);
}

TEST_F(UploadQueueTest, AMissingFileResolvesToMinusOneWithTheComposedPath) {
    AddFile(list, "gone.jpg");
    AddFile(list, "D:\\pics\\a.jpg");
    QueueSnapshot snapshot(list);
    snapshot.Collect();
    char path[MAX_PATH];
    EXPECT_EQ(ResolveNextFile(snapshot, 0, path, sizeof path), -1);
    EXPECT_EQ(std::string(path), files.PathOf("gone.jpg"));
    EXPECT_EQ(ResolveNextFile(snapshot, 1, path, sizeof path), -1);
    EXPECT_EQ(std::string(path), files.PathOf("D:\\pics\\a.jpg"));
}

TEST_F(UploadQueueTest, APathLongerThanTheBufferCountsAsMissingAndIsNotCut) {
    // The folder's name plus "temp\" plus a 259-byte name exceeds 260 bytes.
    std::string name(259, 'n');
    AddFile(list, name.c_str());
    QueueSnapshot snapshot(list);
    snapshot.Collect();
    char path[MAX_PATH + 8];
    std::memset(path, 'x', sizeof path);
    EXPECT_EQ(ResolveNextFile(snapshot, 0, path, MAX_PATH), -1);
    EXPECT_STREQ(path, "");
    EXPECT_EQ(path[MAX_PATH], 'x');
}

namespace {

// The list's redraw switched on again, counted as the list receives it.
int RedrawsLetGo = 0;
WNDPROC ListProc = nullptr;
LRESULT CALLBACK CountRedraws(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETREDRAW && wParam != FALSE)
        ++RedrawsLetGo;
    return CallWindowProcA(ListProc, window, message, wParam, lParam);
}

} // namespace

// A host that pokes without a pause keeps a posted message waiting, and WM_TIMER never
// comes: the rows themselves let the held paint go once its delay has passed.
TEST_F(UploadQueueTest, RowsArrivingWithoutAPauseStillGetTheListPaintedInTime) {
    RedrawsLetGo = 0;
    ListProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountRedraws)));
    const DWORD start = GetTickCount();
    int rows = 0;
    // No message is dispatched meanwhile, as under a stream of pokes.
    while (GetTickCount() - start < 5 * QueuePaintDelay) {
        AddFile(list, "a.jpg");
        ++rows;
        Sleep(5);
    }
    // One paint for every delay the stream lasted, give or take the first and the last.
    EXPECT_GE(RedrawsLetGo, 3) << rows << " rows";
    EXPECT_LE(RedrawsLetGo, 6) << rows << " rows";
    DropQueuePaintHold(list);
    SetWindowLongPtrA(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ListProc));
}
