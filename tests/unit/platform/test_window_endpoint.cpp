#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/window.h"
#include "platform/window_endpoint.h"
#include "support/temp_dir.h"

namespace {

int g_closes;
uintptr_t g_last_wparam;

intptr_t closing_proc(WindowHandle w, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  if (message == WM_CLOSE) {
    ++g_closes;
    g_last_wparam = wparam;
    win_destroy_window(w);
    return 0;
  }
  return win_def_window_proc(w, message, wparam, lparam);
}

// Each test has its own registry stand-in file, so its endpoints are its own.
struct EndpointTest : ::testing::Test {
  TempDir dir;
  void SetUp() override {
    use_install_dir(dir);
    g_closes = 0;
    static bool registered = win_register_class(u"cls-endpoint", closing_proc);
    ASSERT_TRUE(registered);
  }
  void pump_until(int closes) {
    uint32_t end = clock_tick_count() + 10000;
    WindowMessage m;
    while (g_closes < closes && int32_t(end - clock_tick_count()) > 0) {
      if (win_peek_message(&m)) win_dispatch_message(&m);
      else clock_sleep_ms(2);
    }
  }
};

TEST_F(EndpointTest, WindowsOfOneTitleAreFoundTogetherAndClosedByPost) {
  WindowHandle a = win_create_window(u"cls-endpoint", u"Vellmar-Status");
  WindowHandle b = win_create_window(u"cls-endpoint", u"Vellmar-Status");
  WindowHandle other = win_create_window(u"cls-endpoint", u"Vellmar-Service");
  ASSERT_TRUE(a && b && other);
  RemoteWindow found[4];
  ASSERT_EQ(win_find_windows_anywhere(u"Vellmar-Status", found, 4), 2);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(found[i].owner_pid, int32_t(getpid()));
    EXPECT_EQ(found[i].owner_uid, uint32_t(geteuid()));
  }
  EXPECT_STRNE(found[0].name, found[1].name);
  EXPECT_EQ(win_find_windows_anywhere(u"Vellmar-Stat", found, 4), 0) << "titles match exactly";

  EXPECT_TRUE(win_post_message_remote(&found[0], WM_CLOSE, 1, 0));
  EXPECT_TRUE(win_post_message_remote(&found[1], WM_CLOSE, 1, 0));
  pump_until(2);
  EXPECT_EQ(g_closes, 2);
  EXPECT_EQ(g_last_wparam, 1u);
  EXPECT_FALSE(win_is_window(a));
  EXPECT_FALSE(win_is_window(b));
  // A destroyed window's endpoint is gone with it.
  EXPECT_EQ(win_find_windows_anywhere(u"Vellmar-Status", found, 4), 0);
  EXPECT_FALSE(win_post_message_remote(&found[0], WM_CLOSE, 1, 0));
  EXPECT_TRUE(win_is_window(other));
  win_destroy_window(other);
}

TEST_F(EndpointTest, ARegistryFileOfItsOwnHidesOtherWindows) {
  WindowHandle w = win_create_window(u"cls-endpoint", u"Vellmar-Status");
  ASSERT_TRUE(w);
  TempDir elsewhere;
  use_install_dir(elsewhere);
  RemoteWindow found[2];
  EXPECT_EQ(win_find_windows_anywhere(u"Vellmar-Status", found, 2), 0);
  use_install_dir(dir);
  EXPECT_EQ(win_find_windows_anywhere(u"Vellmar-Status", found, 2), 1);
  win_destroy_window(w);
}

// Another user may not close our windows: the peer's uid is checked.
TEST_F(EndpointTest, APeerOfAnotherUserIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a peer as another user";
  WindowHandle w = win_create_window(u"cls-endpoint", u"Vellmar-Service");
  ASSERT_TRUE(w);
  RemoteWindow found[1];
  ASSERT_EQ(win_find_windows_anywhere(u"Vellmar-Service", found, 1), 1);
  pid_t child = fork();
  if (child == 0) {
    if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) _exit(3);
    _exit(win_post_message_remote(&found[0], WM_CLOSE, 1, 0) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the post was taken, 3: could not change user";
  uint32_t end = clock_tick_count() + 300;
  WindowMessage m;
  while (int32_t(end - clock_tick_count()) > 0) {
    if (win_peek_message(&m)) win_dispatch_message(&m);
    else clock_sleep_ms(2);
  }
  EXPECT_EQ(g_closes, 0);
  EXPECT_TRUE(win_is_window(w));
  // Root may.
  EXPECT_TRUE(win_post_message_remote(&found[0], WM_CLOSE, 1, 0));
  pump_until(1);
  EXPECT_FALSE(win_is_window(w));
}

}  // namespace
