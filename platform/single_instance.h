// One player per user session. The first launch takes an advisory lock on a
// file in a private folder and, while its main window exists, listens on a
// Unix stream socket beside it. A later launch finds the lock held, hands its
// path to the running window over the socket, waits until the window has
// handled it, and exits.
//
// Hand-over protocol, one message per connection: a 4-byte little-endian
// length, then that many bytes of path (no NUL, at most kMaxHandOverPathBytes).
// Length 0 means "no file, just bring the window forward". After the receiver
// has handled the message the server replies with one byte, kHandOverAck.
// Anything malformed is closed without a reply.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include <sys/types.h>

namespace trevolo::platform {

inline constexpr const char* kLockFileName = "trevolo.lock";
inline constexpr const char* kSocketFileName = "trevolo.sock";
// A socket address holds 108 bytes including the terminating NUL.
inline constexpr std::size_t kMaxSocketPathBytes = 107;
// The longest path Linux accepts (PATH_MAX, NUL included).
inline constexpr std::uint32_t kMaxHandOverPathBytes = 4096;
inline constexpr std::uint8_t kHandOverAck = 1;
// How long the server waits for a whole message after accepting a client.
inline constexpr std::chrono::milliseconds kHandOverReadTimeout{2000};

// The folder for the lock and the socket: $XDG_RUNTIME_DIR when it is set,
// absolute, an existing directory owned by us and short enough for the socket
// path; otherwise /tmp/trevolo-<uid>, created 0700 and accepted only when it is
// a real directory (not a symlink) owned by us with mode 0700 exactly.
// Empty with *error set when no usable folder exists.
std::string InstanceFolder(std::string* error);

// InstanceFolder with its inputs passed in: `runtimeDir` stands for
// $XDG_RUNTIME_DIR (null when unset) and `tmpBase` for /tmp.
std::string ResolveInstanceFolder(const char* runtimeDir, const std::string& tmpBase,
                                  std::string* error);

// The advisory lock that marks the player. The kernel drops it when the
// process dies, so a crashed player never blocks the next launch.
class InstanceLock {
 public:
  // Takes the lock on `folder`/trevolo.lock without waiting. Returns the lock
  // when this process is the first instance; keep it for the process's life.
  // Null with *alreadyHeld = true when another open of the file holds it
  // (another process, or another acquire in this one). Null with *error set
  // on any other failure.
  static std::unique_ptr<InstanceLock> acquire(const std::string& folder, bool* alreadyHeld,
                                               std::string* error);
  ~InstanceLock();  // releases the lock

  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

 private:
  explicit InstanceLock(int fd) : m_fd(fd) {}
  int m_fd = -1;  // set once by acquire
};

// Receives hand-overs while the main window exists. Only the lock holder
// starts one, so whatever sits at the socket path when it starts is stale.
class HandOverServer {
 public:
  // Runs on the server's own thread, once per valid message, with the path
  // bytes exactly as sent ("" for a length-0 message). The client's reply
  // waits until it returns, so it should return once the window has taken the
  // path. It must not wait for a thread that is destroying this server.
  using Handler = std::function<void(const std::string& path)>;

  static std::unique_ptr<HandOverServer> start(const std::string& folder, Handler handler,
                                               std::string* error);
  // Stops the thread (after a handler call in progress returns) and removes
  // the socket file if it is still the one this server bound.
  ~HandOverServer();

  HandOverServer(const HandOverServer&) = delete;
  HandOverServer& operator=(const HandOverServer&) = delete;

  const std::string& socketPath() const { return m_socketPath; }

 private:
  HandOverServer() = default;
  void run();
  void serveClient(int client);
  bool readFully(int client, void* buffer, std::size_t size,
                 std::chrono::steady_clock::time_point deadline);

  // Set once by start, read by the server thread and the destructor.
  Handler m_handler;
  std::string m_socketPath;
  int m_listenFd = -1;
  int m_wakeRead = -1;   // becomes readable when the destructor wants the thread to stop
  int m_wakeWrite = -1;
  dev_t m_socketDev = 0;  // identity of the socket file this server bound
  ino_t m_socketIno = 0;
  bool m_boundSocket = false;
  std::thread m_thread;
};

enum class HandOverResult { Delivered, NoWindow, Error };

// Sends `path` to the running window and waits for its reply, all within
// `timeoutMs`. NoWindow when nobody listens (no socket, or a stale one);
// Error when the path cannot be sent (too long, embedded NUL), the peer is not
// ours, or the reply does not come.
HandOverResult SendHandOver(const std::string& folder, const std::string& path, int timeoutMs,
                            std::string* error);

enum class LaunchRole { Player, Forwarded, NoWindow, Error };

struct LaunchTiming {
  // A new player takes the lock before its window listens; a second launch
  // keeps retrying the lock and the connect for this long.
  std::chrono::milliseconds retryWindow{3000};
  std::chrono::milliseconds retryInterval{100};
  int handOverTimeoutMs = 10000;  // per hand-over attempt, reply included
};

// Decides what this launch does: Player when it takes the lock (returned in
// *lock); Forwarded when the running window took `pathToSend` (the caller
// passes "" to only bring the window forward); NoWindow when the lock stayed
// held by someone who never listened within the retry window; Error when the
// lock or the hand-over failed otherwise (*error says why).
LaunchRole ResolveLaunch(const std::string& folder, const std::string& pathToSend,
                         std::unique_ptr<InstanceLock>* lock, std::string* error,
                         const LaunchTiming& timing = LaunchTiming{});

}  // namespace trevolo::platform
