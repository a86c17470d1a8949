#include "platform/single_instance.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace trevolo::platform;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A private folder under /tmp (short, so socket paths fit), removed afterwards.
class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/si-test-XXXXXX";
    m_path = ::mkdtemp(pattern);
  }
  ~TempFolder() { fs::remove_all(m_path); }
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
};

mode_t modeOf(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

long msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Collects what a server's handler receives.
struct Recorder {
  std::mutex mutex;
  std::vector<std::string> paths;
  HandOverServer::Handler handler() {
    return [this](const std::string& path) {
      std::lock_guard lock(mutex);
      paths.push_back(path);
    };
  }
  std::vector<std::string> taken() {
    std::lock_guard lock(mutex);
    return paths;
  }
};

// Result of talking to the socket outside the protocol's client.
enum class Raw { Acked, Closed, Silent, Unreachable };

// Sends raw bytes, optionally half-closes, and reports what came back within `waitMs`.
Raw rawExchange(const std::string& socketPath, const std::string& bytes, bool halfClose,
                int waitMs) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd);
    return Raw::Unreachable;
  }
  (void)!::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  if (halfClose) {
    ::shutdown(fd, SHUT_WR);
  }
  pollfd entry{fd, POLLIN, 0};
  Raw result = Raw::Silent;
  if (::poll(&entry, 1, waitMs) == 1) {
    char byte = 0;
    result = ::recv(fd, &byte, 1, 0) == 1 ? Raw::Acked : Raw::Closed;
  }
  ::close(fd);
  return result;
}

std::string lengthPrefix(uint32_t length) {
  return {static_cast<char>(length & 0xFF), static_cast<char>((length >> 8) & 0xFF),
          static_cast<char>((length >> 16) & 0xFF), static_cast<char>(length >> 24)};
}

// ---------------------------------------------------------------------------

TEST(InstanceFolderTest, RuntimeDirIsUsedOnlyWhenAbsoluteOwnedAndShortEnough) {
  TempFolder runtime;
  TempFolder base;
  const std::string fallback = base.path() + "/trevolo-" + std::to_string(::geteuid());
  std::string error;
  EXPECT_EQ(ResolveInstanceFolder(runtime.path().c_str(), base.path(), &error), runtime.path());

  const std::string longDir = runtime.path() + "/" + std::string(100, 'd');
  fs::create_directory(longDir);
  const std::string plainFile = runtime.path() + "/file";
  std::fclose(std::fopen(plainFile.c_str(), "w"));
  for (const char* unusable : {static_cast<const char*>(nullptr), "relative/dir", "/no/such/dir",
                               plainFile.c_str(), longDir.c_str()}) {
    EXPECT_EQ(ResolveInstanceFolder(unusable, base.path(), &error), fallback);
    EXPECT_EQ(modeOf(fallback), 0700u);
  }

  // The environment wrapper reads $XDG_RUNTIME_DIR.
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string savedValue = saved ? saved : "";
  ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
  EXPECT_EQ(InstanceFolder(&error), runtime.path());
  saved ? ::setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1) : ::unsetenv("XDG_RUNTIME_DIR");
}

TEST(InstanceFolderTest, FallbackIsRefusedUnlessAPrivateRealDirectoryOfOurs) {
  TempFolder base;
  const std::string fallback = base.path() + "/trevolo-" + std::to_string(::geteuid());
  auto refused = [&] {
    std::string error;
    const std::string folder = ResolveInstanceFolder(nullptr, base.path(), &error);
    return folder.empty() && !error.empty();
  };
  // Created private even when the umask would strip the owner's bits.
  const mode_t oldMask = ::umask(0777);
  EXPECT_FALSE(refused());
  ::umask(oldMask);
  EXPECT_EQ(modeOf(fallback), 0700u);

  ::chmod(fallback.c_str(), 0755);
  EXPECT_TRUE(refused());
  fs::remove(fallback);

  TempFolder elsewhere;  // private and ours, but reached through a symlink
  ::chmod(elsewhere.path().c_str(), 0700);
  fs::create_directory_symlink(elsewhere.path(), fallback);
  EXPECT_TRUE(refused());
  fs::remove(fallback);

  std::fclose(std::fopen(fallback.c_str(), "w"));
  EXPECT_TRUE(refused());
  fs::remove(fallback);

  if (::geteuid() == 0) {  // only root can hand a folder to someone else
    fs::create_directory(fallback);
    ::chmod(fallback.c_str(), 0700);
    ASSERT_EQ(::chown(fallback.c_str(), 65534, 65534), 0);
    EXPECT_TRUE(refused());
  }

  std::string error;
  EXPECT_EQ(ResolveInstanceFolder(nullptr, "/tmp/" + std::string(100, 'x'), &error), "");
  EXPECT_NE(error.find("too long"), std::string::npos);
}

