// Drives a running tarnock with many short connections on several ports at
// once and then checks what it left behind: every byte in its port's files,
// in order; the program's open descriptors back to where they started; its
// resident memory flat once warmed up.
//
//   soak_driver <pid> <connections> <capture root> <port>...
//
// The program's settings give port i the folder <capture root>/<port> and a
// name pattern of seconds, appending. One worker per port sends its
// connections one after the other and waits for the program to close each
// before the next, so a port's files, read in name order, hold that port's
// payloads in sending order. Every 40th connection is reset at once instead
// of sending. All traffic stays on 127.0.0.1, and every wait has a deadline.
// Exit status 0 when every check passed, 1 otherwise.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kWaitMs = 30000;
constexpr std::size_t kSizes[] = {0, 1, 17, 100, 1023, 1024, 1025, 3000, 5000, 20000};

struct TDigest {
  uint64_t hash = 1469598103934665603ull;
  uint64_t length = 0;
  void Add(const char* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
      hash ^= static_cast<unsigned char>(data[i]);
      hash *= 1099511628211ull;
    }
    length += size;
  }
};

std::string Payload(uint64_t connection, std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>((connection * 131 + i * 7 + i / 253) & 0xFF);
  return bytes;
}

std::size_t SizeOf(uint64_t connection) {
  if (connection % 997 == 0) return 256 * 1024;
  return kSizes[connection % (sizeof kSizes / sizeof kSizes[0])];
}

int Connect(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    done += static_cast<std::size_t>(sent);
  }
  return true;
}

// Waits for the program's end of the connection: it closes only after
// storing everything the peer sent.
bool AwaitClose(int fd) {
  pollfd entry{fd, POLLIN, 0};
  char byte;
  for (;;) {
    if (::poll(&entry, 1, kWaitMs) <= 0) return false;
    const ssize_t got = ::recv(fd, &byte, 1, 0);
    if (got <= 0) return true;
  }
}

