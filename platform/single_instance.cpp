#include "platform/single_instance.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace trevolo::platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr mode_t kPrivateFolderMode = 0700;
constexpr mode_t kPrivateFileMode = 0600;
constexpr int kListenBacklog = 16;
constexpr std::size_t kLengthBytes = 4;
constexpr const char* kServerThreadName = "handover";
constexpr std::chrono::milliseconds kBusyBacklogRetry{10};

static_assert(sizeof(sockaddr_un::sun_path) == kMaxSocketPathBytes + 1);

void setError(std::string* error, const std::string& what, int errnoValue = 0) {
  if (error == nullptr) {
    return;
  }
  *error = what;
  if (errnoValue != 0) {
    *error += ": ";
    *error += std::strerror(errnoValue);
  }
}

void closeFd(int& fd) {
  if (fd >= 0) {
    ::close(fd);
    fd = -1;
  }
}

std::string joinPath(const std::string& folder, const char* name) {
  return folder + "/" + name;
}

bool socketPathFits(const std::string& folder) {
  return joinPath(folder, kSocketFileName).size() <= kMaxSocketPathBytes;
}

// Milliseconds left until `deadline` for poll(), never negative.
int msLeft(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

bool usableRuntimeDir(const char* runtimeDir) {
  if (runtimeDir == nullptr || runtimeDir[0] != '/') {
    return false;
  }
  struct stat info {};
  return ::stat(runtimeDir, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
         socketPathFits(runtimeDir);
}

// Creates `folder` private to us if missing and accepts it only when nobody
// else could have planted or opened it: a real directory, ours, mode 0700.
bool makePrivateFolder(const std::string& folder, std::string* error) {
  if (::mkdir(folder.c_str(), kPrivateFolderMode) == 0) {
    // The umask may have taken owner bits away; the folder is ours, so fix it.
    ::chmod(folder.c_str(), kPrivateFolderMode);
  } else if (errno != EEXIST) {
    setError(error, "cannot create " + folder, errno);
    return false;
  }
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) {
    setError(error, "cannot inspect " + folder, errno);
    return false;
  }
  if (!S_ISDIR(info.st_mode)) {
    setError(error, folder + " is not a directory");
    return false;
  }
  if (info.st_uid != ::geteuid()) {
    setError(error, folder + " belongs to another user");
    return false;
  }
  if ((info.st_mode & 07777) != kPrivateFolderMode) {
    setError(error, folder + " is not private (mode must be 0700)");
    return false;
  }
  return true;
}

bool fillAddress(const std::string& folder, sockaddr_un* address, std::string* error) {
  const std::string path = joinPath(folder, kSocketFileName);
  if (path.size() > kMaxSocketPathBytes) {
    setError(error, "socket path too long: " + path);
    return false;
  }
  *address = sockaddr_un{};
  address->sun_family = AF_UNIX;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

bool peerIsUs(int fd) {
  ucred peer{};
  socklen_t size = sizeof(peer);
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && size == sizeof(peer) &&
         peer.uid == ::geteuid();
}

// Waits for `events` on `fd` until `deadline`; false on timeout or error.
bool waitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, msLeft(deadline));
    if (ready > 0) {
      return true;
    }
    if (ready == 0 || errno != EINTR) {
      return false;
    }
  }
}

}  // namespace

std::string ResolveInstanceFolder(const char* runtimeDir, const std::string& tmpBase,
                                  std::string* error) {
  if (usableRuntimeDir(runtimeDir)) {
    return runtimeDir;
  }
  const std::string folder = tmpBase + "/trevolo-" + std::to_string(::geteuid());
  if (!socketPathFits(folder)) {
    setError(error, "instance folder path too long: " + folder);
    return {};
  }
  if (!makePrivateFolder(folder, error)) {
    return {};
  }
  return folder;
}

std::string InstanceFolder(std::string* error) {
  return ResolveInstanceFolder(std::getenv("XDG_RUNTIME_DIR"), "/tmp", error);
}

// ---------------------------------------------------------------------------

std::unique_ptr<InstanceLock> InstanceLock::acquire(const std::string& folder, bool* alreadyHeld,
                                                    std::string* error) {
  if (alreadyHeld != nullptr) {
    *alreadyHeld = false;
  }
  if (folder.empty()) {
    setError(error, "no instance folder");
    return nullptr;
  }
  const std::string path = joinPath(folder, kLockFileName);
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kPrivateFileMode);
  if (fd < 0) {
    setError(error, "cannot open " + path, errno);
    return nullptr;
  }
  int result = 0;
  do {
    result = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    const int failure = errno;
    ::close(fd);
    if (failure == EWOULDBLOCK) {
      if (alreadyHeld != nullptr) {
        *alreadyHeld = true;
      }
    } else {
      setError(error, "cannot lock " + path, failure);
    }
    return nullptr;
  }
  return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
}

