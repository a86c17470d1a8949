// The hand-over socket of the single-instance server, as a peer of the same
// user can reach it: the input is sent whole over a real connection to a
// running server, the writing side is closed, and the reply is read. The
// server must hand exactly the path of a well-formed message (4-byte
// little-endian length, that many bytes without NUL, anything after it
// ignored) to its handler and reply, and must close anything else without
// a reply and without calling the handler.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "fuzz/fuzz_util.h"
#include "platform/single_instance.h"

using namespace trevolo::platform;

namespace {

constexpr int kReplyTimeoutMs = 5000;

std::mutex g_lock;
int g_calls = 0;
std::string g_lastPath;

// One server for the whole run, in a private folder removed at exit.
struct Fixture {
  std::string folder;
  std::unique_ptr<HandOverServer> server;

  Fixture() {
    char pattern[] = "/tmp/trevolo-fuzz-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) trevolo::fuzz::Fail("mkdtemp");
    folder = pattern;
    std::string error;
    server = HandOverServer::start(
        folder,
        [](const std::string& path) {
          std::lock_guard<std::mutex> g(g_lock);
          ++g_calls;
          g_lastPath = path;
        },
        &error);
    if (!server) trevolo::fuzz::Fail(error.c_str());
  }
  ~Fixture() {
    server.reset();  // stops its thread and removes the socket
    ::rmdir(folder.c_str());
  }
};

HandOverServer& Server() {
  static Fixture fixture;
  return *fixture.server;
}

// The path a well-formed message carries, or false for a malformed one.
bool ExpectedPath(const uint8_t* data, size_t size, std::string* path) {
  if (size < 4) return false;
  const uint32_t length = uint32_t{data[0]} | (uint32_t{data[1]} << 8) | (uint32_t{data[2]} << 16) |
                          (uint32_t{data[3]} << 24);
  if (length > kMaxHandOverPathBytes || size - 4 < length) return false;
  path->assign(reinterpret_cast<const char*>(data + 4), length);
  return path->find('\0') == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  HandOverServer& server = Server();
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  FUZZ_CHECK(fd >= 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, server.socketPath().c_str(), sizeof(address.sun_path) - 1);
  FUZZ_CHECK(::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0);
  int callsBefore;
  {
    std::lock_guard<std::mutex> g(g_lock);
    callsBefore = g_calls;
  }
  // The server may close early (a bad length); what it did not read is lost.
  for (size_t done = 0; done < size;) {
    const ssize_t n = ::send(fd, data + done, size - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::shutdown(fd, SHUT_WR);
  uint8_t reply[2] = {};
  size_t got = 0;
  for (;;) {
    // libFuzzer's timeout alarm interrupts system calls now and then.
    pollfd entry{fd, POLLIN, 0};
    const int ready = ::poll(&entry, 1, kReplyTimeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    FUZZ_CHECK(ready == 1);
    const ssize_t n = ::recv(fd, reply + got, sizeof reply - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
    FUZZ_CHECK(got <= 1);
  }
  ::close(fd);

  std::string expected;
  std::lock_guard<std::mutex> g(g_lock);
  if (ExpectedPath(data, size, &expected)) {
    FUZZ_CHECK(got == 1 && reply[0] == kHandOverAck);
    FUZZ_CHECK(g_calls == callsBefore + 1);
    FUZZ_CHECK(g_lastPath == expected);
  } else {
    FUZZ_CHECK(got == 0);
    FUZZ_CHECK(g_calls == callsBefore);
  }
  return 0;
}
