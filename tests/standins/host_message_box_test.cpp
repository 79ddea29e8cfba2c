// The message box watcher: finds a box by its caption, reads its text, presses OK.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "host/message_box_watcher.h"

namespace host {
namespace {

TEST(MessageBoxWatcher, ReadsAndDismissesABoxWithItsCaption) {
    MessageBoxWatcher watcher({"Watched caption"});
    std::atomic<int> callbacks{0};
    watcher.OnBox([&](const SeenBox& box) {
        if (box.caption == "Watched caption") ++callbacks;
    });
    // MessageBoxA returns only once the watcher has pressed OK.
    EXPECT_EQ(IDOK, MessageBoxA(nullptr, "Something went wrong\nsecond line", "Watched caption", MB_OK));
    ASSERT_EQ(1u, watcher.Count());
    EXPECT_EQ("Watched caption", watcher.Seen()[0].caption);
    EXPECT_EQ("Something went wrong\nsecond line", watcher.Seen()[0].text);
    EXPECT_EQ(1, callbacks);
}

TEST(MessageBoxWatcher, LeavesOtherCaptionsAlone) {
    MessageBoxWatcher watched({"Watched caption"});
    MessageBoxWatcher all;
    all.SetDismiss(false);  // holds the other box open until the test has looked

    std::thread other([] { MessageBoxA(nullptr, "not for the first watcher", "Other caption", MB_OK); });
    ASSERT_TRUE(all.WaitForCount(1, 10000)) << "the box did not appear";
    EXPECT_EQ("Other caption", all.Seen()[0].caption);
    EXPECT_EQ("not for the first watcher", all.Seen()[0].text);
    Sleep(100);  // several polls of the first watcher
    EXPECT_EQ(0u, watched.Count());
    EXPECT_EQ(1u, all.Count()) << "one box is recorded once, however long it stays";

    PostMessageA(FindWindowA("#32770", "Other caption"), WM_COMMAND, IDOK, 0);
    other.join();

    EXPECT_EQ(IDOK, MessageBoxA(nullptr, "for both", "Watched caption", MB_OK));
    EXPECT_EQ(1u, watched.Count());
}

}  // namespace
}  // namespace host