// ---------------------------------------------------------------------------

TEST(InstanceLockTest, SecondOpenConflictsUntilTheFirstIsReleased) {
  TempFolder folder;
  bool held = true;
  std::string error;
  auto first = InstanceLock::acquire(folder.path(), &held, &error);
  ASSERT_NE(first, nullptr) << error;
  EXPECT_FALSE(held);
  EXPECT_EQ(modeOf(folder.path() + "/" + kLockFileName), 0600u);

  EXPECT_EQ(InstanceLock::acquire(folder.path(), &held, &error), nullptr);
  EXPECT_TRUE(held);
  first.reset();
  EXPECT_NE(InstanceLock::acquire(folder.path(), &held, &error), nullptr);
  EXPECT_FALSE(held);

  error.clear();
  EXPECT_EQ(InstanceLock::acquire(folder.path() + "/missing", &held, &error), nullptr);
  EXPECT_FALSE(held);
  EXPECT_FALSE(error.empty());
}

TEST(InstanceLockTest, KernelReleasesTheLockWhenTheHolderDies) {
  TempFolder folder;
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    bool held = false;
    auto lock = InstanceLock::acquire(folder.path(), &held, nullptr);
    (void)!::write(ready[1], lock ? "1" : "0", 1);
    ::pause();  // killed by the parent
    ::_exit(0);
  }
  char taken = 0;
  ASSERT_EQ(::read(ready[0], &taken, 1), 1);
  ASSERT_EQ(taken, '1');
  bool held = false;
  EXPECT_EQ(InstanceLock::acquire(folder.path(), &held, nullptr), nullptr);
  EXPECT_TRUE(held);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_NE(InstanceLock::acquire(folder.path(), &held, nullptr), nullptr);
  ::close(ready[0]);
  ::close(ready[1]);
}

// ---------------------------------------------------------------------------

class HandOverTest : public ::testing::Test {
 protected:
  std::unique_ptr<HandOverServer> startServer(HandOverServer::Handler handler = nullptr) {
    std::string error;
    auto server = HandOverServer::start(m_folder.path(),
                                        handler ? std::move(handler) : m_recorder.handler(), &error);
    EXPECT_NE(server, nullptr) << error;
    return server;
  }
  HandOverResult send(const std::string& path, int timeoutMs = 5000) {
    std::string error;
    return SendHandOver(m_folder.path(), path, timeoutMs, &error);
  }
  std::string socketPath() const { return m_folder.path() + "/" + kSocketFileName; }

  TempFolder m_folder;
  Recorder m_recorder;
};

TEST_F(HandOverTest, DeliversExactPathBytesAndEmptyMessages) {
  auto server = startServer();
  EXPECT_EQ(modeOf(socketPath()), 0600u);
  const std::vector<std::string> paths = {"/home/u/视频/my clip 01.av", "/tmp/line\nbreak.av", "",
                                          "/" + std::string(kMaxHandOverPathBytes - 1, 'p')};
  for (const auto& path : paths) {
    EXPECT_EQ(send(path), HandOverResult::Delivered);
  }
  EXPECT_EQ(m_recorder.taken(), paths);

  // Refused before anything is sent.
  EXPECT_EQ(send(std::string(kMaxHandOverPathBytes + 1, 'p')), HandOverResult::Error);
  EXPECT_EQ(send(std::string("/a\0b.av", 7)), HandOverResult::Error);
  EXPECT_EQ(m_recorder.taken().size(), paths.size());
}