InstanceLock::~InstanceLock() { closeFd(m_fd); }

// ---------------------------------------------------------------------------

// A failed start unwinds through the destructor, which copes with any step left undone.
std::unique_ptr<HandOverServer> HandOverServer::start(const std::string& folder, Handler handler,
                                                      std::string* error) {
  if (!handler) {
    setError(error, "no hand-over handler");
    return nullptr;
  }
  sockaddr_un address{};
  if (!fillAddress(folder, &address, error)) {
    return nullptr;
  }
  std::unique_ptr<HandOverServer> server(new HandOverServer());
  server->m_handler = std::move(handler);
  server->m_socketPath = address.sun_path;
  const char* path = address.sun_path;

  // Anything at the path is left over from a player that died.
  if (::unlink(path) != 0 && errno != ENOENT) {
    setError(error, std::string("cannot remove stale ") + path, errno);
    return nullptr;
  }
  server->m_listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (server->m_listenFd < 0) {
    setError(error, "cannot create socket", errno);
    return nullptr;
  }
  if (::bind(server->m_listenFd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) !=
      0) {
    setError(error, std::string("cannot bind ") + path, errno);
    return nullptr;
  }
  // Record the file we bound, so the teardown removes it and nothing else.
  struct stat info {};
  if (::stat(path, &info) != 0) {
    setError(error, std::string("cannot inspect ") + path, errno);
    return nullptr;
  }
  server->m_socketDev = info.st_dev;
  server->m_socketIno = info.st_ino;
  server->m_boundSocket = true;
  // Nobody can connect before listen(), so narrowing the mode here leaves no gap.
  if (::chmod(path, kPrivateFileMode) != 0) {
    setError(error, std::string("cannot restrict ") + path, errno);
    return nullptr;
  }
  int wake[2] = {-1, -1};
  if (::listen(server->m_listenFd, kListenBacklog) != 0 || ::pipe2(wake, O_CLOEXEC) != 0) {
    setError(error, std::string("cannot listen on ") + path, errno);
    return nullptr;
  }
  server->m_wakeRead = wake[0];
  server->m_wakeWrite = wake[1];
  server->m_thread = std::thread([raw = server.get()] { raw->run(); });
  return server;
}

HandOverServer::~HandOverServer() {
  if (m_thread.joinable()) {
    const char stop = 1;
    while (::write(m_wakeWrite, &stop, 1) < 0 && errno == EINTR) {
    }
    m_thread.join();
  }
  // Remove the socket only if it is still ours, never a successor's.
  struct stat info {};
  if (m_boundSocket && ::stat(m_socketPath.c_str(), &info) == 0 &&
      info.st_dev == m_socketDev && info.st_ino == m_socketIno) {
    ::unlink(m_socketPath.c_str());
  }
  closeFd(m_listenFd);
  closeFd(m_wakeRead);
  closeFd(m_wakeWrite);
}

void HandOverServer::run() {
  ::pthread_setname_np(::pthread_self(), kServerThreadName);
  for (;;) {
    pollfd entries[2] = {{m_listenFd, POLLIN, 0}, {m_wakeRead, POLLIN, 0}};
    const int ready = ::poll(entries, 2, -1);  // idle costs nothing: no periodic wake-ups
    if (ready < 0) {
      if (errno == EINTR) {
        continue;
      }
      return;
    }
    if (entries[1].revents != 0) {
      return;
    }
    if ((entries[0].revents & POLLIN) == 0) {
      continue;
    }
    const int client = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      continue;  // the client gave up, or a transient shortage of descriptors
    }
    serveClient(client);
    ::close(client);
  }
}

// Reads exactly `size` bytes before `deadline`. Gives up on end of stream, on
// an error, on timeout, and when the destructor asks the thread to stop.
bool HandOverServer::readFully(int client, void* buffer, std::size_t size,
                               Clock::time_point deadline) {
  auto* bytes = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    pollfd entries[2] = {{client, POLLIN, 0}, {m_wakeRead, POLLIN, 0}};
    const int ready = ::poll(entries, 2, msLeft(deadline));
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready <= 0 || entries[1].revents != 0) {
      return false;
    }
    const ssize_t got = ::recv(client, bytes + done, size - done, MSG_DONTWAIT);
    if (got > 0) {
      done += static_cast<std::size_t>(got);
    } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
      return false;
    }
  }
  return true;
}

