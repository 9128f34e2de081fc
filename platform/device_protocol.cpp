// The user-space driver's side of the device socket protocol.
#include "platform/device_protocol.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace qvr::platform {

namespace {

std::uint32_t LoadLe32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void StoreLe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

bool MakeSocketAddress(const std::string& path, sockaddr_un& address) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof(address.sun_path)) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// True when something accepts connections at `address`.
bool SomeoneServes(const sockaddr_un& address) {
  const int probe = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  const bool live = connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  close(probe);
  return live;
}

// Makes the listening socket, replacing only a stale socket. -1 on failure.
int Listen(const std::string& path) {
  sockaddr_un address;
  if (!MakeSocketAddress(path, address)) return -1;
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0) {
    if (!S_ISSOCK(info.st_mode) || SomeoneServes(address)) return -1;
    unlink(path.c_str());
  }
  const int listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listener < 0) return -1;
  if (bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(listener, 16) != 0) {
    close(listener);
    return -1;
  }
  return listener;
}

// Sends the reply, with the region's descriptor when the answer has one.
bool SendReply(int client, const DeviceReplyMessage& reply, int regionFd) {
  iovec part{const_cast<DeviceReplyMessage*>(&reply), sizeof(reply)};
  msghdr message{};
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
  if (regionFd >= 0) {
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &regionFd, sizeof(int));
  }
  return sendmsg(client, &message, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof(reply));
}

// Answers one message from `client`. False when the connection is to end.
bool ServeOneRequest(int client, const DeviceHandler& handler) {
  DeviceRequestMessage request{};
  const ssize_t got = recv(client, &request, sizeof(request), MSG_TRUNC | MSG_DONTWAIT);
  if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
  if (got != static_cast<ssize_t>(sizeof(request))) return false;  // closed, or not a request
  DeviceReplyMessage reply{};
  std::memcpy(reply.buffer, request.buffer, sizeof(reply.buffer));
  const DeviceAnswer answer = handler(request.code, reply.buffer);
  if (answer.regionFd >= 0) reply.regionSize = answer.regionSize;
  return SendReply(client, reply, answer.regionFd);
}

}  // namespace

std::uint64_t ReadRequestAddress(const std::uint8_t* buffer) {
  return static_cast<std::uint64_t>(LoadLe32(buffer + AddressHighOffset)) << 32 | LoadLe32(buffer + AddressLowOffset);
}

void WriteRequestAddress(std::uint8_t* buffer, std::uint64_t address) {
  StoreLe32(buffer + AddressLowOffset, static_cast<std::uint32_t>(address));
  StoreLe32(buffer + AddressHighOffset, static_cast<std::uint32_t>(address >> 32));
}

std::uint32_t ReadRegionSize(const std::uint8_t* buffer) { return LoadLe32(buffer + RegionSizeOffset); }

void WriteRegionSize(std::uint8_t* buffer, std::uint32_t size) { StoreLe32(buffer + RegionSizeOffset, size); }

bool ServeDevice(const std::string& path, const DeviceHandler& handler, const std::atomic<bool>& stop,
                 const std::function<void()>& ready) {
  const int listener = Listen(path);
  if (listener < 0) return false;
  if (ready) ready();

  std::vector<int> clients;
  while (!stop.load()) {
    std::vector<pollfd> watched{{listener, POLLIN, 0}};
    for (const int client : clients) watched.push_back({client, POLLIN, 0});
    if (poll(watched.data(), watched.size(), 100) <= 0) continue;

    std::vector<int> remaining;
    for (std::size_t i = 1; i < watched.size(); ++i) {
      const int client = watched[i].fd;
      const bool keep = watched[i].revents == 0 || ((watched[i].revents & POLLIN) != 0 && ServeOneRequest(client, handler));
      if (keep) {
        remaining.push_back(client);
      } else {
        close(client);
      }
    }
    clients = std::move(remaining);

    if ((watched[0].revents & POLLIN) != 0) {
      const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (client >= 0) clients.push_back(client);
    }
  }

  for (const int client : clients) close(client);
  close(listener);
  unlink(path.c_str());
  return true;
}

}  // namespace qvr::platform