TEST_F(HandOverTest, ReplyWaitsForTheHandlerAndAStalledHandlerTimesOut) {
  std::atomic<bool> handled{false};
  std::atomic<int> delayMs{300};
  auto server = startServer([&](const std::string&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs.load()));
    handled = true;
  });
  const auto start = Clock::now();
  EXPECT_EQ(send("/v/a.av"), HandOverResult::Delivered);
  EXPECT_TRUE(handled);
  EXPECT_GE(msSince(start), 300);

  // The client gives up; the late reply must not hurt the server (no SIGPIPE).
  delayMs = 800;
  const auto late = Clock::now();
  EXPECT_EQ(send("/v/b.av", 200), HandOverResult::Error);
  EXPECT_LT(msSince(late), 700);
  std::this_thread::sleep_for(900ms);
  delayMs = 0;
  EXPECT_EQ(send("/v/c.av"), HandOverResult::Delivered);
}

TEST_F(HandOverTest, MalformedClientsAreClosedUnhandledAndServingGoesOn) {
  auto server = startServer();
  const auto start = Clock::now();
  EXPECT_EQ(rawExchange(socketPath(), "hello, player!", false, 1000), Raw::Closed);
  EXPECT_EQ(rawExchange(socketPath(), lengthPrefix(kMaxHandOverPathBytes + 1), false, 1000),
            Raw::Closed);
  EXPECT_LT(msSince(start), 500);  // refused at once, not after the read timeout
  EXPECT_EQ(rawExchange(socketPath(), lengthPrefix(10) + "/short", true, 1000), Raw::Closed);
  EXPECT_EQ(rawExchange(socketPath(), lengthPrefix(2), true, 1000), Raw::Closed);
  EXPECT_EQ(rawExchange(socketPath(), lengthPrefix(5) + std::string("/a\0.v", 5), false, 1000),
            Raw::Closed);

  const auto silent = Clock::now();
  EXPECT_EQ(rawExchange(socketPath(), "", false, 4000), Raw::Closed);
  EXPECT_GE(msSince(silent), kHandOverReadTimeout.count() - 100);
  EXPECT_LT(msSince(silent), kHandOverReadTimeout.count() + 1000);

  EXPECT_TRUE(m_recorder.taken().empty());
  EXPECT_EQ(rawExchange(socketPath(), lengthPrefix(4) + "/x.a", false, 1000), Raw::Acked);
  EXPECT_EQ(send("/after.av"), HandOverResult::Delivered);
  EXPECT_EQ(m_recorder.taken(), (std::vector<std::string>{"/x.a", "/after.av"}));
}

TEST_F(HandOverTest, StaleSocketIsReplacedAndTeardownRemovesOnlyItsOwn) {
  EXPECT_EQ(send("/v/a.av"), HandOverResult::NoWindow);  // nothing there
  {
    // A socket left by a player that died: bound, never unlinked.
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath().c_str(), socketPath().size() + 1);
    const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(stale, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    ::close(stale);
  }
  EXPECT_EQ(send("/v/a.av"), HandOverResult::NoWindow);
  auto first = startServer();
  EXPECT_EQ(send("/v/b.av"), HandOverResult::Delivered);

  // A successor's socket survives its predecessor's teardown.
  auto second = startServer();
  first.reset();
  EXPECT_EQ(send("/v/c.av"), HandOverResult::Delivered);

  // Teardown is prompt even while a silent client holds the server, and removes the socket.
  std::thread holder([&] { rawExchange(socketPath(), "", false, 3000); });
  std::this_thread::sleep_for(100ms);
  const auto start = Clock::now();
  second.reset();
  EXPECT_LT(msSince(start), 500);
  holder.join();
  EXPECT_FALSE(fs::exists(fs::symlink_status(socketPath())));
  EXPECT_EQ(send("/v/d.av"), HandOverResult::NoWindow);
  EXPECT_EQ(m_recorder.taken(), (std::vector<std::string>{"/v/b.av", "/v/c.av"}));
}