void HandOverServer::serveClient(int client) {
  if (!peerIsUs(client)) {
    return;
  }
  const auto deadline = Clock::now() + kHandOverReadTimeout;
  unsigned char header[kLengthBytes] = {};
  if (!readFully(client, header, sizeof(header), deadline)) {
    return;
  }
  const std::uint32_t length = std::uint32_t{header[0]} | (std::uint32_t{header[1]} << 8) |
                               (std::uint32_t{header[2]} << 16) | (std::uint32_t{header[3]} << 24);
  if (length > kMaxHandOverPathBytes) {
    return;
  }
  std::string path(length, '\0');
  if (!readFully(client, path.data(), length, deadline)) {
    return;
  }
  if (path.find('\0') != std::string::npos) {
    return;
  }
  try {
    m_handler(path);
  } catch (...) {
    return;  // not handled: the client sees no reply
  }
  const char ack = static_cast<char>(kHandOverAck);
  while (::send(client, &ack, 1, MSG_NOSIGNAL | MSG_DONTWAIT) < 0 && errno == EINTR) {
  }
}

// ---------------------------------------------------------------------------

namespace {

// Connects without blocking past `deadline`. Refused or missing socket → NoWindow.
HandOverResult connectTo(int fd, const sockaddr_un& address, Clock::time_point deadline,
                         std::string* error) {
  for (;;) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
      return HandOverResult::Delivered;  // connected; the caller goes on
    }
    const int failure = errno;
    if (failure == ENOENT || failure == ECONNREFUSED) {
      return HandOverResult::NoWindow;
    }
    if (failure == EINTR) {
      continue;
    }
    // A full backlog makes a non-blocking Unix connect fail with EAGAIN.
    if (failure == EAGAIN && Clock::now() < deadline) {
      std::this_thread::sleep_for(kBusyBacklogRetry);
      continue;
    }
    setError(error, std::string("cannot connect to ") + address.sun_path, failure);
    return HandOverResult::Error;
  }
}

bool sendAll(int fd, const std::string& message, Clock::time_point deadline) {
  std::size_t done = 0;
  while (done < message.size()) {
    const ssize_t sent =
        ::send(fd, message.data() + done, message.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      done += static_cast<std::size_t>(sent);
    } else if (sent < 0 && errno == EAGAIN) {
      if (!waitFor(fd, POLLOUT, deadline)) {
        return false;
      }
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

std::string encodeMessage(const std::string& path) {
  const auto length = static_cast<std::uint32_t>(path.size());
  std::string message;
  message.reserve(kLengthBytes + path.size());
  for (std::size_t i = 0; i < kLengthBytes; ++i) {
    message.push_back(static_cast<char>((length >> (8 * i)) & 0xFF));
  }
  message += path;
  return message;
}

}  // namespace

HandOverResult SendHandOver(const std::string& folder, const std::string& path, int timeoutMs,
                            std::string* error) {
  if (path.size() > kMaxHandOverPathBytes) {
    setError(error, "path too long to hand over");
    return HandOverResult::Error;
  }
  if (path.find('\0') != std::string::npos) {
    setError(error, "path holds a NUL byte");
    return HandOverResult::Error;
  }
  sockaddr_un address{};
  if (!fillAddress(folder, &address, error)) {
    return HandOverResult::Error;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    setError(error, "cannot create socket", errno);
    return HandOverResult::Error;
  }
  HandOverResult result = connectTo(fd, address, deadline, error);
  if (result == HandOverResult::Delivered) {
    result = HandOverResult::Error;
    unsigned char reply = 0;
    if (!peerIsUs(fd)) {
      setError(error, "the hand-over socket belongs to another user");
    } else if (!sendAll(fd, encodeMessage(path), deadline)) {
      setError(error, "the running player did not take the path");
    } else if (!waitFor(fd, POLLIN, deadline) || ::recv(fd, &reply, 1, MSG_DONTWAIT) != 1 ||
               reply != kHandOverAck) {
      setError(error, "the running player did not confirm the hand-over");
    } else {
      result = HandOverResult::Delivered;
    }
  }
  ::close(fd);
  return result;
}

LaunchRole ResolveLaunch(const std::string& folder, const std::string& pathToSend,
                         std::unique_ptr<InstanceLock>* lock, std::string* error,
                         const LaunchTiming& timing) {
  if (lock == nullptr) {
    setError(error, "no place for the lock");
    return LaunchRole::Error;
  }
  const auto giveUp = Clock::now() + timing.retryWindow;
  for (;;) {
    // Retry the lock too, not only the connect: the holder may have died.
    bool held = false;
    *lock = InstanceLock::acquire(folder, &held, error);
    if (*lock) {
      return LaunchRole::Player;
    }
    if (!held) {
      return LaunchRole::Error;
    }
    switch (SendHandOver(folder, pathToSend, timing.handOverTimeoutMs, error)) {
      case HandOverResult::Delivered:
        return LaunchRole::Forwarded;
      case HandOverResult::Error:
        return LaunchRole::Error;
      case HandOverResult::NoWindow:
        break;  // the holder has not started listening yet, or never will
    }
    if (Clock::now() >= giveUp) {
      setError(error, "the running player has no window to hand over to");
      return LaunchRole::NoWindow;
    }
    std::this_thread::sleep_for(timing.retryInterval);
  }
}

}  // namespace trevolo::platform