void Reset(int fd) {
  linger option{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
  ::close(fd);
}

struct TWorker {
  uint16_t port = 0;
  uint64_t first = 0, count = 0;
  TDigest sent;
  std::string failure;
};

std::atomic<uint64_t> gDone{0};

void Run(TWorker& worker) {
  for (uint64_t n = 0; n < worker.count; ++n) {
    const uint64_t connection = worker.first + n;
    const int fd = Connect(worker.port);
    if (fd < 0) {
      worker.failure = "connect failed at connection " + std::to_string(connection);
      return;
    }
    if (connection % 40 == 0) {
      Reset(fd);
    } else {
      const std::string bytes = Payload(connection, SizeOf(connection));
      const bool ok = SendAll(fd, bytes) && ::shutdown(fd, SHUT_WR) == 0 && AwaitClose(fd);
      ::close(fd);
      if (!ok) {
        worker.failure = "connection " + std::to_string(connection) + " was not closed in time";
        return;
      }
      worker.sent.Add(bytes.data(), bytes.size());
    }
    ++gDone;
  }
}

int DescriptorCount(int pid) {
  int count = 0;
  if (DIR* folder = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
    while (dirent* entry = ::readdir(folder)) count += entry->d_name[0] != '.';
    ::closedir(folder);
  }
  return count;
}

long ResidentKiB(int pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

// The port's files in name order, as one stream.
TDigest StoredDigest(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* directory = ::opendir(folder.c_str())) {
    while (dirent* entry = ::readdir(directory))
      if (entry->d_name[0] != '.') names.push_back(entry->d_name);
    ::closedir(directory);
  }
  std::sort(names.begin(), names.end());
  TDigest digest;
  std::vector<char> buffer(1 << 16);
  for (const std::string& name : names) {
    std::ifstream in(folder + "/" + name, std::ios::binary);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0)
      digest.Add(buffer.data(), static_cast<std::size_t>(in.gcount()));
  }
  return digest;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s <pid> <connections> <capture root> <port>...\n", argv[0]);
    return 2;
  }
  const int pid = std::atoi(argv[1]);
  const uint64_t total = std::strtoull(argv[2], nullptr, 10);
  if (pid <= 0 || ResidentKiB(pid) < 0 || total == 0) {
    std::fprintf(stderr, "no such process %s, or no connections\n", argv[1]);
    return 2;
  }
  const std::string root = argv[3];
  std::vector<TWorker> workers(static_cast<std::size_t>(argc - 4));
  for (std::size_t i = 0; i < workers.size(); ++i) {
    workers[i].port = static_cast<uint16_t>(std::atoi(argv[4 + i]));
    workers[i].count = total / workers.size() + (i < total % workers.size() ? 1 : 0);
    workers[i].first = i == 0 ? 0 : workers[i - 1].first + workers[i - 1].count;
  }
  // One connection per port first, so that the baseline is taken with the
  // program up and its event loop running; a reset stores nothing.
  for (const TWorker& worker : workers) {
    const int fd = Connect(worker.port);
    if (fd < 0) {
      std::printf("FAIL port %u does not answer\n", worker.port);
      return 1;
    }
    ::shutdown(fd, SHUT_WR);
    AwaitClose(fd);
    ::close(fd);
  }
  const int descriptorsAtStart = DescriptorCount(pid);
  const auto started = std::chrono::steady_clock::now();

  std::vector<std::thread> threads;
  for (TWorker& worker : workers) threads.emplace_back(Run, std::ref(worker));
  // Resident memory once a tenth of the connections have warmed it up.
  // Halfway too: a leak grows as much in the second half as in the first.
  long warmKiB = -1, halfwayKiB = -1, peakKiB = 0;
  while (gDone < total) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const long now = ResidentKiB(pid);
    if (warmKiB < 0 && gDone >= total / 10) warmKiB = now;
    if (halfwayKiB < 0 && gDone >= total / 2) halfwayKiB = now;
    if (warmKiB >= 0) peakKiB = std::max(peakKiB, now);
    // A failed worker stops early; the others finish their share.
    if (std::any_of(workers.begin(), workers.end(),
                    [](const TWorker& w) { return !w.failure.empty(); }))
      break;
  }
  for (std::thread& thread : threads) thread.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  bool passed = true;
  for (const TWorker& worker : workers) {
    if (!worker.failure.empty()) {
      std::printf("FAIL port %u: %s\n", worker.port, worker.failure.c_str());
      passed = false;
      continue;
    }
    const TDigest stored = StoredDigest(root + "/" + std::to_string(worker.port));
    const bool same = stored.hash == worker.sent.hash && stored.length == worker.sent.length;
    std::printf("port %u: %llu bytes sent, %llu stored%s\n", worker.port,
                static_cast<unsigned long long>(worker.sent.length),
                static_cast<unsigned long long>(stored.length), same ? "" : " MISMATCH");
    passed = passed && same;
  }
  // The last closes may still be on their way out.
  int descriptorsAtEnd = DescriptorCount(pid);
  for (int i = 0; i < 100 && descriptorsAtEnd > descriptorsAtStart; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    descriptorsAtEnd = DescriptorCount(pid);
  }
  const long endKiB = ResidentKiB(pid);
  std::printf("connections=%llu seconds=%.1f rate=%.0f/s\n",
              static_cast<unsigned long long>(gDone.load()), seconds, gDone / seconds);
  std::printf("descriptors start=%d end=%d\n", descriptorsAtStart, descriptorsAtEnd);
  std::printf("resident KiB warm=%ld halfway=%ld peak=%ld end=%ld\n", warmKiB, halfwayKiB, peakKiB,
              endKiB);
  if (descriptorsAtEnd > descriptorsAtStart) {
    std::printf("FAIL descriptors not given back\n");
    passed = false;
  }
  // Flat: no more than 16 MiB above the warmed-up size, whatever the count.
  if (warmKiB > 0 && endKiB > warmKiB + 16 * 1024) {
    std::printf("FAIL resident memory grew\n");
    passed = false;
  }
  std::printf("%s\n", passed ? "PASS" : "FAIL");
  return passed ? 0 : 1;
}