TEST_F(HandOverTest, AnotherUsersClientIsIgnored) {
  if (::geteuid() != 0) {
    GTEST_SKIP() << "needs root to connect as another user";
  }
  ::chmod(m_folder.path().c_str(), 0711);
  auto server = startServer();
  ::chmod(socketPath().c_str(), 0666);  // let the stranger reach the socket at all
  const std::string path = socketPath();
  const std::string message = lengthPrefix(4) + "/x.a";
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0) {
      ::_exit(2);
    }
    ::_exit(rawExchange(path, message, false, 3000) == Raw::Closed ? 0 : 1);
  }
  int status = -1;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(m_recorder.taken().empty());
}

// ---------------------------------------------------------------------------

TEST(LaunchTest, LockHolderWithoutWindowGivesNoWindowAndADyingHolderHandsOverThePlayer) {
  TempFolder folder;
  LaunchTiming quick;
  quick.retryWindow = 300ms;
  quick.retryInterval = 20ms;
  auto holder = InstanceLock::acquire(folder.path(), nullptr, nullptr);
  std::unique_ptr<InstanceLock> lock;
  std::string error;
  const auto start = Clock::now();
  EXPECT_EQ(ResolveLaunch(folder.path(), "/v/a.av", &lock, &error, quick), LaunchRole::NoWindow);
  EXPECT_GE(msSince(start), 300);
  EXPECT_EQ(lock, nullptr);

  quick.retryWindow = 3000ms;
  std::thread dies([&] {
    std::this_thread::sleep_for(200ms);
    holder.reset();
  });
  EXPECT_EQ(ResolveLaunch(folder.path(), "/v/a.av", &lock, &error, quick), LaunchRole::Player);
  EXPECT_NE(lock, nullptr);
  dies.join();
}

enum ChildExit { kForwarded = 1, kNoWindow = 2, kError = 3, kPlayerBase = 100 };

// A launch in its own process: the player starts listening late, as a window
// does, and reports how many hand-overs it received.
[[noreturn]] void launchChild(const std::string& folder, int index, int launches, int startFd) {
  char go = 0;
  (void)!::read(startFd, &go, 1);  // every child leaves at the same moment
  std::unique_ptr<InstanceLock> lock;
  std::string error;
  const LaunchRole role =
      ResolveLaunch(folder, "/v/child-" + std::to_string(index) + ".av", &lock, &error);
  if (role != LaunchRole::Player) {
    ::_exit(role == LaunchRole::Forwarded ? kForwarded
                                          : role == LaunchRole::NoWindow ? kNoWindow : kError);
  }
  std::this_thread::sleep_for(300ms);
  std::atomic<int> received{0};
  auto server = HandOverServer::start(folder, [&](const std::string&) { ++received; }, &error);
  const auto giveUp = Clock::now() + 8s;
  while (server && received < launches - 1 && Clock::now() < giveUp) {
    std::this_thread::sleep_for(10ms);
  }
  server.reset();
  ::_exit(kPlayerBase + received);
}

TEST(LaunchTest, RacingLaunchesEndWithExactlyOnePlayer) {
  constexpr int kLaunches = 4;
  constexpr int kRounds = 3;
  for (int round = 0; round < kRounds; ++round) {
    TempFolder folder;
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < kLaunches; ++i) {
      const pid_t child = ::fork();
      if (child == 0) {
        ::close(start[1]);
        launchChild(folder.path(), i, kLaunches, start[0]);
      }
      children.push_back(child);
    }
    ::close(start[0]);
    ::close(start[1]);  // releases every child at once
    std::vector<int> exits;
    for (pid_t child : children) {
      int status = 0;
      ::waitpid(child, &status, 0);
      exits.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }
    int players = 0;
    int forwarded = 0;
    for (int code : exits) {
      players += code >= kPlayerBase;
      forwarded += code == kForwarded;
      if (code >= kPlayerBase) {
        EXPECT_EQ(code - kPlayerBase, kLaunches - 1) << "round " << round;
      }
    }
    EXPECT_EQ(players, 1) << "round " << round;
    EXPECT_EQ(forwarded, kLaunches - 1) << "round " << round;
  }
}

}  // namespace
